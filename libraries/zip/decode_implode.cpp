// Implode (method 6) of early PKZIP: LZ77 over a 4 KiB or 8 KiB window (flag bit 1) with
// Shannon-Fano trees for lengths and distance high bits, and for literals too when flag bit 2
// says three trees. Each tree is stored as run-length-coded bit lengths; codes are canonical
// with every bit complemented. No end mark: the member's size ends it.
#include <array>

#include "bit_input.h"
#include "decoder.h"
#include "output_window.h"
#include "prefix_code.h"

namespace zembrat::zip::decode {

namespace {

constexpr std::uint16_t kBigWindow = 1u << 1;
constexpr std::uint16_t kLiteralTree = 1u << 2;

// A tree of `symbols` bit lengths: a count byte, then bytes of (run - 1) << 4 | (length - 1).
void ReadTree(BitInput& bits, std::size_t symbols, PrefixCode& code) {
    std::array<std::uint8_t, 256> lengths{};
    const std::uint32_t bytes = bits.Bits(8) + 1;
    std::size_t at = 0;
    for (std::uint32_t i = 0; i < bytes; ++i) {
        const std::uint32_t byte = bits.Bits(8);
        const std::uint32_t run = (byte >> 4) + 1;
        if (at + run > symbols) {
            Corrupt("a tree holds more lengths than symbols");
        }
        for (std::uint32_t r = 0; r < run; ++r) {
            lengths[at++] = static_cast<std::uint8_t>((byte & 0x0F) + 1);
        }
    }
    if (at != symbols) {
        Corrupt("a tree holds fewer lengths than symbols");
    }
    code.Build(std::span(lengths).first(symbols), true);
}

}  // namespace

void DecodeImplode(Input& in, const Member& member, Output& out) {
    BitInput bits(in);
    const bool bigWindow = (member.flags & kBigWindow) != 0;
    const bool literalTree = (member.flags & kLiteralTree) != 0;
    PrefixCode literals;
    PrefixCode lengths;
    PrefixCode distances;
    if (literalTree) {
        ReadTree(bits, 256, literals);
    }
    ReadTree(bits, 64, lengths);
    ReadTree(bits, 64, distances);
    const int lowDistanceBits = bigWindow ? 7 : 6;
    const std::uint32_t minimumLength = literalTree ? 3 : 2;
    OutputWindow window(std::size_t{1} << 13, out);
    while (window.Total() < member.size) {
        if (bits.Bits(1) != 0) {
            window.Put(
                static_cast<std::uint8_t>(literalTree ? literals.Decode(bits) : bits.Bits(8)));
            continue;
        }
        const std::uint32_t low = bits.Bits(lowDistanceBits);
        const std::uint32_t distance = ((distances.Decode(bits) << lowDistanceBits) | low) + 1;
        std::uint32_t length = lengths.Decode(bits);
        if (length == 63) {
            length += bits.Bits(8);
        }
        length += minimumLength;
        // The last match may run past the size; what lies past it is not the member's.
        const std::uint64_t left = member.size - window.Total();
        window.Copy(distance, static_cast<std::uint32_t>(std::min<std::uint64_t>(length, left)));
    }
    window.Flush();
}

}  // namespace zembrat::zip::decode
