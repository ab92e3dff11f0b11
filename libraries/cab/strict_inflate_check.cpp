// Walks a raw deflate stream the way a strict MSZIP reader decodes it, without producing its
// output: the block headers are read and checked, and the bodies decoded far enough to find
// where the next block starts.
#include "strict_inflate_check.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zembrat::cab {

namespace {

constexpr unsigned kMaxCodeBits = 15;
constexpr unsigned kSymbolBits = 9;  // a table entry: the symbol, then its code's length

class BitReader {
  public:
    explicit BitReader(std::span<const unsigned char> data) : data_(data) {}

    std::uint32_t Peek(unsigned count) {
        Refill();
        return static_cast<std::uint32_t>(bits_ & ((std::uint64_t{1} << count) - 1));
    }
    void Skip(unsigned count) {
        bits_ >>= count;
        held_ -= count;
    }
    std::uint32_t Take(unsigned count) {
        const std::uint32_t value = Peek(count);
        Skip(count);
        return value;
    }
    void AlignToByte() { Skip(held_ % 8); }
    // Skips whole bytes; the reader must be aligned.
    void SkipBytes(std::size_t count) {
        next_ = next_ - held_ / 8 + count;
        bits_ = 0;
        held_ = 0;
    }
    // True once more bits were taken than the stream holds.
    bool Overrun() const { return (next_ - held_ / 8) > data_.size(); }

  private:
    // Past the end the reader sees zero bytes; Overrun() tells.
    void Refill() {
        if (held_ > 56) {
            return;
        }
        if (next_ + 8 <= data_.size()) {
            std::uint64_t word;
            std::memcpy(&word, data_.data() + next_, 8);  // little-endian machines only
            bits_ |= word << held_;
            next_ += (63 - held_) / 8;
            held_ |= 56;
            return;
        }
        while (held_ <= 56) {
            const std::uint64_t byte = next_ < data_.size() ? data_[next_] : 0;
            bits_ |= byte << held_;
            held_ += 8;
            ++next_;
        }
    }

    std::span<const unsigned char> data_;
    std::size_t next_ = 0;  // the next byte to load into bits_
    std::uint64_t bits_ = 0;
    unsigned held_ = 0;
};

static_assert(std::endian::native == std::endian::little);

class Code {
  public:
    // False when the lengths do not make a complete prefix code (an empty code included).
    bool Build(std::span<const std::uint8_t> lengths) {
        std::array<unsigned, kMaxCodeBits + 1> count{};
        for (const std::uint8_t length : lengths) {
            ++count[length];
        }
        count[0] = 0;
        std::uint32_t space = 0;
        bits_ = 0;
        for (unsigned length = 1; length <= kMaxCodeBits; ++length) {
            space += count[length] << (kMaxCodeBits - length);
            if (count[length] != 0) {
                bits_ = length;
            }
        }
        if (space != 1u << kMaxCodeBits) {
            return false;
        }
        std::array<unsigned, kMaxCodeBits + 1> nextCode{};
        unsigned code = 0;
        for (unsigned length = 1; length <= kMaxCodeBits; ++length) {
            code = (code + count[length - 1]) << 1;
            nextCode[length] = code;
        }
        table_.assign(std::size_t{1} << bits_, 0);
        for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
            const unsigned length = lengths[symbol];
            if (length == 0) {
                continue;
            }
            // Deflate sends a code's bits from its first, so the table is indexed reversed.
            const unsigned value = nextCode[length]++;
            unsigned reversed = 0;
            for (unsigned bit = 0; bit < length; ++bit) {
                reversed |= ((value >> bit) & 1u) << (length - 1 - bit);
            }
            for (std::size_t at = reversed; at < table_.size(); at += std::size_t{1} << length) {
                table_[at] = static_cast<std::uint16_t>(symbol | (length << kSymbolBits));
            }
        }
        return true;
    }

    unsigned Decode(BitReader& in) const {
        const std::uint16_t entry = table_[in.Peek(bits_)];
        in.Skip(entry >> kSymbolBits);
        return entry & ((1u << kSymbolBits) - 1);
    }

  private:
    std::vector<std::uint16_t> table_;
    unsigned bits_ = 0;
};

constexpr std::array<std::uint8_t, 29> kLengthExtraBits = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint8_t, 30> kDistanceExtraBits = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                             4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                             9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<std::uint8_t, 19> kLengthCodeOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
constexpr unsigned kEndOfBlock = 256;
constexpr unsigned kMaxLiteralLengthSymbols = 286;
constexpr unsigned kMaxDistanceSymbols = 30;

