// PMarc codes a literal as its rank among the byte values by recency: a circular list with
// the last output byte at its head. It starts with printable ASCII nearest, then control
// codes, then the upper half in the order the MSX character set makes likely.
#pragma once

#include <array>
#include <cstdint>

namespace zembrat::lha {

// A range of values: its first, and how many extra bits pick one inside it.
struct CodeRange {
    unsigned base;
    int bits;
};

class RecencyList {
  public:
    RecencyList() {
        for (unsigned i = 0; i < 256; ++i) {
            older_[i] = static_cast<std::uint8_t>(i + 1);
            newer_[i] = static_cast<std::uint8_t>(i - 1);
        }
        // 0x20..0x7F, 0x00..0x1F, 0xA0..0xDF, 0x80..0x9F, 0xE0..0xFF, back to 0x20.
        Link(0x7F, 0x00);
        Link(0x1F, 0xA0);
        Link(0xDF, 0x80);
        Link(0x9F, 0xE0);
        Link(0xFF, 0x20);
    }

    // The byte rank steps older than the last one (rank 0 is the last byte itself).
    std::uint8_t Find(unsigned rank) const {
        std::uint8_t at = head_;
        if (rank < 128) {
            for (unsigned i = 0; i < rank; ++i) {
                at = older_[at];
            }
        } else {
            for (unsigned i = rank; i < 256; ++i) {
                at = newer_[at];
            }
        }
        return at;
    }

    // The byte just output becomes the head.
    void Touch(std::uint8_t byte) {
        if (byte == head_) {
            return;
        }
        older_[newer_[byte]] = older_[byte];
        newer_[older_[byte]] = newer_[byte];
        std::uint8_t afterHead = newer_[head_];
        older_[afterHead] = byte;
        newer_[byte] = afterHead;
        older_[byte] = head_;
        newer_[head_] = byte;
        head_ = byte;
    }

  private:
    void Link(std::uint8_t from, std::uint8_t to) {
        older_[from] = to;
        newer_[to] = from;
    }

    std::array<std::uint8_t, 256> older_{};
    std::array<std::uint8_t, 256> newer_{};
    std::uint8_t head_ = 0x20;
};

}  // namespace zembrat::lha
