// Reduce (methods 2 to 5, compression factors 1 to 4) of early PKZIP: bytes coded against
// follower sets of the byte before them, and the result expanded as runs: DLE (144) starts a
// match whose length and distance share bits by the factor. No end mark: the size ends it.
#include <array>

#include "bit_input.h"
#include "decoder.h"
#include "output_window.h"

namespace zembrat::zip::decode {

namespace {

constexpr std::uint8_t kDle = 144;

// Bits of an index into a follower set of n bytes (n >= 1).
int IndexBits(std::uint32_t n) {
    int width = 1;
    while ((1u << width) < n) {
        ++width;
    }
    return width;
}

struct FollowerSets {
    std::array<std::array<std::uint8_t, 32>, 256> bytes{};
    std::array<std::uint8_t, 256> count{};
};

}  // namespace

void DecodeReduce(Input& in, const Member& member, Output& out) {
    const int factor = member.method - 1;  // 1 .. 4
    BitInput bits(in);
    FollowerSets sets;
    for (int last = 255; last >= 0; --last) {
        const auto n = static_cast<std::uint8_t>(bits.Bits(6));
        if (n > 32) {
            Corrupt("a follower set of more than 32 bytes");
        }
        sets.count[static_cast<std::size_t>(last)] = n;
        for (std::uint8_t i = 0; i < n; ++i) {
            sets.bytes[static_cast<std::size_t>(last)][i] = static_cast<std::uint8_t>(bits.Bits(8));
        }
    }
    const std::uint32_t lengthMask = 0xFFu >> factor;
    OutputWindow window(std::size_t{1} << 13, out);
    std::uint8_t last = 0;
    int state = 0;
    std::uint32_t length = 0;
    std::uint32_t high = 0;
    while (window.Total() < member.size) {
        std::uint8_t byte = 0;
        const std::uint8_t n = sets.count[last];
        if (n == 0 || bits.Bits(1) != 0) {
            byte = static_cast<std::uint8_t>(bits.Bits(8));
        } else {
            const std::uint32_t index = bits.Bits(IndexBits(n));
            if (index >= n) {
                Corrupt("a follower index past its set");
            }
            byte = sets.bytes[last][index];
        }
        last = byte;
        switch (state) {
            case 0:
                if (byte == kDle) {
                    state = 1;
                } else {
                    window.Put(byte);
                }
                break;
            case 1:
                if (byte == 0) {
                    window.Put(kDle);
                    state = 0;
                } else {
                    high = byte;
                    length = byte & lengthMask;
                    state = length == lengthMask ? 2 : 3;
                }
                break;
            case 2:
                length += byte;
                state = 3;
                break;
            default: {
                const std::uint32_t distance = ((high >> (8 - factor)) << 8) + byte + 1;
                const std::uint64_t left = member.size - window.Total();
                window.Copy(distance,
                            static_cast<std::uint32_t>(std::min<std::uint64_t>(length + 3, left)));
                state = 0;
                break;
            }
        }
    }
    window.Flush();
}

}  // namespace zembrat::zip::decode
