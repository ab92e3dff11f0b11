// Method 4. A token starts with a length field: up to 7 one-bits, ended early by a zero-bit,
// each adding the next power of two (1, 2, 4, ...), then as many plain bits as ones were read.
// 0 means a literal byte (8 bits) follows; n > 0 copies n + 2 bytes from a position field of
// the same kind, starting at 2^9 and allowing 4 one-bits.
#include <bit>
#include <cstring>
#include <vector>

#include "bit_reader.h"
#include "decoders.h"

namespace zembrat::arj {

namespace {

constexpr int kMinMatch = 3;
constexpr std::size_t kHistory = 1 << 15;  // holds the 26 KiB the encoder looks back
constexpr std::size_t kChunk = 1 << 18;
constexpr std::size_t kMaxMatch = 256;

// A unary prefix of at most (lastWidth - firstWidth) one-bits, then as many plain bits as
// firstWidth plus the ones.
std::uint32_t ReadPrefixed(lha::BitReader& bits, int firstWidth, int lastWidth) {
    const int limit = lastWidth - firstWidth;
    int ones = std::countl_one(static_cast<std::uint16_t>(bits.Peek16()));
    if (ones >= limit) {
        ones = limit;
        bits.Skip(limit);
    } else {
        bits.Skip(ones + 1);
    }
    const std::uint32_t base = ((std::uint32_t{1} << ones) - 1) << firstWidth;
    return base + bits.Get(firstWidth + ones);
}

// Decoded bytes after the history that matches copy from, flushed in chunks; bytes before the
// start read as zeros.
class Window {
  public:
    explicit Window(OutputStream& output)
        : output_(output), buffer_(kHistory + kChunk + kMaxMatch, 0), position_(kHistory) {}

    void Put(std::uint8_t byte) {
        buffer_[position_++] = byte;
        if (position_ >= kHistory + kChunk) {
            Flush();
        }
    }

    void Copy(std::size_t distance, std::size_t length) {
        std::uint8_t* to = buffer_.data() + position_;
        const std::uint8_t* from = to - distance;
        if (distance >= length) {
            std::memcpy(to, from, length);
        } else {
            for (std::size_t i = 0; i < length; ++i) {
                to[i] = from[i];
            }
        }
        position_ += length;
        if (position_ >= kHistory + kChunk) {
            Flush();
        }
    }

    void Flush() {
        output_.Write(std::as_bytes(std::span(buffer_.data() + kHistory, position_ - kHistory)));
        std::memmove(buffer_.data(), buffer_.data() + position_ - kHistory, kHistory);
        position_ = kHistory;
    }

  private:
    OutputStream& output_;
    std::vector<std::uint8_t> buffer_;
    std::size_t position_;
};

}  // namespace

void DecodeFastest(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
                   OutputStream& output) {
    lha::BitReader bits(input, compressedSize);
    Window window(output);
    std::uint64_t left = originalSize;
    while (left > 0) {
        const std::uint32_t peek = bits.Peek16();
        if ((peek & 0x8000) == 0) {
            // The most common token: a zero length field and the literal after it.
            window.Put(static_cast<std::uint8_t>(peek >> 7));
            bits.Skip(9);
            --left;
            continue;
        }
        const std::uint32_t length = ReadPrefixed(bits, 0, 7) - 1 + kMinMatch;
        const std::uint32_t distance = ReadPrefixed(bits, 9, 13) + 1;
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(length, left));
        window.Copy(distance, count);
        left -= count;
    }
    window.Flush();
}

}  // namespace zembrat::arj
