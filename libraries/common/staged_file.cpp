#include "common/staged_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#include "common/safe_path.h"

namespace zembrat::common {

namespace {

std::atomic<std::uint64_t> stagedCounter{0};

bool AllZero(std::span<const std::byte> data) {
    return std::all_of(data.begin(), data.end(), [](std::byte b) { return b == std::byte{0}; });
}

}  // namespace

StagedFile::StagedFile(const std::string& folder) {
    std::string base = folder.empty() ? std::string("./") : folder;
    if (base.back() != '/') {
        base += '/';
    }
    base += ".zembrat-" + std::to_string(getpid()) + "-";
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        path_ = base + std::to_string(stagedCounter++);
        fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd_ < 0) {
        path_.clear();
    }
}

StagedFile::~StagedFile() {
    if (fd_ >= 0) {
        close(fd_);
    }
    if (!committed_ && !path_.empty()) {
        unlink(path_.c_str());
    }
}

bool StagedFile::Commit(const std::string& finalPath, std::string& reason) {
    if (!Close(reason)) {
        return false;
    }
    if (std::rename(path_.c_str(), finalPath.c_str()) != 0) {
        reason =
            "cannot rename to " + EscapeControlCharacters(finalPath) + ": " + std::strerror(errno);
        committed_ = false;  // the temporary name goes with the object
        return false;
    }
    return true;
}

bool StagedFile::Close(std::string& reason) {
    if (fd_ < 0) {
        reason = "no temporary file";
        return false;
    }
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        reason = std::string("cannot write: ") + std::strerror(errno);
        return false;  // removed by the destructor
    }
    committed_ = true;
    return true;
}

void HoleAwareWriter::WriteAt(std::span<const std::byte> data) {
    while (!data.empty()) {
        const ssize_t wrote = pwrite(fd_, data.data(), data.size(), static_cast<off_t>(offset_));
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            throw std::system_error(errno, std::generic_category(), "cannot write");
        }
        offset_ += static_cast<std::uint64_t>(wrote);
        data = data.subspan(static_cast<std::size_t>(wrote));
    }
    holeAtEnd_ = false;
}

void HoleAwareWriter::Write(std::span<const std::byte> data) {
    while (!data.empty()) {
        const std::size_t intoBlock = static_cast<std::size_t>(offset_ % kHoleBlock);
        const std::size_t piece = std::min(data.size(), kHoleBlock - intoBlock);
        if (intoBlock == 0 && piece == kHoleBlock && AllZero(data.first(piece))) {
            Hole(piece);
            data = data.subspan(piece);
            continue;
        }
        // This piece and the whole blocks of data after it go out in one write.
        std::size_t run = piece;
        while (data.size() - run >= kHoleBlock && !AllZero(data.subspan(run, kHoleBlock))) {
            run += kHoleBlock;
        }
        if (data.size() - run < kHoleBlock) {
            run = data.size();
        }
        WriteAt(data.first(run));
        data = data.subspan(run);
    }
}

void HoleAwareWriter::Hole(std::uint64_t size) {
    if (size > 0) {
        offset_ += size;
        holeAtEnd_ = true;
    }
}

void HoleAwareWriter::Finish() {
    if (holeAtEnd_ && ftruncate(fd_, static_cast<off_t>(offset_)) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot write");
    }
}

void WriteAll(int fd, std::span<const std::byte> data, const char* what) {
    while (!data.empty()) {
        const ssize_t wrote = ::write(fd, data.data(), data.size());
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            throw std::system_error(errno, std::generic_category(), what);
        }
        data = data.subspan(static_cast<std::size_t>(wrote));
    }
}

std::size_t RemoveStaleStagedFiles(const std::string& folder) {
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(
        opendir(folder.empty() ? "." : folder.c_str()), &closedir);
    if (!listing) {
        return 0;
    }
    constexpr std::string_view kPrefix = ".zembrat-";
    std::size_t removed = 0;
    while (const dirent* entry = readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(kPrefix)) {
            continue;
        }
        // PID-N, both decimal.
        const std::string_view rest = name.substr(kPrefix.size());
        const std::size_t dash = rest.find('-');
        const auto digits = [](std::string_view text) {
            return !text.empty() && text.size() < 10 &&
                   std::all_of(text.begin(), text.end(),
                               [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
        };
        if (dash == std::string_view::npos || !digits(rest.substr(0, dash)) ||
            !digits(rest.substr(dash + 1))) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(std::stol(std::string(rest.substr(0, dash))));
        if (pid == getpid() || kill(pid, 0) == 0 || errno != ESRCH) {
            continue;  // ours, or a process that still runs (or one we may not signal)
        }
        struct stat info {};
        if (fstatat(dirfd(listing.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 07777) != 0600) {
            continue;
        }
        if (unlinkat(dirfd(listing.get()), entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    return removed;
}

bool MakeHardLink(const std::string& existing, const std::string& fullPath) {
    const std::size_t slash = fullPath.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string("./") : fullPath.substr(0, slash + 1);
    const std::string temporary = folder + ".zembrat-link-" + std::to_string(getpid()) + "-" +
                                  std::to_string(stagedCounter++);
    if (link(existing.c_str(), temporary.c_str()) != 0) {
        return false;
    }
    if (std::rename(temporary.c_str(), fullPath.c_str()) != 0) {
        const int failure = errno;
        unlink(temporary.c_str());
        errno = failure;
        return false;
    }
    return true;
}

}  // namespace zembrat::common
