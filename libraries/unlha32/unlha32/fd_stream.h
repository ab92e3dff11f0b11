// Streams over file descriptors the library owns elsewhere (temporary files) and over caller
// memory.
#pragma once

#include <cstdint>
#include <span>
#include <utility>

#include "lha/stream.h"

namespace zembrat::unlha32 {

class FdOutput final : public lha::SeekableOutput {
  public:
    explicit FdOutput(int fd) : fd_(fd) {}
    void Write(std::span<const std::byte> data) override;
    void Seek(std::uint64_t offset) override;
    std::uint64_t Tell() const override { return position_; }

  private:
    int fd_;
    std::uint64_t position_ = 0;
};

// Writes into a caller's buffer; bytes beyond its end are counted and dropped.
class BoundedOutput final : public lha::OutputStream {
  public:
    explicit BoundedOutput(std::span<std::byte> buffer) : buffer_(buffer) {}
    void Write(std::span<const std::byte> data) override;
    std::uint64_t Total() const { return total_; }
    std::size_t Stored() const { return stored_; }

  private:
    std::span<std::byte> buffer_;
    std::size_t stored_ = 0;
    std::uint64_t total_ = 0;
};

class NullOutput final : public lha::OutputStream {
  public:
    void Write(std::span<const std::byte>) override {}
};

// An owned descriptor, closed when dropped.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd();
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

}  // namespace zembrat::unlha32
