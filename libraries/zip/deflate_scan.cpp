#include "deflate_scan.h"

#include <array>
#include <cstring>
#include <vector>

namespace zembrat::zip {

namespace {

constexpr int kMaxCodeBits = 15;
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint8_t, 30> kDistanceExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                         4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                         9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<std::uint8_t, 19> kCodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};

class BitReader {
  public:
    explicit BitReader(std::span<const std::byte> data) : data_(data) {}

    std::uint64_t Position() const { return position_; }
    bool Overrun() const { return position_ > data_.size() * 8; }

    // The next up to 32 bits, zeros past the end.
    std::uint32_t Peek() const {
        const std::size_t byte = static_cast<std::size_t>(position_ / 8);
        std::uint64_t word = 0;
        if (byte + 8 <= data_.size()) {
            std::memcpy(&word, data_.data() + byte, 8);  // one unaligned load
        } else if (byte < data_.size()) {
            std::memcpy(&word, data_.data() + byte, data_.size() - byte);
        }
        return static_cast<std::uint32_t>(word >> (position_ % 8));
    }
    void Skip(unsigned bits) { position_ += bits; }
    std::uint32_t Bits(unsigned count) {
        const std::uint32_t value = count == 0 ? 0 : Peek() & ((1u << count) - 1);
        position_ += count;
        return value;
    }
    void AlignToByte() { position_ = (position_ + 7) / 8 * 8; }

  private:
    std::span<const std::byte> data_;
    std::uint64_t position_ = 0;
};

// A canonical Huffman code as one lookup table indexed by the next maxBits bits (deflate
// sends codes most significant bit first, so the table is indexed by reversed codes).
class HuffmanTable {
  public:
    bool Build(std::span<const std::uint8_t> lengths) {
        std::array<std::uint16_t, kMaxCodeBits + 1> count{};
        maxBits_ = 0;
        for (const auto length : lengths) {
            ++count[length];
            maxBits_ = std::max<unsigned>(maxBits_, length);
        }
        count[0] = 0;
        if (maxBits_ == 0) {
            maxBits_ = 1;  // a code with no symbols: any use of it is an error
        }
        std::array<std::uint32_t, kMaxCodeBits + 2> next{};
        std::uint32_t code = 0;
        for (unsigned bits = 1; bits <= kMaxCodeBits; ++bits) {
            code = (code + count[bits - 1]) << 1;
            next[bits] = code;
        }
        entries_.assign(std::size_t{1} << maxBits_, kInvalid);
        for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
            const unsigned length = lengths[symbol];
            if (length == 0) {
                continue;
            }
            const std::uint32_t value = next[length]++;
            if (value >= (1u << length)) {
                return false;  // oversubscribed
            }
            std::uint32_t reversed = 0;
            for (unsigned i = 0; i < length; ++i) {
                reversed |= ((value >> i) & 1u) << (length - 1 - i);
            }
            for (std::uint32_t fill = reversed; fill < entries_.size(); fill += 1u << length) {
                entries_[fill] = static_cast<std::uint16_t>((symbol << 4) | length);
            }
        }
        return true;
    }

    // The next symbol, or -1 for a bit pattern that is no code.
    int Decode(BitReader& in) const {
        const std::uint16_t entry = entries_[in.Peek() & ((1u << maxBits_) - 1)];
        if (entry == kInvalid) {
            return -1;
        }
        in.Skip(entry & 0xF);
        return entry >> 4;
    }

  private:
    static constexpr std::uint16_t kInvalid = 0;  // a length of 0 never names a code
    std::vector<std::uint16_t> entries_;
    unsigned maxBits_ = 0;
};

bool ReadDynamicTables(BitReader& in, HuffmanTable& literals, HuffmanTable& distances) {
    const unsigned literalCount = in.Bits(5) + 257;
    const unsigned distanceCount = in.Bits(5) + 1;
    const unsigned codeLengthCount = in.Bits(4) + 4;
    std::array<std::uint8_t, 19> codeLengthLengths{};
    for (unsigned i = 0; i < codeLengthCount; ++i) {
        codeLengthLengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(in.Bits(3));
    }
    HuffmanTable codeLengths;
    if (literalCount > 286 || distanceCount > 30 || !codeLengths.Build(codeLengthLengths)) {
        return false;
    }
    std::array<std::uint8_t, 286 + 30> lengths{};
    for (unsigned i = 0; i < literalCount + distanceCount;) {
        const int symbol = codeLengths.Decode(in);
        if (symbol < 0 || in.Overrun()) {
            return false;
        }
        if (symbol < 16) {
            lengths[i++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        if (symbol == 16 && i == 0) {
            return false;
        }
        const std::uint8_t value = symbol == 16 ? lengths[i - 1] : 0;
        const unsigned repeat = symbol == 16   ? 3 + in.Bits(2)
                                : symbol == 17 ? 3 + in.Bits(3)
                                               : 11 + in.Bits(7);
        if (i + repeat > literalCount + distanceCount) {
            return false;
        }
        for (unsigned k = 0; k < repeat; ++k) {
            lengths[i++] = value;
        }
    }
    return literals.Build(std::span(lengths).first(literalCount)) &&
           distances.Build(std::span(lengths).subspan(literalCount, distanceCount));
}

// Walks one block's symbols up to its end-of-block code.
bool SkipSymbols(BitReader& in, const HuffmanTable& literals, const HuffmanTable& distances) {
    for (;;) {
        const int symbol = literals.Decode(in);
        if (symbol < 0 || symbol > 285 || in.Overrun()) {
            return false;
        }
        if (symbol < 256) {
            continue;
        }
        if (symbol == 256) {
            return true;
        }
        in.Skip(kLengthExtra[static_cast<std::size_t>(symbol - 257)]);
        const int distance = distances.Decode(in);
        if (distance < 0 || distance >= 30) {
            return false;
        }
        in.Skip(kDistanceExtra[static_cast<std::size_t>(distance)]);
    }
}

}  // namespace

std::optional<FinalBlock> FindFinalBlock(std::span<const std::byte> stream) {
    BitReader in(stream);
    HuffmanTable fixedLiterals;
    HuffmanTable fixedDistances;
    HuffmanTable literals;
    HuffmanTable distances;
    bool fixedBuilt = false;
    for (;;) {
        const std::uint64_t start = in.Position();
        const bool final = in.Bits(1) != 0;
        const unsigned type = in.Bits(2);
        if (type == 0) {
            in.AlignToByte();
            const std::uint32_t length = in.Bits(16);
            if ((in.Bits(16) ^ 0xFFFF) != length) {
                return std::nullopt;
            }
            in.Skip(length * 8);
        } else if (type == 1) {
            if (!fixedBuilt) {
                std::array<std::uint8_t, 288> lengths{};
                std::fill(lengths.begin(), lengths.begin() + 144, 8);
                std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
                std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
                std::fill(lengths.begin() + 280, lengths.end(), 8);
                std::array<std::uint8_t, 30> distanceLengths;
                distanceLengths.fill(5);
                fixedLiterals.Build(lengths);
                fixedDistances.Build(distanceLengths);
                fixedBuilt = true;
            }
            if (!SkipSymbols(in, fixedLiterals, fixedDistances)) {
                return std::nullopt;
            }
        } else if (type == 2) {
            if (!ReadDynamicTables(in, literals, distances) ||
                !SkipSymbols(in, literals, distances)) {
                return std::nullopt;
            }
        } else {
            return std::nullopt;
        }
        if (in.Overrun()) {
            return std::nullopt;
        }
        if (final) {
            return FinalBlock{start, in.Position()};
        }
    }
}

}  // namespace zembrat::zip
