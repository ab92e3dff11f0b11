// Deflate64 (method 9): Deflate with a 64 KiB window, length code 285 carrying 16 extra bits
// (lengths 3 to 65,538) and distance codes 30 and 31 (up to 65,536 back).
#include <array>

#include "bit_input.h"
#include "decoder.h"
#include "output_window.h"
#include "prefix_code.h"

namespace zembrat::zip::decode {

namespace {

constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                       15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                       67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
constexpr std::array<std::uint32_t, 32> kDistanceBase = {
    1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
    49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr std::array<std::uint8_t, 32> kDistanceExtra = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3, 4,
                                                         4,  5,  5,  6,  6,  7,  7,  8,  8,  9, 9,
                                                         10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
// The order in which a dynamic block gives the code lengths of its code-length code.
constexpr std::array<std::uint8_t, 19> kCodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};

void FixedCodes(PrefixCode& literals, PrefixCode& distances) {
    std::array<std::uint8_t, 288> lengths{};
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    }
    literals.Build(lengths);
    std::array<std::uint8_t, 32> distance{};
    distance.fill(5);
    distances.Build(distance);
}

void DynamicCodes(BitInput& bits, PrefixCode& literals, PrefixCode& distances) {
    const std::uint32_t literalCount = bits.Bits(5) + 257;
    const std::uint32_t distanceCount = bits.Bits(5) + 1;
    const std::uint32_t codeLengthCount = bits.Bits(4) + 4;
    std::array<std::uint8_t, 19> codeLengths{};
    for (std::uint32_t i = 0; i < codeLengthCount; ++i) {
        codeLengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(bits.Bits(3));
    }
    PrefixCode lengthCode;
    lengthCode.Build(codeLengths);
    std::array<std::uint8_t, 288 + 32> lengths{};
    const std::uint32_t total = literalCount + distanceCount;
    for (std::uint32_t at = 0; at < total;) {
        const std::uint32_t symbol = lengthCode.Decode(bits);
        std::uint32_t repeat = 1;
        std::uint8_t value = 0;
        if (symbol < 16) {
            value = static_cast<std::uint8_t>(symbol);
        } else if (symbol == 16) {
            if (at == 0) {
                Corrupt("a repeat with nothing before it");
            }
            value = lengths[at - 1];
            repeat = 3 + bits.Bits(2);
        } else if (symbol == 17) {
            repeat = 3 + bits.Bits(3);
        } else {
            repeat = 11 + bits.Bits(7);
        }
        if (at + repeat > total) {
            Corrupt("code lengths run past their count");
        }
        for (; repeat > 0; --repeat) {
            lengths[at++] = value;
        }
    }
    if (lengths[256] == 0) {
        Corrupt("a block without an end code");
    }
    literals.Build(std::span(lengths).first(literalCount));
    distances.Build(std::span(lengths).subspan(literalCount, distanceCount));
}

}  // namespace

void DecodeDeflate64(Input& in, const Member&, Output& out) {
    BitInput bits(in);
    OutputWindow window(std::size_t{1} << 16, out);
    PrefixCode literals;
    PrefixCode distances;
    bool last = false;
    while (!last) {
        last = bits.Bits(1) != 0;
        const std::uint32_t type = bits.Bits(2);
        if (type == 0) {
            bits.AlignToByte();
            const std::uint32_t length = bits.Bits(16);
            if ((bits.Bits(16) ^ 0xFFFF) != length) {
                Corrupt("a stored block's length does not match its complement");
            }
            for (std::uint32_t i = 0; i < length; ++i) {
                window.Put(static_cast<std::uint8_t>(bits.Bits(8)));
            }
            continue;
        }
        if (type == 1) {
            FixedCodes(literals, distances);
        } else if (type == 2) {
            DynamicCodes(bits, literals, distances);
        } else {
            Corrupt("a block of type 3");
        }
        for (;;) {
            const std::uint32_t symbol = literals.Decode(bits);
            if (symbol < 256) {
                window.Put(static_cast<std::uint8_t>(symbol));
                continue;
            }
            if (symbol == 256) {
                break;
            }
            const std::uint32_t lengthCode = symbol - 257;
            if (lengthCode >= kLengthBase.size()) {
                Corrupt("a length code out of range");
            }
            const std::uint32_t length =
                kLengthBase[lengthCode] + bits.Bits(kLengthExtra[lengthCode]);
            const std::uint32_t distanceCode = distances.Decode(bits);
            if (distanceCode >= kDistanceBase.size()) {
                Corrupt("a distance code out of range");
            }
            const std::uint32_t distance =
                kDistanceBase[distanceCode] + bits.Bits(kDistanceExtra[distanceCode]);
            if (distance > window.Total()) {
                Corrupt("a match reaches before the start");
            }
            window.Copy(distance, length);
        }
    }
    window.Flush();
}

}  // namespace zembrat::zip::decode
