// Writes a compressed stream most significant bit first.
#pragma once

#include <cstdint>
#include <vector>

#include "lha/stream.h"

namespace zembrat::lha {

class BitWriter {
  public:
    explicit BitWriter(OutputStream& output) : output_(output) { buffer_.reserve(kFlushAt + 8); }

    // n is 0..24.
    void Put(std::uint32_t value, int n) {
        bits_ = (bits_ << n) | (value & ((1u << n) - 1));
        count_ += n;
        if (count_ >= 32) {
            count_ -= 32;
            auto word = static_cast<std::uint32_t>(bits_ >> count_);
            buffer_.push_back(static_cast<std::byte>(word >> 24));
            buffer_.push_back(static_cast<std::byte>(word >> 16));
            buffer_.push_back(static_cast<std::byte>(word >> 8));
            buffer_.push_back(static_cast<std::byte>(word));
            if (buffer_.size() >= kFlushAt) {
                Flush();
            }
        }
    }

    // How many bits of the last byte begun are written (0 when none is begun).
    int BitsIntoByte() const { return count_ % 8; }

    // Pads the last byte with zero bits and writes everything out.
    void Finish() {
        while (count_ >= 8) {
            count_ -= 8;
            buffer_.push_back(static_cast<std::byte>(bits_ >> count_));
        }
        if (count_ > 0) {
            buffer_.push_back(static_cast<std::byte>(bits_ << (8 - count_)));
            count_ = 0;
        }
        Flush();
    }

  private:
    void Flush() {
        output_.Write(buffer_);
        buffer_.clear();
    }

    static constexpr std::size_t kFlushAt = 1 << 16;
    OutputStream& output_;
    std::vector<std::byte> buffer_;
    std::uint64_t bits_ = 0;
    int count_ = 0;
};

}  // namespace zembrat::lha
