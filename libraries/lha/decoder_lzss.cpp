// The LArc family: -lzs- (2 KiB window, bit-packed) and -lz5- (4 KiB window, byte-packed).
// Both copy from absolute ring positions.
#include "bit_reader.h"
#include "decoder.h"
#include "ring_window.h"

namespace zembrat::lha {

void DecodeLzs(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output) {
    BitReader bits(input, compressedSize);
    RingWindow window(output, 2048, originalSize);
    window.SetPosition(2048 - 17);
    while (!window.Done()) {
        if (bits.Get(1) != 0) {
            window.Put(static_cast<std::uint8_t>(bits.Get(8)));
            continue;
        }
        std::size_t from = bits.Get(11);
        std::size_t length = bits.Get(4) + 2;
        window.CopyFrom(from, length);
    }
    window.Flush();
}

void DecodeLz5(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output) {
    BitReader bits(input, compressedSize);
    RingWindow window(output, 4096, originalSize);
    // The history starts with runs of every byte value, the values up and down, zeros and
    // spaces: matches may refer to them from the first byte on.
    auto& ring = window.Ring();
    std::size_t at = 0;
    for (unsigned value = 0; value < 256; ++value) {
        for (int k = 0; k < 13; ++k) {
            ring[at++] = static_cast<std::uint8_t>(value);
        }
    }
    for (unsigned value = 0; value < 256; ++value) {
        ring[at++] = static_cast<std::uint8_t>(value);
    }
    for (unsigned value = 0; value < 256; ++value) {
        ring[at++] = static_cast<std::uint8_t>(255 - value);
    }
    std::fill_n(ring.begin() + static_cast<std::ptrdiff_t>(at), 128, std::uint8_t{0});
    at += 128;
    std::fill_n(ring.begin() + static_cast<std::ptrdiff_t>(at), 110, std::uint8_t{' '});
    at += 110;
    std::fill(ring.begin() + static_cast<std::ptrdiff_t>(at), ring.end(), std::uint8_t{0});
    window.SetPosition(4096 - 18);
    while (!window.Done()) {
        unsigned flags = bits.Get(8);
        for (int bit = 0; bit < 8 && !window.Done(); ++bit, flags >>= 1) {
            if (flags & 1) {
                window.Put(static_cast<std::uint8_t>(bits.Get(8)));
                continue;
            }
            unsigned low = bits.Get(8);
            unsigned high = bits.Get(8);
            window.CopyFrom(low | ((high & 0xF0) << 4), (high & 0x0F) + 3);
        }
    }
    window.Flush();
}

}  // namespace zembrat::lha
