// What each method keeps between the members of a solid stream, and the length and
// distance slots versions 2.0 and 2.9 share.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "filters.h"
#include "huffman.h"
#include "unpacker.h"

namespace zembrat::rar {

inline constexpr std::uint8_t kLengthBases[28] = {0,  1,  2,  3,   4,   5,   6,   7,  8,  10,
                                                  12, 14, 16, 20,  24,  28,  32,  40, 48, 56,
                                                  64, 80, 96, 112, 128, 160, 192, 224};
inline constexpr std::uint8_t kLengthBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                                 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};

inline constexpr std::uint8_t kShortBases[8] = {0, 4, 8, 16, 32, 64, 128, 192};
inline constexpr std::uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

// A slot's base plus the value of its extra bits.
inline std::uint32_t ReadSlot(BitInput& input, std::uint32_t base, unsigned bits) {
    return bits == 0 ? base : base + input.Read(bits);
}
inline std::uint32_t ReadLengthSlot(BitInput& input, unsigned slot) {
    return ReadSlot(input, kLengthBases[slot], kLengthBits[slot]);
}
inline std::uint32_t ReadShortDistance(BitInput& input, unsigned slot) {
    return ReadSlot(input, kShortBases[slot], kShortBits[slot]) + 1;
}
// Matches at far distances are one or two bytes longer than their length slot says.
inline std::uint32_t FarDistanceBonus(std::uint32_t distance) {
    return (distance >= 0x2000 ? 1 : 0) + (distance >= 0x40000 ? 1 : 0);
}

// The 60 distance slots of version 2.9; version 2.0 uses the first 48.
const std::uint32_t* DistanceBases();
const std::uint8_t* DistanceBits();

struct Unpacker::State15 {
    std::uint32_t avrPlc = 0, avrPlcB = 0, avrLn1 = 0, avrLn2 = 0, avrLn3 = 0;
    std::uint32_t numHuf = 0, buf60 = 0, maxDist3 = 0, nhfb = 0, nlzb = 0;
    std::uint32_t flagBuf = 0, stMode = 0, lCount = 0;
    int flagsCount = 0;
    std::array<std::uint32_t, 256> chSet{}, chSetA{}, chSetB{}, chSetC{};
    std::array<std::uint32_t, 256> nToPl{}, nToPlB{}, nToPlC{};
};

struct Unpacker::State20 {
    HuffmanTable ld, dd, rd, bd;
    std::array<HuffmanTable, 4> md;
    std::array<std::uint8_t, 257 * 4> oldTable{};
    bool tablesRead = false;
    bool audio = false;
    unsigned channels = 1;
    unsigned channel = 0;
    int channelDelta = 0;
    struct Audio {
        int k[5] = {};
        int d[4] = {};
        int lastDelta = 0;
        std::uint32_t dif[11] = {};
        std::uint32_t count = 0;
        int lastChar = 0;
    };
    std::array<Audio, 4> audioState{};
};

struct Unpacker::State29 {
    HuffmanTable ld, dd, ldd, rd, bd;
    std::array<std::uint8_t, 404> oldTable{};
    bool tablesRead = false;
    bool ppmBlock = false;
    int ppmEscChar = 2;
    std::uint32_t prevLowDist = 0;
    unsigned lowDistRepCount = 0;

    struct Kind {
        FilterKind kind = FilterKind::kE8;
        std::uint32_t execCount = 0;
    };
    struct Pending {
        std::size_t parent = 0;
        FilterKind kind = FilterKind::kE8;
        std::uint32_t blockStart = 0;  // window position, not wrapped
        std::uint32_t blockLength = 0;
        bool nextWindow = false;
        std::array<std::uint32_t, 7> registers{};
    };
    std::vector<Kind> kinds;  // the filters defined so far in the stream
    std::vector<std::uint32_t> oldLengths;
    std::size_t lastFilter = 0;
    std::vector<std::optional<Pending>> pending;
    std::uint64_t written = 0;  // of the member, filtered
    std::vector<std::uint8_t> memory = std::vector<std::uint8_t>(kFilterMemorySize + 4);
};

}  // namespace zembrat::rar
