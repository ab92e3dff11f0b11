// Feeds bytes to the cabinet LZX decoder as one folder's frames. The input: one byte that
// picks the window (2^15 to 2^21), then frames, each a 16-bit little-endian compressed size,
// a 16-bit little-endian frame size (its low 15 bits plus one: 1 to 32768 bytes) and the
// compressed bytes. The folder is decoded until a frame fails, then once more from its start
// after a reset, as a reader going back in a folder does.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "lzx_decoder.h"

namespace {

void DecodeFolder(zembrat::cab::LzxDecoder& decoder, std::span<const std::uint8_t> frames) {
    while (frames.size() >= 4) {
        const std::size_t packed = frames[0] | frames[1] << 8;
        const std::size_t size = ((frames[2] | frames[3] << 8) & 0x7FFF) + 1;
        frames = frames.subspan(4);
        const std::size_t take = std::min(packed, frames.size());
        if (decoder.DecodeFrame(frames.first(take), size).empty()) {
            return;
        }
        frames = frames.subspan(take);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    zembrat::cab::LzxDecoder decoder(zembrat::cab::LzxDecoder::kMinWindowBits + data[0] % 7);
    const std::span<const std::uint8_t> frames(data + 1, size - 1);
    decoder.Reset();
    DecodeFolder(decoder, frames);
    decoder.Reset();
    DecodeFolder(decoder, frames);
    return 0;
}
