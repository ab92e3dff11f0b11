#include "common/folder_times.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <utility>

namespace zembrat::common {

timespec ToTimespec(std::int64_t nanoseconds) {
    timespec time{};
    time.tv_sec = static_cast<time_t>(nanoseconds / 1000000000LL);
    time.tv_nsec = static_cast<long>(nanoseconds % 1000000000LL);
    if (time.tv_nsec < 0) {
        time.tv_nsec += 1000000000L;
        time.tv_sec -= 1;
    }
    return time;
}

void FolderTimes::Add(std::string path, std::int64_t nanoseconds, unsigned mode) {
    folders_.push_back({std::move(path), nanoseconds, mode});
}

void FolderTimes::Apply() {
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
        const timespec times[2] = {ToTimespec(it->nanoseconds), ToTimespec(it->nanoseconds)};
        utimensat(AT_FDCWD, it->path.c_str(), times, AT_SYMLINK_NOFOLLOW);
        chmod(it->path.c_str(), it->mode);
    }
    folders_.clear();
}

}  // namespace zembrat::common
