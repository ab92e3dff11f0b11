#include "batch/scratch_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>

#include "platform/path.h"

namespace zembrat::batch {

namespace {

constexpr std::size_t kRandomPart = 6;  // mkdtemp's XXXXXX
// A folder younger than this may belong to a run that has made it but not locked it yet.
constexpr std::time_t kGraceSeconds = 5;

struct DirectoryCloser {
    void operator()(DIR* directory) const { closedir(directory); }
};

// The folder opened without following a link, locked without waiting; -1 when another
// process holds it (or it cannot be opened).
int LockFolder(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int ScratchFolder::RemoveLeftovers(std::string_view parent, std::string_view prefix) {
    const std::string folder = platform::IncludeTrailingDelimiter(parent);
    std::unique_ptr<DIR, DirectoryCloser> directory(
        ::opendir(folder.empty() ? "." : folder.c_str()));
    if (!directory) {
        return 0;
    }
    int removed = 0;
    const std::time_t now = std::time(nullptr);
    while (const dirent* item = ::readdir(directory.get())) {
        const std::string_view name(item->d_name);
        if (!name.starts_with(prefix) || name.size() != prefix.size() + kRandomPart) {
            continue;
        }
        const std::string path = folder + std::string(name);
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            info.st_uid != ::geteuid() || now - info.st_mtime < kGraceSeconds) {
            continue;
        }
        const int lock = LockFolder(path);
        if (lock < 0) {
            continue;  // a living run holds it
        }
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
        ::close(lock);
        ++removed;
    }
    return removed;
}

ScratchFolder::ScratchFolder(std::string_view parent, std::string_view prefix) {
    RemoveLeftovers(parent, prefix);
    std::string pattern = platform::IncludeTrailingDelimiter(parent);
    pattern.append(prefix);
    pattern.append(kRandomPart, 'X');
    if (::mkdtemp(pattern.data()) == nullptr) {
        error_ = pattern + ": " + std::strerror(errno);
        return;
    }
    lock_ = LockFolder(pattern);
    path_ = platform::IncludeTrailingDelimiter(pattern);
}

ScratchFolder::~ScratchFolder() {
    if (Valid()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    if (lock_ >= 0) {
        ::close(lock_);
    }
}

}  // namespace zembrat::batch
