// The LZX decoder of cabinet folders. A folder's data blocks are fed in order, each holding
// one frame: its compressed bytes and the number of bytes it unpacks to (32 KiB for every
// frame but the folder's last). The decoder keeps the window, the trees and the repeated
// offsets from one frame to the next until Reset (the start of a folder). Hostile input
// makes a frame fail; it never reads or writes outside the decoder's own buffers.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace zembrat::cab {

class LzxDecoder {
  public:
    static constexpr unsigned kMinWindowBits = 15;
    static constexpr unsigned kMaxWindowBits = 21;
    static constexpr std::size_t kFrameSize = 32768;

    // windowBits: the folder's window, 2^15 to 2^21 bytes (outside that: every frame fails).
    explicit LzxDecoder(unsigned windowBits);
    ~LzxDecoder();
    LzxDecoder(const LzxDecoder&) = delete;
    LzxDecoder& operator=(const LzxDecoder&) = delete;

    // A new folder starts: no history, fresh trees and offsets, the stream header comes next.
    void Reset();

    // Decodes the next frame (frameSize bytes) from its block's compressed bytes. The bytes
    // stay valid until the next call or Reset; empty when the data is damaged, after which
    // the folder cannot go on.
    std::span<const std::uint8_t> DecodeFrame(std::span<const std::uint8_t> input,
                                              std::size_t frameSize);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zembrat::cab
