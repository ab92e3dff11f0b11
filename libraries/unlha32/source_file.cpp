#include "unlha32/source_file.h"

#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "lha/archive.h"

namespace zembrat::unlha32 {

namespace {

constexpr const char* kChanged = "file changed while it was being read";

[[noreturn]] void ThrowChanged() {
    throw lha::Error(lha::ErrorKind::kIo, kChanged);
}

[[noreturn]] void ThrowReadFailed() {
    throw lha::Error(lha::ErrorKind::kIo, std::string("read failed: ") + std::strerror(errno));
}

ssize_t ReadAt(int fd, std::span<std::byte> buffer, std::uint64_t offset) {
    for (;;) {
        const ssize_t got = pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

// File systems whose files are made up when read: stat gives 0 or a page, whatever they hold.
bool SizeIsMadeUp(int fd, const struct stat& info) {
    if (info.st_size == 0) {
        return true;
    }
    struct statfs system {};
    if (fstatfs(fd, &system) != 0) {
        return false;
    }
    switch (static_cast<unsigned long>(system.f_type)) {
        case PROC_SUPER_MAGIC:
        case SYSFS_MAGIC:
        case DEBUGFS_MAGIC:
        case TRACEFS_MAGIC:
        case SECURITYFS_MAGIC:
        case CGROUP_SUPER_MAGIC:
        case CGROUP2_SUPER_MAGIC:
            return true;
        default:
            return false;
    }
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Copies the whole file into an unnamed temporary file; its size is what was read.
UniqueFd CopyToTheEnd(int from, std::uint64_t& size) {
    std::unique_ptr<FILE, int (*)(FILE*)> temporary(std::tmpfile(), &std::fclose);
    UniqueFd copy(temporary ? dup(fileno(temporary.get())) : -1);
    if (!copy.Valid()) {
        throw lha::Error(lha::ErrorKind::kCannotWrite, "cannot create a temporary file");
    }
    std::array<std::byte, 64 * 1024> buffer{};
    size = 0;
    for (;;) {
        const ssize_t got = ReadAt(from, buffer, size);
        if (got < 0) {
            ThrowReadFailed();
        }
        if (got == 0) {
            return copy;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t written =
                pwrite(copy.Get(), buffer.data() + done, static_cast<std::size_t>(got - done),
                       static_cast<off_t>(size + static_cast<std::uint64_t>(done)));
            if (written < 0 && errno != EINTR) {
                throw lha::Error(
                    lha::ErrorKind::kCannotWrite,
                    std::string("cannot write a temporary file: ") + std::strerror(errno));
            }
            done += written > 0 ? written : 0;
        }
        size += static_cast<std::uint64_t>(got);
    }
}

}  // namespace

std::size_t SourceFile::FixedInput::Read(std::span<std::byte> buffer) {
    const std::uint64_t left = size_ - std::min(position_, size_);
    if (left == 0) {
        return 0;
    }
    if (buffer.size() > left) {
        buffer = buffer.first(static_cast<std::size_t>(left));
    }
    const ssize_t got = ReadAt(fd_, buffer, position_);
    if (got < 0) {
        ThrowReadFailed();
    }
    if (got == 0) {
        ThrowChanged();  // shorter than when it was opened
    }
    position_ += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got);
}

SourceFile::SourceFile(UniqueFd file) : file_(std::move(file)) {
    if (fstat(file_.Get(), &before_) != 0) {
        ThrowReadFailed();
    }
    if (SizeIsMadeUp(file_.Get(), before_)) {
        std::uint64_t size = 0;
        copy_ = CopyToTheEnd(file_.Get(), size);
        input_.Reset(copy_.Get(), size);
    } else {
        input_.Reset(file_.Get(), static_cast<std::uint64_t>(before_.st_size));
    }
}

void SourceFile::RequireUnchanged() const {
    if (!copy_.Valid()) {
        std::byte extra{};
        const ssize_t got = ReadAt(file_.Get(), std::span(&extra, 1), Size());
        if (got < 0) {
            ThrowReadFailed();
        }
        if (got > 0) {
            ThrowChanged();  // it grew
        }
    }
    struct stat after {};
    if (fstat(file_.Get(), &after) != 0) {
        ThrowReadFailed();
    }
    if (after.st_size != before_.st_size || !SameTime(after.st_mtim, before_.st_mtim) ||
        !SameTime(after.st_ctim, before_.st_ctim)) {
        ThrowChanged();
    }
}

}  // namespace zembrat::unlha32
