// The static Huffman family's encoder (-lh5-, -lh6-, -lh7-): LZ77 tokens gathered into blocks
// of at most 65535 codes, each block with its own code tables.
#include <algorithm>
#include <array>
#include <bit>
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

    // Adds a chunk's codes, writing blocks as they fill.
    void Append(const TokenList& tokens) {
        std::size_t match = 0;
        for (std::size_t i = 0; i < tokens.codes.size();) {
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
            if (codes_.size() == kBlockCodes) {
                WriteBlocks();
            }
        }
    }

    void Finish() {
        if (!codes_.empty()) {
            WriteBlocks();
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
        WriteBlock(bits_, whole);
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

    template <typename Out>
    void WriteBlock(Out& out, const Range& range) {
        std::span<const std::uint32_t> literalFrequency = range.literalFrequency;
        auto positionFrequency = std::span<const std::uint32_t>(range.positionFrequency)
                                     .first(static_cast<std::size_t>(positionCodes_));
        constexpr bool kWriting = std::is_same_v<Out, BitWriter>;
        out.Put(static_cast<std::uint32_t>(range.end - range.begin), 16);
        std::uint32_t onlyLiteral = 0;
        std::vector<std::uint8_t> literalLengths;
        if (UsedSymbols(literalFrequency, onlyLiteral) <= 1) {
            out.Put(0, 5);
            out.Put(0, 5);
            out.Put(0, 9);
            out.Put(onlyLiteral, 9);
            literalLengths.assign(kLiteralCodes, 0);
        } else {
            literalLengths = BuildCodeLengths(literalFrequency, kMaxCodeLength);
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
                out.Put(0, 5);
                out.Put(onlyLength, 5);
            } else {
                lengthLengths = BuildCodeLengths(lengthFrequency, kMaxCodeLength);
                WriteSmallTable(out, lengthLengths, 5, 3);
            }
            auto lengthCodes = CanonicalCodes(lengthLengths);
            out.Put(static_cast<std::uint32_t>(count), 9);
            ForEachLiteralLength(literalLengths, count,
                                 [&](unsigned code, unsigned extra, int extraBits) {
                                     out.Put(lengthCodes[code], lengthLengths[code]);
                                     out.Put(extra, extraBits);
                                 });
        }
        std::uint32_t onlyPosition = 0;
        std::vector<std::uint8_t> positionLengths(static_cast<std::size_t>(positionCodes_), 0);
        if (UsedSymbols(positionFrequency, onlyPosition) <= 1) {
            out.Put(0, positionBits_);
            out.Put(onlyPosition, positionBits_);
        } else {
            positionLengths = BuildCodeLengths(positionFrequency, kMaxCodeLength);
            WriteSmallTable(out, positionLengths, positionBits_, -1);
        }
        if constexpr (!kWriting) {
            // Counting needs only the frequencies.
            std::uint64_t bits = 0;
            for (std::size_t code = 0; code < literalFrequency.size(); ++code) {
                bits += std::uint64_t{literalFrequency[code]} * literalLengths[code];
            }
            for (std::size_t slot = 0; slot < positionFrequency.size(); ++slot) {
                bits += std::uint64_t{positionFrequency[slot]} *
                        (positionLengths[slot] + (slot > 1 ? slot - 1 : 0));
            }
            out.Put(0, 0);
            out.bits += bits;
            return;
        } else {
            // The next block is parsed by this block's code lengths.
            PriceByLengths(costs_, literalLengths, positionLengths, literalFrequency);
        }
        auto literalCodes = CanonicalCodes(literalLengths);
        auto positionCodes = CanonicalCodes(positionLengths);
        std::size_t match = range.matchBegin;
        for (std::size_t i = range.begin; i < range.end; ++i) {
            std::uint16_t code = codes_[i];
            out.Put(literalCodes[code], literalLengths[code]);
            if (code < 256) {
                continue;
            }
            std::uint32_t position = positions_[match++];
            std::uint32_t slot = PositionSlot(position);
            out.Put(positionCodes[slot], positionLengths[slot]);
            if (slot > 1) {
                out.Put(position, static_cast<int>(slot - 1));
            }
        }
    }

    BitWriter bits_;
    CodeCosts costs_;
    int positionCodes_;
    int positionBits_;
    // Codes of the blocks not yet written, as TokenList holds them.
    std::vector<std::uint16_t> codes_;
    std::vector<std::uint16_t> positions_;
    std::vector<Range> pieces_;
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
