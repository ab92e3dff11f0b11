// An owned file descriptor, closed when dropped.
#pragma once

#include <unistd.h>

#include <utility>

namespace zembrat::common {

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        UniqueFd old(std::exchange(fd_, other.Release()));
        return *this;
    }
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Hands the descriptor over to a new owner.
    int Release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

}  // namespace zembrat::common
