// -lh3-: static Huffman with an 8 KiB window. Each block of codes carries its literal and
// length code (lengths 1..16 or absent), and either its own position code or a flag for the
// fixed one.
#include <array>

#include "decoder.h"
#include "fixed_codes.h"
#include "huffman_decoder.h"
#include "ring_window.h"

namespace zembrat::lha {
namespace {

constexpr int kCodes = 286;  // literals, lengths 3..31, and an escape for longer ones
constexpr int kPositionBlocks = 128;

// Three leading lengths of 1 cannot form a code: they announce a single symbol instead.
bool ReadsSingle(const std::array<std::uint8_t, kCodes>& lengths, int read) {
    return read == 3 && lengths[0] == 1 && lengths[1] == 1 && lengths[2] == 1;
}

void ReadCodes(BitReader& bits, HuffmanDecoder& codes) {
    std::array<std::uint8_t, kCodes> lengths{};
    for (int i = 0; i < kCodes; ++i) {
        lengths[static_cast<std::size_t>(i)] =
            bits.Get(1) != 0 ? static_cast<std::uint8_t>(bits.Get(4) + 1) : 0;
        if (ReadsSingle(lengths, i + 1)) {
            unsigned only = bits.Get(9);
            if (only >= kCodes) {
                CorruptData("single code out of range");
            }
            codes.BuildSingle(static_cast<std::uint16_t>(only));
            return;
        }
    }
    codes.Build(lengths);
}

void ReadPositions(BitReader& bits, HuffmanDecoder& positions) {
    if (bits.Get(1) == 0) {
        positions.Build(FixedPositionLengths(FixedPositionCode::kEightKiB));
        return;
    }
    std::array<std::uint8_t, kCodes> lengths{};
    for (int i = 0; i < kPositionBlocks; ++i) {
        lengths[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits.Get(4));
        if (ReadsSingle(lengths, i + 1)) {
            positions.BuildSingle(static_cast<std::uint16_t>(bits.Get(7)));
            return;
        }
    }
    positions.Build(std::span(lengths).first(kPositionBlocks));
}

}  // namespace

void DecodeLh3(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output) {
    BitReader bits(input, compressedSize);
    HuffmanDecoder codes, positions;
    RingWindow window(output, 8192, originalSize);
    std::uint32_t blockLeft = 0;
    while (!window.Done()) {
        if (blockLeft == 0) {
            blockLeft = bits.Get(16);
            if (blockLeft == 0) {
                CorruptData("empty block");
            }
            ReadCodes(bits, codes);
            ReadPositions(bits, positions);
        }
        --blockLeft;
        unsigned code = codes.Decode(bits);
        if (code == kCodes - 1) {
            code += bits.Get(8);
        }
        if (code < 256) {
            window.Put(static_cast<std::uint8_t>(code));
            continue;
        }
        std::size_t position = (std::size_t{positions.Decode(bits)} << 6) | bits.Get(6);
        window.Copy(position + 1, code - (256 - 3));
    }
    window.Flush();
}

}  // namespace zembrat::lha