// Decodes a block's symbols up to its end; false on a symbol outside the alphabets or when
// the stream ends first.
bool WalkBody(BitReader& in, const Code& literals, const Code& distances) {
    for (;;) {
        if (in.Overrun()) {
            return false;
        }
        const unsigned symbol = literals.Decode(in);
        if (symbol < kEndOfBlock) {
            continue;
        }
        if (symbol == kEndOfBlock) {
            return true;
        }
        if (symbol >= kMaxLiteralLengthSymbols) {
            return false;
        }
        in.Take(kLengthExtraBits[symbol - kEndOfBlock - 1]);
        const unsigned distance = distances.Decode(in);
        if (distance >= kMaxDistanceSymbols) {
            return false;
        }
        in.Take(kDistanceExtraBits[distance]);
    }
}

// Reads a dynamic block's header into the two codes; false when a strict reader refuses it.
bool ReadDynamicHeader(BitReader& in, Code& literals, Code& distances) {
    const unsigned literalCount = in.Take(5) + 257;
    const unsigned distanceCount = in.Take(5) + 1;
    const unsigned lengthCodeCount = in.Take(4) + 4;
    if (literalCount > kMaxLiteralLengthSymbols || distanceCount > kMaxDistanceSymbols) {
        return false;
    }
    std::array<std::uint8_t, 19> lengthCodeLengths{};
    for (unsigned i = 0; i < lengthCodeCount; ++i) {
        lengthCodeLengths[kLengthCodeOrder[i]] = static_cast<std::uint8_t>(in.Take(3));
    }
    Code lengthCode;
    if (!lengthCode.Build(lengthCodeLengths)) {
        return false;
    }
    std::vector<std::uint8_t> lengths;
    const std::size_t total = literalCount + distanceCount;
    lengths.reserve(total);
    while (lengths.size() < total) {
        const unsigned symbol = lengthCode.Decode(in);
        if (symbol < 16) {
            lengths.push_back(static_cast<std::uint8_t>(symbol));
            continue;
        }
        std::uint8_t value = 0;
        std::size_t repeat = 0;
        if (symbol == 16) {
            if (lengths.empty()) {
                return false;
            }
            value = lengths.back();
            repeat = 3 + in.Take(2);
        } else if (symbol == 17) {
            repeat = 3 + in.Take(3);
        } else {
            repeat = 11 + in.Take(7);
        }
        if (lengths.size() + repeat > total) {
            return false;
        }
        lengths.insert(lengths.end(), repeat, value);
    }
    const std::span<const std::uint8_t> all(lengths);
    return !in.Overrun() && lengths[kEndOfBlock] != 0 && literals.Build(all.first(literalCount)) &&
           distances.Build(all.subspan(literalCount));
}

}  // namespace

bool StrictReadersTake(std::span<const unsigned char> stream) {
    BitReader in(stream);
    Code literals, distances;
    bool last = false;
    while (!last) {
        last = in.Take(1) != 0;
        const unsigned type = in.Take(2);
        if (type == 0) {
            in.AlignToByte();
            const std::uint32_t length = in.Take(16);
            if (in.Take(16) != (~length & 0xFFFF)) {
                return false;
            }
            in.SkipBytes(length);
        } else if (type == 1) {
            static const auto fixed = [] {
                std::array<std::uint8_t, 288> literalLengths{};
                for (unsigned symbol = 0; symbol < literalLengths.size(); ++symbol) {
                    literalLengths[symbol] = symbol < 144   ? 8
                                             : symbol < 256 ? 9
                                             : symbol < 280 ? 7
                                                            : 8;
                }
                std::array<std::uint8_t, 32> distanceLengths;
                distanceLengths.fill(5);
                std::pair<Code, Code> codes;
                codes.first.Build(literalLengths);
                codes.second.Build(distanceLengths);
                return codes;
            }();
            if (!last && !WalkBody(in, fixed.first, fixed.second)) {
                return false;
            }
        } else if (type == 2) {
            // Nothing follows the last block: its body need not be walked.
            if (!ReadDynamicHeader(in, literals, distances) ||
                (!last && !WalkBody(in, literals, distances))) {
                return false;
            }
        } else {
            return false;
        }
        if (in.Overrun()) {
            return false;
        }
    }
    return true;
}

}  // namespace zembrat::cab
