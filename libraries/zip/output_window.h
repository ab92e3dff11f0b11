// The sliding window of an LZ77-style decoder, written out to an Output in pieces. Matches may
// reach before the first byte of the member (some old writers did that): those bytes read as
// zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoder.h"

namespace zembrat::zip::decode {

class OutputWindow {
  public:
    // size: a power of two, at least the longest distance the method reaches.
    OutputWindow(std::size_t size, Output& out)
        : window_(size, std::byte{0}), mask_(size - 1), out_(out) {}
    ~OutputWindow() = default;
    OutputWindow(const OutputWindow&) = delete;
    OutputWindow& operator=(const OutputWindow&) = delete;

    void Put(std::uint8_t byte) {
        window_[position_ & mask_] = static_cast<std::byte>(byte);
        ++position_;
        if ((position_ & mask_) == 0) {
            Flush();
        }
    }
    // Copies length bytes from distance back (distance >= 1).
    void Copy(std::uint32_t distance, std::uint32_t length) {
        if (distance > window_.size()) {
            Corrupt("a match reaches past the window");
        }
        for (std::uint32_t i = 0; i < length; ++i) {
            Put(static_cast<std::uint8_t>(window_[(position_ - distance) & mask_]));
        }
    }
    std::uint8_t Back(std::uint32_t distance) const {
        return static_cast<std::uint8_t>(window_[(position_ - distance) & mask_]);
    }
    std::uint64_t Total() const { return position_; }
    // Writes what the window holds and has not written yet (it flushes itself at each wrap,
    // so the unwritten bytes never wrap around).
    void Flush() {
        const std::size_t start = static_cast<std::size_t>(flushed_ & mask_);
        const auto length = static_cast<std::size_t>(position_ - flushed_);
        if (length > 0) {
            out_.Write(std::span(window_).subspan(start, length));
        }
        flushed_ = position_;
    }

  private:
    std::vector<std::byte> window_;
    std::size_t mask_;
    Output& out_;
    std::uint64_t position_ = 0;
    std::uint64_t flushed_ = 0;
};

}  // namespace zembrat::zip::decode
