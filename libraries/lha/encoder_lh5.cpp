// The static Huffman family's encoder (-lh5-, -lh6-, -lh7-): LZ77 tokens gathered into blocks
// of at most 65535 codes, each block with its own code tables.
#include <algorithm>
#include <array>
#include <bit>
#include <numeric>
#include <type_traits>
#include <vector>

#include "bit_writer.h"
#include "chunked_parse.h"
#include "encoder.h"
#include "huffman_encoder.h"

namespace zembrat::lha {
namespace {

constexpr int kLiteralCodes = 510;
constexpr int kLengthCodes = 19;
constexpr int kMaxCodeLength = 16;
constexpr std::size_t kBlockCodes = 65535;
constexpr std::size_t kSplitCodes = 2048;  // the shortest block a split makes
constexpr int kMostPositionCodes = 17;

class BlockEncoder {
  public:
    BlockEncoder(OutputStream& output, int dictionaryBits)
        : bits_(output),
          costs_(CodeCosts::Starting()),
          positionCodes_(dictionaryBits + 1),
          positionBits_(dictionaryBits <= 13 ? 4 : 5) {
        codes_.reserve(kBlockCodes);
        positions_.reserve(kBlockCodes);
    }

    const CodeCosts& Costs() const { return costs_; }

    // Adds a chunk's codes, writing blocks as they fill. A full block is written only once
    // more codes come, so that the stream's last code is still at hand in Finish.
    void Append(const TokenList& tokens) {
        std::size_t match = 0;
        for (std::size_t i = 0; i < tokens.codes.size();) {
            if (codes_.size() == kBlockCodes) {
                WriteBlocks();
            }
            std::size_t n = std::min(tokens.codes.size() - i, kBlockCodes - codes_.size());
            auto first = tokens.codes.begin() + static_cast<std::ptrdiff_t>(i);
            auto matches = static_cast<std::size_t>(
                std::count_if(first, first + static_cast<std::ptrdiff_t>(n),
                              [](std::uint16_t c) { return c >= 256; }));
            codes_.insert(codes_.end(), first, first + static_cast<std::ptrdiff_t>(n));
            auto from = tokens.positions.begin() + static_cast<std::ptrdiff_t>(match);
            positions_.insert(positions_.end(), from, from + static_cast<std::ptrdiff_t>(matches));
            i += n;
            match += matches;
        }
    }

