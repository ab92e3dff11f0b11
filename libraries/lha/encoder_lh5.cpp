// The static Huffman family's encoder (-lh5-, -lh6-, -lh7-): LZ77 tokens gathered into blocks
// of at most 65535 codes, each block with its own code tables.
#include <array>
#include <bit>
#include <vector>

#include "bit_writer.h"
#include "encoder.h"
#include "huffman_encoder.h"
#include "match_finder.h"

namespace zembrat::lha {
namespace {

constexpr int kLiteralCodes = 510;
constexpr int kLengthCodes = 19;
constexpr int kMaxCodeLength = 16;
constexpr std::size_t kBlockCodes = 65535;

std::uint32_t PositionSlot(std::uint32_t position) {
    return position == 0 ? 0 : static_cast<std::uint32_t>(std::bit_width(position));
}

class BlockEncoder final : public TokenSink {
  public:
    BlockEncoder(OutputStream& output, int dictionaryBits)
        : bits_(output),
          positionCodes_(dictionaryBits + 1),
          positionBits_(dictionaryBits <= 13 ? 4 : 5),
          positionFrequency_(static_cast<std::size_t>(positionCodes_), 0) {
        codes_.reserve(kBlockCodes);
        positions_.reserve(kBlockCodes);
        // Until a block has been priced: literals at 8 bits, lengths and positions a little
        // dearer as they grow.
        for (int code = 0; code < kLiteralCodes; ++code) {
            costs_.code[static_cast<std::size_t>(code)] =
                code < 256 ? 8
                           : 7 + static_cast<std::uint32_t>(std::bit_width(unsigned(code - 255)));
        }
        for (std::uint32_t slot = 0; slot < costs_.position.size(); ++slot) {
            costs_.position[slot] = 3 + slot + (slot > 1 ? slot - 1 : 0) / 2;
        }
    }

    const CodeCosts& Costs() const { return costs_; }

    void Literal(std::uint8_t byte) override {
        codes_.push_back(byte);
        ++literalFrequency_[byte];
        if (codes_.size() == kBlockCodes) {
            WriteBlock();
        }
    }

    void Match(std::uint32_t length, std::uint32_t distance) override {
        auto code = static_cast<std::uint16_t>(length - MatchFinder::kMinMatch + 256);
        codes_.push_back(code);
        ++literalFrequency_[code];
        std::uint32_t position = distance - 1;
        positions_.push_back(static_cast<std::uint16_t>(position));
        ++positionFrequency_[PositionSlot(position)];
        if (codes_.size() == kBlockCodes) {
            WriteBlock();
        }
    }

    void Finish() {
        if (!codes_.empty()) {
            WriteBlock();
        }
        // The stream ends with the byte holding its last bit: some readers reject any byte
        // more (while one other reader over-reads at the very end of an archive file even so).
        bits_.Finish();
    }

  private:
    static int UsedSymbols(std::span<const std::uint32_t> frequency, std::uint32_t& only) {
        int used = 0;
        only = 0;
        for (std::uint32_t s = 0; s < frequency.size(); ++s) {
            if (frequency[s] != 0) {
                ++used;
                only = s;
            }
        }
        return used;
    }

    // Lengths of the code-length and position tables: a count, then 3-bit lengths with
    // 7 and more continued in unary; after the third length of the code-length table a
    // 2-bit run of zero lengths.
    void WriteSmallTable(std::span<const std::uint8_t> lengths, int countBits, int zeroRunAt) {
        std::size_t count = lengths.size();
        while (count > 0 && lengths[count - 1] == 0) {
            --count;
        }
        bits_.Put(static_cast<std::uint32_t>(count), countBits);
        std::size_t i = 0;
        while (i < count) {
            unsigned length = lengths[i++];
            if (length <= 6) {
                bits_.Put(length, 3);
            } else {
                bits_.Put(7, 3);
                bits_.Put(((1u << (length - 7)) - 1) << 1, static_cast<int>(length - 6));
            }
            if (static_cast<int>(i) == zeroRunAt) {
                unsigned zeros = 0;
                while (zeros < 3 && i < count && lengths[i] == 0) {
                    ++zeros;
                    ++i;
                }
                bits_.Put(zeros, 2);
            }
        }
    }

    template <typename Emit>
    static void ForEachLiteralLength(std::span<const std::uint8_t> lengths, std::size_t count,
                                     Emit emit) {
        std::size_t i = 0;
        while (i < count) {
            unsigned length = lengths[i++];
            if (length != 0) {
                emit(length + 2, 0, 0);
                continue;
            }
            unsigned zeros = 1;
            while (i < count && lengths[i] == 0) {
                ++zeros;
                ++i;
            }
            if (zeros <= 2) {
                for (unsigned k = 0; k < zeros; ++k) {
                    emit(0, 0, 0);
                }
            } else if (zeros <= 18) {
                emit(1, zeros - 3, 4);
            } else if (zeros == 19) {
                emit(0, 0, 0);
                emit(1, 15, 4);
            } else {
                emit(2, zeros - 20, 9);
            }
        }
    }

