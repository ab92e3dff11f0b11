// Method 4. A token starts with a length field: up to 7 one-bits, ended early by a zero-bit,
// each adding the next power of two (1, 2, 4, ...), then as many plain bits as ones were read.
// 0 means a literal byte (8 bits) follows; n > 0 copies n + 2 bytes from a position field of
// the same kind, starting at 2^9 and allowing 4 one-bits.
#include "bit_reader.h"
#include "decoders.h"
#include "ring_window.h"

namespace zembrat::arj {

namespace {

constexpr int kMinMatch = 3;
constexpr std::size_t kWindow = 1 << 15;  // holds the 26 KiB the encoder looks back

// A unary prefix of at most (lastWidth - firstWidth) one-bits, then `width` plain bits.
std::uint32_t ReadPrefixed(lha::BitReader& bits, int firstWidth, int lastWidth) {
    std::uint32_t base = 0;
    int width = firstWidth;
    while (width < lastWidth && bits.Get(1) != 0) {
        base += std::uint32_t{1} << width;
        ++width;
    }
    return base + bits.Get(width);
}

}  // namespace

void DecodeFastest(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
                   OutputStream& output) {
    lha::BitReader bits(input, compressedSize);
    lha::RingWindow window(output, kWindow, originalSize, 0);
    while (!window.Done()) {
        const std::uint32_t length = ReadPrefixed(bits, 0, 7);
        if (length == 0) {
            window.Put(static_cast<std::uint8_t>(bits.Get(8)));
            continue;
        }
        const std::uint32_t distance = ReadPrefixed(bits, 9, 13) + 1;
        window.Copy(distance, length - 1 + kMinMatch);
    }
    window.Flush();
}

}  // namespace zembrat::arj