    void Finish() {
        if (!codes_.empty()) {
            finishing_ = true;
            WriteBlocks();
        }
        // The stream ends with the byte holding its last bit: some readers reject any byte
        // more (WriteLastBlock keeps the look-ahead of the others within it).
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

    // Counts the bits a block would take, to choose where blocks end.
    struct BitCounter {
        std::uint64_t bits = 0;
        void Put(std::uint32_t, int n) { bits += static_cast<std::uint64_t>(n); }
    };

    // One part of the codes gathered so far: codes [begin, end), their matches' positions
    // from matchBegin, and how often each code and position slot occurs there.
    struct Range {
        std::size_t begin = 0;
        std::size_t end = 0;
        std::size_t matchBegin = 0;
        std::array<std::uint32_t, kLiteralCodes> literalFrequency{};
        std::array<std::uint32_t, kMostPositionCodes> positionFrequency{};
    };

    // Writes the gathered codes as one block, or as two halves (each split again the same
    // way, down to kSplitCodes) when the halves' own tables make them smaller: text and
    // program code, for instance, want different tables. The codes are counted once, in
    // pieces of kSplitCodes that every candidate block is made of.
    void WriteBlocks() {
        pieces_.clear();
        std::size_t match = 0;
        for (std::size_t begin = 0; begin < codes_.size(); begin += kSplitCodes) {
            Range& piece = pieces_.emplace_back();
            piece.begin = begin;
            piece.end = std::min(codes_.size(), begin + kSplitCodes);
            piece.matchBegin = match;
            for (std::size_t i = piece.begin; i < piece.end; ++i) {
                std::uint16_t code = codes_[i];
                ++piece.literalFrequency[code];
                if (code >= 256) {
                    ++piece.positionFrequency[PositionSlot(positions_[match++])];
                }
            }
        }
        Range all = Join(0, pieces_.size());
        BitCounter counter;
        WriteBlock(counter, all);
        WriteSplit(0, pieces_.size(), all, counter.bits);
        codes_.clear();
        positions_.clear();
    }

    Range Join(std::size_t first, std::size_t end) const {
        Range joined = pieces_[first];
        for (std::size_t k = first + 1; k < end; ++k) {
            const Range& piece = pieces_[k];
            joined.end = piece.end;
            for (std::size_t c = 0; c < joined.literalFrequency.size(); ++c) {
                joined.literalFrequency[c] += piece.literalFrequency[c];
            }
            for (std::size_t c = 0; c < joined.positionFrequency.size(); ++c) {
                joined.positionFrequency[c] += piece.positionFrequency[c];
            }
        }
        return joined;
    }

    void WriteSplit(std::size_t first, std::size_t end, const Range& whole,
                    std::uint64_t wholeBits) {
        if (end - first >= 2) {
            std::size_t middle = first + (end - first) / 2;
            Range left = Join(first, middle);
            Range right = Join(middle, end);
            BitCounter leftBits, rightBits;
            WriteBlock(leftBits, left);
            WriteBlock(rightBits, right);
            if (leftBits.bits + rightBits.bits < wholeBits) {
                WriteSplit(first, middle, left, leftBits.bits);
                WriteSplit(middle, end, right, rightBits.bits);
                return;
            }
        }
        if (finishing_ && whole.end == codes_.size()) {
            WriteLastBlock(whole);
        } else {
            WriteBlock(bits_, whole);
        }
    }

    // Lengths of the code-length and position tables: a count, then 3-bit lengths with
    // 7 and more continued in unary; after the third length of the code-length table a
    // 2-bit run of zero lengths.
    template <typename Out>
    static void WriteSmallTable(Out& out, std::span<const std::uint8_t> lengths, int countBits,
                                int zeroRunAt) {
        std::size_t count = lengths.size();
        while (count > 0 && lengths[count - 1] == 0) {
            --count;
        }
        out.Put(static_cast<std::uint32_t>(count), countBits);
        std::size_t i = 0;
        while (i < count) {
            unsigned length = lengths[i++];
            if (length <= 6) {
                out.Put(length, 3);
            } else {
                out.Put(7, 3);
                out.Put(((1u << (length - 7)) - 1) << 1, static_cast<int>(length - 6));
            }
            if (static_cast<int>(i) == zeroRunAt) {
                unsigned zeros = 0;
                while (zeros < 3 && i < count && lengths[i] == 0) {
                    ++zeros;
                    ++i;
                }
                out.Put(zeros, 2);
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

    // A block's code lengths. A table with one used code goes in its one-code form: its
    // lengths are all 0 here and the code is in only*.
    struct Tables {
        std::vector<std::uint8_t> literal;
        std::vector<std::uint8_t> position;
        std::uint32_t onlyLiteral = 0;
        std::uint32_t onlyPosition = 0;
        bool oneLiteral = false;
        bool onePosition = false;
    };

    std::span<const std::uint32_t> PositionFrequency(const Range& range) const {
        return std::span<const std::uint32_t>(range.positionFrequency)
            .first(static_cast<std::size_t>(positionCodes_));
    }

    Tables MakeTables(const Range& range) const {
        Tables tables;
        tables.oneLiteral = UsedSymbols(range.literalFrequency, tables.onlyLiteral) <= 1;
        tables.literal = tables.oneLiteral
                             ? std::vector<std::uint8_t>(kLiteralCodes, 0)
                             : BuildCodeLengths(range.literalFrequency, kMaxCodeLength);
        auto positionFrequency = PositionFrequency(range);
        tables.onePosition = UsedSymbols(positionFrequency, tables.onlyPosition) <= 1;
        tables.position = tables.onePosition
                              ? std::vector<std::uint8_t>(positionFrequency.size(), 0)
                              : BuildCodeLengths(positionFrequency, kMaxCodeLength);
        return tables;
    }

    template <typename Out>
    void WriteTables(Out& out, const Tables& tables) const {
        if (tables.oneLiteral) {
            out.Put(0, 5);
            out.Put(0, 5);
            out.Put(0, 9);
            out.Put(tables.onlyLiteral, 9);
        } else {
            std::span<const std::uint8_t> literalLengths = tables.literal;
            std::size_t count = kLiteralCodes;
            while (count > 0 && literalLengths[count - 1] == 0) {
                --count;
            }
            std::array<std::uint32_t, kLengthCodes> lengthFrequency{};
            ForEachLiteralLength(literalLengths, count,
                                 [&](unsigned code, unsigned, int) { ++lengthFrequency[code]; });
            // One reader fails on some blocks whose table of code lengths is in its one-code
            // form (seen with short literal tables): a second code, unused, makes it an
            // ordinary table of two one-bit codes.
            std::uint32_t onlyLength = 0;
            if (UsedSymbols(lengthFrequency, onlyLength) <= 1) {
                lengthFrequency[onlyLength == 0 ? 1 : onlyLength - 1] = 1;
            }
            std::vector<std::uint8_t> lengthLengths =
                BuildCodeLengths(lengthFrequency, kMaxCodeLength);
            WriteSmallTable(out, lengthLengths, 5, 3);
            auto lengthCodes = CanonicalCodes(lengthLengths);
            out.Put(static_cast<std::uint32_t>(count), 9);
            ForEachLiteralLength(literalLengths, count,
                                 [&](unsigned code, unsigned extra, int extraBits) {
                                     out.Put(lengthCodes[code], lengthLengths[code]);
                                     out.Put(extra, extraBits);
                                 });
        }
        if (tables.onePosition) {
            out.Put(0, positionBits_);
            out.Put(tables.onlyPosition, positionBits_);
        } else {
            WriteSmallTable(out, tables.position, positionBits_, -1);
        }
    }

    // The bits of a range's codes, from how often each occurs.
    std::uint64_t CodeBits(const Tables& tables, const Range& range) const {
        std::uint64_t bits = 0;
        for (std::size_t code = 0; code < range.literalFrequency.size(); ++code) {
            bits += std::uint64_t{range.literalFrequency[code]} * tables.literal[code];
        }
        auto positionFrequency = PositionFrequency(range);
        for (std::size_t slot = 0; slot < positionFrequency.size(); ++slot) {
            bits += std::uint64_t{positionFrequency[slot]} *
                    (tables.position[slot] + (slot > 1 ? slot - 1 : 0));
        }
        return bits;
    }

    // Writes the range as one block, or counts the bits it would take.
    template <typename Out>
    void WriteBlock(Out& out, const Range& range) {
        Tables tables = MakeTables(range);
        if constexpr (std::is_same_v<Out, BitWriter>) {
            WriteCodes(tables, range, range.end);
        } else {
            out.Put(0, 16);
            WriteTables(out, tables);
            out.bits += CodeBits(tables, range);
        }
    }

    // Writes the codes [range.begin, end) as a block with the range's tables.
    void WriteCodes(const Tables& tables, const Range& range, std::size_t end) {
        bits_.Put(static_cast<std::uint32_t>(end - range.begin), 16);
        WriteTables(bits_, tables);
        // The next block is parsed by this block's code lengths.
        PriceByLengths(costs_, tables.literal, tables.position);
        auto literalCodes = CanonicalCodes(tables.literal);
        auto positionCodes = CanonicalCodes(tables.position);
        std::size_t match = range.matchBegin;
        for (std::size_t i = range.begin; i < end; ++i) {
            std::uint16_t code = codes_[i];
            bits_.Put(literalCodes[code], tables.literal[code]);
            if (code < 256) {
                continue;
            }
            std::uint32_t position = positions_[match++];
            std::uint32_t slot = PositionSlot(position);
            bits_.Put(positionCodes[slot], tables.position[slot]);
            if (slot > 1) {
                bits_.Put(position, static_cast<int>(slot - 1));
            }
        }
    }

    static std::size_t MatchesIn(const Range& range) {
        return std::accumulate(range.positionFrequency.begin(), range.positionFrequency.end(),
                               std::size_t{0});
    }

    // Readers differ at the end of a stream. Some look as many bits ahead as a table's
    // longest code before each code and fail when those bits are not in the stream; one
    // fails on a last block whose literal table is in its one-code form; and some reject
    // any byte after the last code, so the stream cannot simply be padded. The stream's
    // last block is therefore written only when each of its last codes has at least its
    // table's longest code of bits after its start; otherwise its last code goes into a
    // block of its own, coded in one bit by a literal table of two codes.
    void WriteLastBlock(const Range& range) {
        Tables tables = MakeTables(range);
        BitCounter header;
        header.Put(0, 16);
        WriteTables(header, tables);
        std::uint64_t end = static_cast<std::uint64_t>(bits_.BitsIntoByte()) + header.bits +
                            CodeBits(tables, range);
        if (LastCodesInReach(tables, range, static_cast<int>((8 - end % 8) % 8))) {
            WriteCodes(tables, range, range.end);
            return;
        }
        if (range.end - range.begin > 1) {
            WriteCodes(tables, range, range.end - 1);
        }
        Range last;
        last.begin = range.end - 1;
        last.end = range.end;
        std::uint16_t code = codes_[last.begin];
        last.matchBegin = range.matchBegin + MatchesIn(range) - (code >= 256 ? 1 : 0);
        last.literalFrequency[code] = 1;
        last.literalFrequency[code == 0 ? 1 : code - 1] = 1;
        if (code >= 256) {
            last.positionFrequency[PositionSlot(positions_[last.matchBegin])] = 1;
        }
        WriteBlock(bits_, last);
    }

    // Whether each of the range's last codes, written with these tables and followed by
    // padding bits, has its table's longest code of bits from its start to the end.
    bool LastCodesInReach(const Tables& tables, const Range& range, int padding) const {
        if (tables.oneLiteral) {
            return false;
        }
        unsigned longestLiteral = *std::max_element(tables.literal.begin(), tables.literal.end());
        unsigned longestPosition =
            *std::max_element(tables.position.begin(), tables.position.end());
        auto after = static_cast<unsigned>(padding);
        std::size_t match = range.matchBegin + MatchesIn(range);
        for (std::size_t i = range.end; i-- > range.begin && after < kMaxCodeLength;) {
            std::uint16_t code = codes_[i];
            if (code >= 256) {
                std::uint32_t slot = PositionSlot(positions_[--match]);
                after += slot > 1 ? slot - 1 : 0;
                if (!tables.onePosition) {
                    after += tables.position[slot];
                    if (after < longestPosition) {
                        return false;
                    }
                }
            }
            after += tables.literal[code];
            if (after < longestLiteral) {
                return false;
            }
        }
        return true;
    }

    BitWriter bits_;
    CodeCosts costs_;
    int positionCodes_;
    int positionBits_;
    // Codes of the blocks not yet written, as TokenList holds them.
    std::vector<std::uint16_t> codes_;
    std::vector<std::uint16_t> positions_;
    std::vector<Range> pieces_;
    bool finishing_ = false;  // the codes gathered end the stream
};

void Encode(InputStream& input, std::uint64_t size, OutputStream& output, int dictionaryBits,
            const EncodeSettings& settings) {
    BlockEncoder blocks(output, dictionaryBits);
    // Level 0 parses lazily; level 1 prices every path (several times slower, a few per
    // cent smaller).
    ParseInChunks(
        input, size,
        ChunkedParse{
            .windowBits = dictionaryBits, .level = settings.level, .threads = settings.threads},
        blocks.Costs(), [&blocks](const TokenList& tokens) { blocks.Append(tokens); });
    blocks.Finish();
}

}  // namespace

void EncodeLh5(InputStream& input, std::uint64_t size, OutputStream& output,
               const EncodeSettings& settings) {
    Encode(input, size, output, 13, settings);
}
void EncodeLh6(InputStream& input, std::uint64_t size, OutputStream& output,
               const EncodeSettings& settings) {
    Encode(input, size, output, 15, settings);
}
void EncodeLh7(InputStream& input, std::uint64_t size, OutputStream& output,
               const EncodeSettings& settings) {
    Encode(input, size, output, 16, settings);
}

}  // namespace zembrat::lha
