#include "common/source_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "archiver_api.h"
#include "common/failure.h"
#include "common/safe_path.h"

namespace zembrat::common {

namespace {

ssize_t PreadRetrying(int fd, std::span<std::byte> buffer, std::uint64_t offset) {
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

}  // namespace

SourceFile::SourceFile(const std::string& path, bool followLink) : path_(path) {
    // Opened without blocking, then checked: a file swapped for a FIFO or a device after the
    // listing is never read.
    file_ = UniqueFd(
        open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW)));
    if (!file_.Valid() || fstat(file_.Get(), &before_) != 0) {
        throw Failure(ARC_ERROR_CANNOT_READ,
                      "cannot open " + EscapeControlCharacters(path) + ": " + std::strerror(errno));
    }
    if (!S_ISREG(before_.st_mode)) {
        throw Failure(ARC_ERROR_NOT_REGULAR,
                      EscapeControlCharacters(path) + " is not a regular file or folder; refused");
    }
    fcntl(file_.Get(), F_SETFL, fcntl(file_.Get(), F_GETFL) & ~O_NONBLOCK);
    if (!SizeIsMadeUp(file_.Get(), before_)) {
        size_ = static_cast<std::uint64_t>(before_.st_size);
        return;
    }
    // Copied whole into an unnamed temporary file; its size is what was read.
    std::unique_ptr<FILE, int (*)(FILE*)> temporary(std::tmpfile(), &std::fclose);
    copy_ = UniqueFd(temporary ? dup(fileno(temporary.get())) : -1);
    if (!copy_.Valid()) {
        throw Failure(ARC_ERROR_CANNOT_WRITE, "cannot create a temporary file for " +
                                                  EscapeControlCharacters(path) + ": " +
                                                  std::strerror(errno));
    }
    std::array<std::byte, 64 * 1024> buffer{};
    for (;;) {
        const ssize_t got = PreadRetrying(file_.Get(), buffer, size_);
        if (got < 0) {
            ThrowReadFailed();
        }
        if (got == 0) {
            return;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t written =
                pwrite(copy_.Get(), buffer.data() + done, static_cast<std::size_t>(got - done),
                       static_cast<off_t>(size_ + static_cast<std::uint64_t>(done)));
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                throw Failure(ARC_ERROR_CANNOT_WRITE, "cannot write a temporary file for " +
                                                          EscapeControlCharacters(path) + ": " +
                                                          std::strerror(errno));
            }
            done += written;
        }
        size_ += static_cast<std::uint64_t>(got);
    }
}

void SourceFile::ThrowChanged() const {
    throw Failure(ARC_ERROR_CANNOT_READ,
                  EscapeControlCharacters(path_) + ": file changed while it was being read");
}

void SourceFile::ThrowReadFailed() const {
    throw Failure(ARC_ERROR_CANNOT_READ,
                  EscapeControlCharacters(path_) + ": read failed: " + std::strerror(errno));
}

std::size_t SourceFile::ReadAt(std::span<std::byte> buffer, std::uint64_t offset) const {
    const std::uint64_t left = size_ - std::min(offset, size_);
    if (left == 0 || buffer.empty()) {
        return 0;
    }
    if (buffer.size() > left) {
        buffer = buffer.first(static_cast<std::size_t>(left));
    }
    const int fd = copy_.Valid() ? copy_.Get() : file_.Get();
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got = PreadRetrying(fd, buffer.subspan(done), offset + done);
        if (got < 0) {
            ThrowReadFailed();
        }
        if (got == 0) {
            ThrowChanged();  // shorter than when it was opened
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

std::size_t SourceFile::Read(std::span<std::byte> buffer) {
    const std::size_t got = ReadAt(buffer, position_);
    position_ += got;
    return got;
}

void SourceFile::RequireUnchanged() const {
    if (!copy_.Valid()) {
        std::byte extra{};
        const ssize_t got = PreadRetrying(file_.Get(), std::span(&extra, 1), size_);
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

}  // namespace zembrat::common
