#include "common/member_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "archiver_api.h"
#include "common/failure.h"
#include "common/folder_times.h"
#include "common/safe_path.h"

namespace zembrat::common {

namespace {

[[noreturn]] void ThrowCannotWrite(const std::string& what, int error) {
    throw Failure(ARC_ERROR_CANNOT_WRITE, what + ": " + std::strerror(error));
}

// rename without replacing: false with errno EEXIST when something has the name. Where the
// file system cannot rename that way, a hard link (which never replaces) does the same.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return false;
    }
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    // Neither (a file system without hard links): the best that can be done is to look first.
    if (PathExists(to)) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

Placement PlaceFile(const std::string& from, const std::string& to, bool replace) {
    if (RenameNoReplace(from, to)) {
        return Placement::kNew;
    }
    const int error = errno;
    if (error == EEXIST && !replace) {
        unlink(from.c_str());
        return Placement::kKept;
    }
    if (error == EEXIST && std::rename(from.c_str(), to.c_str()) == 0) {
        return Placement::kReplaced;
    }
    const int failure = error == EEXIST ? errno : error;
    unlink(from.c_str());
    ThrowCannotWrite("cannot rename to " + EscapeControlCharacters(to), failure);
}

MemberFile::MemberFile(std::string path, bool replace)
    : path_(std::move(path)), replace_(replace), staged_(FolderOf(path_)), writer_(staged_.Fd()) {
    if (!staged_.Valid()) {
        ThrowCannotWrite("cannot create a file", errno);
    }
}

void MemberFile::Write(std::span<const std::byte> data) {
    try {
        writer_.Write(data);
    } catch (const std::system_error& error) {
        ThrowCannotWrite("cannot write", error.code().value());
    }
}

void MemberFile::Hole(std::uint64_t size) {
    writer_.Hole(size);
}

Placement MemberFile::Place(unsigned mode, std::optional<std::int64_t> writeTimeNanoseconds) {
    try {
        writer_.Finish();
    } catch (const std::system_error& error) {
        ThrowCannotWrite("cannot write", error.code().value());
    }
    const int fd = staged_.Fd();
    fchmod(fd, mode & 0777);
    if (writeTimeNanoseconds) {
        const timespec times[2] = {ToTimespec(*writeTimeNanoseconds),
                                   ToTimespec(*writeTimeNanoseconds)};
        futimens(fd, times);
    }
    if (replace_ && PathExists(path_) && fdatasync(fd) != 0) {
        ThrowCannotWrite("cannot write", errno);
    }
    // The staging file is closed (write-back errors reported) and moved aside under its own
    // name; placing it is this writer's business.
    std::string reason;
    const std::string staging = staged_.Path();
    if (!staged_.Close(reason)) {
        throw Failure(ARC_ERROR_CANNOT_WRITE, reason);
    }
    return PlaceFile(staging, path_, replace_);
}

}  // namespace zembrat::common
