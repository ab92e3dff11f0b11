// Reads a compressed stream most significant bit first, from a bounded number of bytes.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lha/archive.h"

namespace zembrat::lha {

class BitReader {
  public:
    // Reads at most limit bytes of input. Past them the reader supplies zero bits for a
    // little while (decoders look ahead), then throws Error(kTruncated).
    BitReader(InputStream& input, std::uint64_t limit) : input_(input), remaining_(limit) {}

    // The next 16 bits, without consuming them.
    std::uint32_t Peek16() {
        if (count_ < 16) {
            Refill();
        }
        return static_cast<std::uint32_t>(bits_ >> 48);
    }

    void Skip(int n) {
        bits_ <<= n;
        count_ -= n;
    }

    // n is 0..16.
    std::uint32_t Get(int n) {
        if (n == 0) {
            return 0;
        }
        std::uint32_t value = Peek16() >> (16 - n);
        Skip(n);
        return value;
    }

    // n is 0..32.
    std::uint32_t GetLong(int n) {
        if (n <= 16) {
            return Get(n);
        }
        std::uint32_t high = Get(n - 16);
        return (high << 16) | Get(16);
    }

  private:
    void Refill() {
        if (end_ - position_ >= 8) {
            // Eight bytes at once; the bits of a byte only partly taken are ORed in again,
            // identically, by the next refill.
            std::uint64_t word;
            std::memcpy(&word, buffer_.data() + position_, 8);
            if constexpr (std::endian::native == std::endian::little) {
                word = __builtin_bswap64(word);
            }
            bits_ |= word >> count_;
            position_ += static_cast<std::size_t>((63 - count_) >> 3);
            count_ |= 56;
            return;
        }
        while (count_ <= 56) {
            if (position_ == end_) {
                FillBuffer();
            }
            bits_ |= static_cast<std::uint64_t>(buffer_[position_++]) << (56 - count_);
            count_ += 8;
        }
    }

    void FillBuffer() {
        position_ = 0;
        end_ = 0;
        if (buffer_.empty()) {
            buffer_.resize(kBufferSize);
        }
        if (remaining_ > 0) {
            std::size_t want = static_cast<std::size_t>(
                remaining_ < kBufferSize ? remaining_ : static_cast<std::uint64_t>(kBufferSize));
            end_ = input_.Read(std::as_writable_bytes(std::span(buffer_.data(), want)));
            remaining_ -= end_;
            if (end_ == 0) {
                remaining_ = 0;  // the input ended before its stated size
            }
        }
        if (end_ == 0) {
            if (++overrun_ > kOverrunLimit) {
                throw Error(ErrorKind::kTruncated, "compressed data ends early");
            }
            buffer_[0] = 0;
            end_ = 1;
        }
    }

    static constexpr std::size_t kBufferSize = 1 << 16;
    static constexpr int kOverrunLimit = 16;

    InputStream& input_;
    std::uint64_t remaining_;
    std::vector<std::uint8_t> buffer_;
    std::size_t position_ = 0;
    std::size_t end_ = 0;
    std::uint64_t bits_ = 0;  // valid bits aligned to the top
    int count_ = 0;
    int overrun_ = 0;
};

}  // namespace zembrat::lha
