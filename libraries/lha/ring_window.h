// The history of the legacy decoders: a ring of the window's size with the initial content
// each method expects, copied from byte by byte, and output collected into chunks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "lha/archive.h"

namespace zembrat::lha {

class RingWindow {
  public:
    // size is a power of two; the ring starts filled with fill and writing at position 0.
    RingWindow(OutputStream& output, std::size_t size, std::uint64_t total, std::uint8_t fill = ' ')
        : output_(output), ring_(size, fill), mask_(size - 1), total_(total) {
        chunk_.reserve(kChunk);
    }

    std::vector<std::uint8_t>& Ring() { return ring_; }
    void SetPosition(std::size_t position) { position_ = position & mask_; }
    std::size_t Position() const { return position_; }

    bool Done() const { return produced_ >= total_; }
    std::uint64_t Produced() const { return produced_; }

    void Put(std::uint8_t byte) {
        ring_[position_] = byte;
        position_ = (position_ + 1) & mask_;
        chunk_.push_back(byte);
        ++produced_;
        if (chunk_.size() >= kChunk) {
            Flush();
        }
    }

    // Copies length bytes starting distance (1..size) bytes back; stops at the member's end.
    void Copy(std::size_t distance, std::size_t length) { CopyFrom(position_ - distance, length); }

    // Copies length bytes starting at a ring position; stops at the member's end.
    void CopyFrom(std::size_t from, std::size_t length) {
        length = static_cast<std::size_t>(std::min<std::uint64_t>(length, total_ - produced_));
        for (std::size_t i = 0; i < length; ++i) {
            Put(ring_[(from + i) & mask_]);
        }
    }

    void Flush() {
        output_.Write(std::as_bytes(std::span(chunk_)));
        chunk_.clear();
    }

  private:
    static constexpr std::size_t kChunk = 1 << 16;
    OutputStream& output_;
    std::vector<std::uint8_t> ring_;
    std::vector<std::uint8_t> chunk_;
    std::size_t mask_;
    std::size_t position_ = 0;
    std::uint64_t total_;
    std::uint64_t produced_ = 0;
};

}  // namespace zembrat::lha
