// The bit reader every method shares: bits are taken from the most significant end of each
// byte, the packed data comes in chunks from a source, and reading past its end gives zeros
// (the decoders stop when PastEnd() says they went too far).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <vector>

namespace zembrat::rar {

// Fills the span with the member's next packed bytes; answers how many (0 at the end).
using PackedSource = std::function<std::size_t(std::span<std::uint8_t>)>;

class BitInput {
  public:
    BitInput() : buffer_(kChunk + kPadding) {}

    void Start(const PackedSource& source) {
        source_ = &source;
        filled_ = 0;
        bitPos_ = 0;
        ended_ = false;
        Refill();
    }

    // The next 16 bits, not consumed.
    std::uint32_t Peek16() {
        std::size_t byte = bitPos_ >> 3;
        if (byte + 4 > filled_) [[unlikely]] {
            Refill();
            byte = bitPos_ >> 3;
        }
        const std::uint32_t word = std::uint32_t{buffer_[byte]} << 24 |
                                   std::uint32_t{buffer_[byte + 1]} << 16 |
                                   std::uint32_t{buffer_[byte + 2]} << 8 | buffer_[byte + 3];
        return (word << (bitPos_ & 7)) >> 16;
    }

    void Skip(unsigned bits) { bitPos_ += bits; }

    // Up to 16 bits, consumed.
    std::uint32_t Read(unsigned bits) {
        const std::uint32_t value = Peek16() >> (16 - bits);
        bitPos_ += bits;
        return value;
    }

    void AlignToByte() { bitPos_ = (bitPos_ + 7) & ~std::size_t{7}; }

    // The next whole byte (the reader is at a byte boundary).
    std::uint8_t ReadByte() {
        std::size_t byte = bitPos_ >> 3;
        if (byte + 1 > filled_) [[unlikely]] {
            Refill();
            byte = bitPos_ >> 3;
        }
        bitPos_ += 8;
        return buffer_[byte];
    }

    // At least `bytes` whole bytes remain (or the source has not ended).
    bool HasBytes(std::size_t bytes) const { return !ended_ || filled_ >= (bitPos_ >> 3) + bytes; }

    // More was consumed than the packed data holds.
    bool PastEnd() const { return ended_ && (bitPos_ >> 3) > filled_; }

  private:
    static constexpr std::size_t kChunk = 1 << 18;
    static constexpr std::size_t kPadding = 16;

    void Refill() {
        if (ended_) {
            Clamp();
            return;
        }
        const std::size_t keep = (bitPos_ >> 3) < filled_ ? filled_ - (bitPos_ >> 3) : 0;
        if (keep != 0) {
            std::memmove(buffer_.data(), buffer_.data() + (bitPos_ >> 3), keep);
        }
        const std::size_t consumedPast = (bitPos_ >> 3) > filled_ ? (bitPos_ >> 3) - filled_ : 0;
        bitPos_ = (bitPos_ & 7) + consumedPast * 8;
        filled_ = keep;
        while (filled_ < kChunk) {
            const std::size_t got =
                (*source_)(std::span<std::uint8_t>(buffer_.data() + filled_, kChunk - filled_));
            if (got == 0) {
                ended_ = true;
                break;
            }
            filled_ += got;
        }
        if (ended_) {
            std::memset(buffer_.data() + filled_, 0, kPadding);
            Clamp();
        }
    }

    // Far past the end: stay there, reading zeros.
    void Clamp() {
        if ((bitPos_ >> 3) + 8 > filled_ + kPadding) {
            bitPos_ = (filled_ + 1) * 8;
        }
    }

    std::vector<std::uint8_t> buffer_;
    const PackedSource* source_ = nullptr;
    std::size_t filled_ = 0;
    std::size_t bitPos_ = 0;
    bool ended_ = false;
};

}  // namespace zembrat::rar
