// -pm1- (PMarc 1): runs of literals (recency ranks) alternating with copies, all in fixed
// codes; which copy distances can be coded grows with the output. A 5-bit header picks one of
// 32 small codes for the rank ranges.
#include <array>
#include <string_view>

#include "bit_reader.h"
#include "decoder.h"
#include "pmarc_history.h"
#include "ring_window.h"

namespace zembrat::lha {
namespace {

// Rank ranges a..f.
constexpr std::array<CodeRange, 6> kRankRanges = {
    {{0, 4}, {16, 4}, {32, 5}, {64, 6}, {128, 6}, {192, 6}}};

// The codes of rank ranges, as trees: "(x y)" is a node whose 0 branch is x. Tree 17 never
// reaches a or b; tree 31 has no bits and always means a.
constexpr std::array<std::string_view, 32> kRankTrees = {
    "((((ab)c)d)(ef))",
    "(((ab)(cf))(de))",
    "(((ab)c)(d(ef)))",
    "((a(bc))(d(ef)))",
    "((a(bd))(c(ef)))",
    "((a(b(ef)))(cd))",
    "((ab)((cd)(ef)))",
    "((ab)((c(ef))d))",
    "((ab)(c(d(ef))))",
    "(a(((bf)c)(de)))",
    "(a(((b(ef))c)d))",
    "(a(((bc)d)(ef)))",
    "(a((b(cf))(de)))",
    "(a((bc)(d(ef))))",
    "(a((b(d(ef)))c))",
    "(a(b((cd)(ef))))",
    "(a(b(c(d(ef)))))",
    "(((de)c)(de))",
    "((a(be))(cd))",
    "((ab)(c(de)))",
    "(a(((be)c)d))",
    "(a((bc)(de)))",
    "(a((b(de))c))",
    "(a(b(c(de))))",
    "(((ab)c)d)",
    "((a(bd))c)",
    "((ab)(cd))",
    "(a((bd)c))",
    "(a(b(cd)))",
    "(a(bc))",
    "(ab)",
    "a",
};

// Copy distances: ranges 0 and 1 belong to two-byte copies. Early in the output the far
// ranges are coded with fewer bits, as nothing lies further back.
constexpr std::array<CodeRange, 6> kDistanceRanges = {
    {{0, 6}, {64, 8}, {0, 6}, {64, 9}, {576, 11}, {2624, 13}}};

class Pm1Decoder {
  public:
    Pm1Decoder(InputStream& input, std::uint64_t compressedSize) : bits_(input, compressedSize) {}

    void Run(RingWindow& window) {
        tree_ = kRankTrees[bits_.Get(5)];
        while (!window.Done()) {
            if (bits_.Get(1) == 0) {
                Copy(window);
                continue;
            }
            std::size_t run = RunLength();
            for (std::size_t i = 0; i < run && !window.Done(); ++i) {
                const CodeRange& r = kRankRanges[RankRange()];
                Output(window, history_.Find(r.base + bits_.Get(r.bits)));
            }
            if (run != 216 && !window.Done()) {
                Copy(window);
            }
        }
        window.Flush();
    }

  private:
    void Output(RingWindow& window, std::uint8_t byte) {
        window.Put(byte);
        history_.Touch(byte);
    }

    // Walks the tree text: at a node, bit 0 enters the first branch, bit 1 skips it.
    unsigned RankRange() {
        std::size_t at = 0;
        while (tree_[at] == '(') {
            ++at;
            if (bits_.Get(1) != 0) {
                at = SkipBranch(at);
            }
        }
        return static_cast<unsigned>(tree_[at] - 'a');
    }

    std::size_t SkipBranch(std::size_t at) const {
        int depth = 0;
        do {
            depth += tree_[at] == '(' ? 1 : tree_[at] == ')' ? -1 : 0;
            ++at;
        } while (depth > 0);
        return at;
    }

    std::size_t RunLength() {
        unsigned x = bits_.Get(2);
        if (x < 3) {
            return x + 1;
        }
        if ((x = bits_.Get(3)) < 7) {
            return x + 4;
        }
        if ((x = bits_.Get(4)) < 14) {
            return x + 11;
        }
        return x == 14 ? bits_.Get(6) + 25 : bits_.Get(7) + 89;
    }

    std::size_t CopyLength() {
        unsigned x = bits_.Get(2);
        if (x < 3) {
            return x + 3;
        }
        if ((x = bits_.Get(3)) < 5) {
            return x + 6;
        }
        if (x == 5) {
            return bits_.Get(2) + 11;
        }
        if (x == 6) {
            return bits_.Get(3) + 15;
        }
        if ((x = bits_.Get(6)) < 62) {
            return x + 23;
        }
        return x == 62 ? bits_.Get(5) + 85 : bits_.Get(7) + 117;
    }

    // A bit that is only sent once the output has reached threshold.
    unsigned BitFrom(std::uint64_t threshold, unsigned otherwise) {
        return produced_ >= threshold ? bits_.Get(1) : otherwise;
    }

    unsigned DistanceRange() {
        if (bits_.Get(1) == 0) {
            return BitFrom(576, 0) != 0 ? 4 : BitFrom(64, 0);
        }
        if (BitFrom(64, 1) == 0) {
            return 3;
        }
        return BitFrom(2624, 1) != 0 ? 2 : 5;
    }

    int DistanceBits(unsigned range) const {
        struct Limit {
            std::uint64_t below;
            int bits;
        };
        static constexpr std::array<Limit, 4> kFar4 = {{{832, 8}, {1088, 9}, {1600, 10}}};
        static constexpr std::array<Limit, 5> kFar5 = {
            {{2880, 8}, {3136, 9}, {3648, 10}, {4672, 11}, {6720, 12}}};
        if (range == 3 && produced_ < 320) {
            return 8;
        }
        if (range == 4) {
            for (const auto& limit : kFar4) {
                if (limit.below != 0 && produced_ < limit.below) {
                    return limit.bits;
                }
            }
        }
        if (range == 5) {
            for (const auto& limit : kFar5) {
                if (produced_ < limit.below) {
                    return limit.bits;
                }
            }
        }
        return kDistanceRanges[range].bits;
    }

    void Copy(RingWindow& window) {
        produced_ = window.Produced();
        unsigned range = DistanceRange();
        std::size_t length = range < 2 ? 2 : CopyLength();
        std::size_t back = kDistanceRanges[range].base + bits_.Get(DistanceBits(range));
        if (back >= produced_) {
            CorruptData("copy from before the start");
        }
        std::size_t from = window.Position() - back - 1;
        for (std::size_t i = 0; i < length && !window.Done(); ++i) {
            Output(window, window.Ring()[(from + i) & (window.Ring().size() - 1)]);
        }
    }

    BitReader bits_;
    RecencyList history_;
    std::string_view tree_;
    std::uint64_t produced_ = 0;
};

}  // namespace

void DecodePm1(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output) {
    RingWindow window(output, 16384, originalSize);
    Pm1Decoder(input, compressedSize).Run(window);
}

}  // namespace zembrat::lha
