// File descriptors for the container's reader and writer: owned, read at an offset, written
// whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

namespace zembrat::bga {

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }

  private:
    int fd_;
};

// Reads up to buffer.size() bytes at offset, retrying short reads; the count read (less only
// at the end of the file). Throws common::Failure (ARC_ERROR_CANNOT_READ).
std::size_t ReadAt(int fd, std::uint64_t offset, std::span<std::byte> buffer);

// Writes everything at the file's position. Throws common::Failure (ARC_ERROR_CANNOT_WRITE).
void WriteAll(int fd, std::span<const std::byte> data);

// Copies bytes [start, end) of one file to the other's position. Throws common::Failure
// (ARC_ERROR_CANNOT_READ when the file is shorter, ARC_ERROR_CANNOT_WRITE).
void CopyBytes(int from, std::uint64_t start, std::uint64_t end, int out);

}  // namespace zembrat::bga
