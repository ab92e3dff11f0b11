// The adaptive Huffman family: -lh1- (4 KiB window, positions in a fixed code) and -lh2-
// (8 KiB window, positions in an adaptive tree too).
#include "adaptive_huffman.h"
#include "decoder.h"
#include "fixed_codes.h"
#include "huffman_decoder.h"
#include "ring_window.h"

namespace zembrat::lha {
namespace {

constexpr int kLengthBias = 256 - 3;  // code 256 copies 3 bytes

}  // namespace

void DecodeLh1(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output) {
    BitReader bits(input, compressedSize);
    AdaptiveHuffman codes(314);
    HuffmanDecoder positions;
    positions.Build(FixedPositionLengths(FixedPositionCode::kFourKiB));
    RingWindow window(output, 4096, originalSize);
    while (!window.Done()) {
        int code = codes.DecodeCode(bits);
        if (code < 256) {
            window.Put(static_cast<std::uint8_t>(code));
            continue;
        }
        std::size_t position = (std::size_t{positions.Decode(bits)} << 6) | bits.Get(6);
        window.Copy(position + 1, static_cast<std::size_t>(code - kLengthBias));
    }
    window.Flush();
}

void DecodeLh2(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output) {
    BitReader bits(input, compressedSize);
    AdaptiveHuffman codes(286);
    codes.StartPositions(13);
    RingWindow window(output, 8192, originalSize);
    while (!window.Done()) {
        int code = codes.DecodeCode(bits);
        if (code < 256) {
            window.Put(static_cast<std::uint8_t>(code));
            continue;
        }
        auto block = static_cast<std::size_t>(codes.DecodePositionBlock(bits, window.Produced()));
        std::size_t position = (block << 6) | bits.Get(6);
        window.Copy(position + 1, static_cast<std::size_t>(code - kLengthBias));
    }
    window.Flush();
}

}  // namespace zembrat::lha