    void WriteBlock() {
        bits_.Put(static_cast<std::uint32_t>(codes_.size()), 16);
        std::uint32_t onlyLiteral = 0;
        std::vector<std::uint8_t> literalLengths;
        if (UsedSymbols(literalFrequency_, onlyLiteral) <= 1) {
            bits_.Put(0, 5);
            bits_.Put(0, 5);
            bits_.Put(0, 9);
            bits_.Put(onlyLiteral, 9);
            literalLengths.assign(kLiteralCodes, 0);
        } else {
            literalLengths = BuildCodeLengths(literalFrequency_, kMaxCodeLength);
            std::size_t count = kLiteralCodes;
            while (count > 0 && literalLengths[count - 1] == 0) {
                --count;
            }
            std::array<std::uint32_t, kLengthCodes> lengthFrequency{};
            ForEachLiteralLength(literalLengths, count,
                                 [&](unsigned code, unsigned, int) { ++lengthFrequency[code]; });
            std::uint32_t onlyLength = 0;
            std::vector<std::uint8_t> lengthLengths(kLengthCodes, 0);
            if (UsedSymbols(lengthFrequency, onlyLength) <= 1) {
                bits_.Put(0, 5);
                bits_.Put(onlyLength, 5);
            } else {
                lengthLengths = BuildCodeLengths(lengthFrequency, kMaxCodeLength);
                WriteSmallTable(lengthLengths, 5, 3);
            }
            auto lengthCodes = CanonicalCodes(lengthLengths);
            bits_.Put(static_cast<std::uint32_t>(count), 9);
            ForEachLiteralLength(literalLengths, count,
                                 [&](unsigned code, unsigned extra, int extraBits) {
                                     bits_.Put(lengthCodes[code], lengthLengths[code]);
                                     bits_.Put(extra, extraBits);
                                 });
        }
        std::uint32_t onlyPosition = 0;
        std::vector<std::uint8_t> positionLengths(static_cast<std::size_t>(positionCodes_), 0);
        if (UsedSymbols(positionFrequency_, onlyPosition) <= 1) {
            bits_.Put(0, positionBits_);
            bits_.Put(onlyPosition, positionBits_);
        } else {
            positionLengths = BuildCodeLengths(positionFrequency_, kMaxCodeLength);
            WriteSmallTable(positionLengths, positionBits_, -1);
        }
        Price(literalLengths, positionLengths);
        auto literalCodes = CanonicalCodes(literalLengths);
        auto positionCodes = CanonicalCodes(positionLengths);
        std::size_t match = 0;
        for (std::uint16_t code : codes_) {
            bits_.Put(literalCodes[code], literalLengths[code]);
            if (code < 256) {
                continue;
            }
            std::uint32_t position = positions_[match++];
            std::uint32_t slot = PositionSlot(position);
            bits_.Put(positionCodes[slot], positionLengths[slot]);
            if (slot > 1) {
                bits_.Put(position, static_cast<int>(slot - 1));
            }
        }
        codes_.clear();
        positions_.clear();
        literalFrequency_.fill(0);
        std::fill(positionFrequency_.begin(), positionFrequency_.end(), 0);
    }

    // The next block is parsed with this block's code lengths; unused codes are priced high.
    void Price(std::span<const std::uint8_t> literalLengths,
               std::span<const std::uint8_t> positionLengths) {
        constexpr std::uint32_t kUnused = 16;
        for (std::size_t code = 0; code < literalLengths.size(); ++code) {
            costs_.code[code] = literalLengths[code] != 0 ? literalLengths[code] : kUnused;
        }
        for (std::size_t slot = 0; slot < costs_.position.size(); ++slot) {
            std::uint32_t length = slot < positionLengths.size() && positionLengths[slot] != 0
                                       ? positionLengths[slot]
                                       : kUnused;
            costs_.position[slot] = length + (slot > 1 ? static_cast<std::uint32_t>(slot) - 1 : 0);
        }
    }

    BitWriter bits_;
    CodeCosts costs_;
    int positionCodes_;
    int positionBits_;
    std::vector<std::uint16_t> codes_;
    std::vector<std::uint16_t> positions_;
    std::array<std::uint32_t, kLiteralCodes> literalFrequency_{};
    std::vector<std::uint32_t> positionFrequency_;
};

void Encode(InputStream& input, std::uint64_t size, OutputStream& output, int dictionaryBits,
            int level) {
    BlockEncoder blocks(output, dictionaryBits);
    // Level 0 parses lazily; level 1 prices every path (several times slower, a few per
    // cent smaller).
    MatchFinder finder(dictionaryBits, MatchEffort{});
    if (level > 0) {
        finder.ParseOptimal(input, size, blocks, blocks.Costs());
    } else {
        finder.Parse(input, size, blocks);
    }
    blocks.Finish();
}

}  // namespace

void EncodeLh5(InputStream& input, std::uint64_t size, OutputStream& output, int level) {
    Encode(input, size, output, 13, level);
}
void EncodeLh6(InputStream& input, std::uint64_t size, OutputStream& output, int level) {
    Encode(input, size, output, 15, level);
}
void EncodeLh7(InputStream& input, std::uint64_t size, OutputStream& output, int level) {
    Encode(input, size, output, 16, level);
}

}  // namespace zembrat::lha
