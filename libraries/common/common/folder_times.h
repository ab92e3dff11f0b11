// The times and modes of extracted folders, set after their members: files made inside a
// folder change its time, and a read-only folder would refuse its own members.
#pragma once

#include <time.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zembrat::common {

inline constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

// Nanoseconds since 1970 (also before it) as a timespec.
timespec ToTimespec(std::int64_t nanoseconds);

class FolderTimes {
  public:
    void Add(std::string path, std::int64_t nanoseconds, unsigned mode);
    // Sets every folder's time and mode, deepest (last made) first, and forgets them.
    void Apply();

  private:
    struct Folder {
        std::string path;
        std::int64_t nanoseconds;
        unsigned mode;
    };
    std::vector<Folder> folders_;
};

}  // namespace zembrat::common
