#include "common/archive_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "archiver_api.h"
#include "common/failure.h"

namespace zembrat::common {

namespace {

[[noreturn]] void ThrowWriteFailed(int error) {
    throw Failure(ARC_ERROR_CANNOT_WRITE,
                  std::string("cannot write the archive: ") + std::strerror(error));
}

}  // namespace

ArchiveOutput::ArchiveOutput(std::string finalPath)
    : finalPath_(std::move(finalPath)), temporary_(FolderOf(finalPath_)) {
    if (!temporary_.Valid()) {
        throw Failure(ARC_ERROR_CANNOT_WRITE, "cannot create the archive in " +
                                                  EscapeControlCharacters(FolderOf(finalPath_)) +
                                                  ": " + std::strerror(errno));
    }
}

void ArchiveOutput::Write(std::span<const std::byte> data) {
    while (!data.empty()) {
        const ssize_t wrote = ::write(temporary_.Fd(), data.data(), data.size());
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            ThrowWriteFailed(wrote < 0 ? errno : ENOSPC);
        }
        data = data.subspan(static_cast<std::size_t>(wrote));
    }
}

void ArchiveOutput::WriteAt(std::span<const std::byte> data, std::uint64_t offset) {
    while (!data.empty()) {
        const ssize_t wrote =
            pwrite(temporary_.Fd(), data.data(), data.size(), static_cast<off_t>(offset));
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            ThrowWriteFailed(wrote < 0 ? errno : ENOSPC);
        }
        offset += static_cast<std::uint64_t>(wrote);
        data = data.subspan(static_cast<std::size_t>(wrote));
    }
}

void ArchiveOutput::AppendRange(int in, std::uint64_t from, std::uint64_t to) {
    std::vector<std::byte> buffer(1 << 16);
    while (from < to) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), to - from));
        const ssize_t got = pread(in, buffer.data(), want, static_cast<off_t>(from));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            throw Failure(ARC_ERROR_CANNOT_READ,
                          std::string("cannot read while copying: ") +
                              (got < 0 ? std::strerror(errno) : "the file ends early"));
        }
        Write(std::span<const std::byte>(buffer.data(), static_cast<std::size_t>(got)));
        from += static_cast<std::uint64_t>(got);
    }
}

void ArchiveOutput::Commit(mode_t mode) {
    if (fchmod(temporary_.Fd(), mode) != 0 || fsync(temporary_.Fd()) != 0) {
        const int error = errno;
        temporary_.Discard();
        ThrowWriteFailed(error);
    }
    std::string reason;
    if (!temporary_.Commit(finalPath_, reason)) {
        throw Failure(ARC_ERROR_CANNOT_WRITE, "cannot write the archive: " + reason);
    }
}

mode_t ArchiveOutput::ModeFor(const std::string& path, bool executable) {
    struct stat old {};
    if (stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        return old.st_mode & 0777;
    }
    return (executable ? 0777 : 0666) & ~ProcessUmask();
}

}  // namespace zembrat::common
