// Bits of a member's compressed data, least significant bit of each byte first (the order of
// Deflate, Shrink, Reduce and Implode). Reading past the data's end is an error; peeking past
// it sees zeros, so that a table lookup near the end needs no special case.
#pragma once

#include <cstdint>

#include "decoder.h"

namespace zembrat::zip::decode {

class BitInput {
  public:
    explicit BitInput(Input& in) : in_(in) {}

    // The next count bits (count <= 32) without taking them.
    std::uint32_t Peek(int count) {
        if (held_ < count) {
            Refill();
        }
        return static_cast<std::uint32_t>(bits_ & ((std::uint64_t{1} << count) - 1));
    }
    void Drop(int count) {
        bits_ >>= count;
        held_ -= count;
        if (held_ < padding_) {
            Corrupt("the data ends early");
        }
    }
    std::uint32_t Bits(int count) {
        const std::uint32_t value = Peek(count);
        Drop(count);
        return value;
    }
    // Skips to the next byte boundary.
    void AlignToByte() { Drop(held_ % 8); }
    // True once every real byte was taken.
    bool AtEnd() {
        if (held_ == padding_) {
            Refill();
        }
        return held_ == padding_;
    }

  private:
    void Refill() {
        while (held_ <= 56) {
            std::uint64_t byte = 0;
            if (at_ == piece_.size() && !ended_) {
                piece_ = in_.Next();
                at_ = 0;
                ended_ = piece_.empty();
            }
            if (at_ < piece_.size()) {
                byte = static_cast<std::uint8_t>(piece_[at_++]);
            } else {
                padding_ += 8;  // zeros past the end: only Peek may see them
            }
            bits_ |= byte << held_;
            held_ += 8;
        }
    }

    Input& in_;
    std::span<const std::byte> piece_;
    std::size_t at_ = 0;
    bool ended_ = false;
    std::uint64_t bits_ = 0;
    int held_ = 0;
    int padding_ = 0;  // how many of the held bits are zeros past the end
};

}  // namespace zembrat::zip::decode
