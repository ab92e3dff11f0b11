// -pm2- (PMarc 2): 8 KiB window; literals as recency ranks, a Huffman code of command kinds
// and a Huffman code of position sizes, both sent again at fixed points of the output.
#include <array>

#include "bit_reader.h"
#include "decoder.h"
#include "huffman_decoder.h"
#include "pmarc_history.h"
#include "ring_window.h"

namespace zembrat::lha {
namespace {

constexpr std::array<CodeRange, 8> kRankRanges = {
    {{0, 3}, {8, 3}, {16, 4}, {32, 5}, {64, 5}, {96, 5}, {128, 6}, {192, 6}}};
constexpr std::array<CodeRange, 6> kLengthRanges = {
    {{17, 3}, {25, 3}, {33, 5}, {65, 6}, {129, 7}, {256, 0}}};

class Pm2Decoder {
  public:
    Pm2Decoder(InputStream& input, std::uint64_t compressedSize) : bits_(input, compressedSize) {}

    void Run(RingWindow& window) {
        bits_.Get(1);  // unused
        while (!window.Done()) {
            if (window.Produced() >= nextTables_) {
                NextTables();
            }
            unsigned kind = kinds_.Decode(bits_);
            if (kind < 8) {
                const CodeRange& r = kRankRanges[kind];
                Output(window, history_.Find(r.base + bits_.Get(r.bits)));
                continue;
            }
            unsigned copy = kind - 8;
            std::size_t length;
            if (copy < 15) {
                length = copy + 2;
            } else if (copy - 15 < kLengthRanges.size()) {
                const CodeRange& r = kLengthRanges[copy - 15];
                length = r.base + bits_.Get(r.bits);
            } else {
                CorruptData("command out of range");
            }
            std::size_t distance = 1 + Offset(copy);
            std::size_t from = window.Position() - distance;
            for (std::size_t i = 0; i < length && !window.Done(); ++i) {
                Output(window, window.Ring()[(from + i) & 8191]);
            }
        }
        window.Flush();
    }

  private:
    void Output(RingWindow& window, std::uint8_t byte) {
        window.Put(byte);
        history_.Touch(byte);
    }

    std::size_t Offset(unsigned copy) {
        if (copy == 0) {
            return bits_.Get(6);
        }
        if (copy >= 20) {
            return 0;
        }
        unsigned size = sizes_.Decode(bits_);
        if (size == 0) {
            return bits_.Get(6);
        }
        int n = static_cast<int>(size) + 5;
        return (std::size_t{1} << n) + bits_.Get(n);
    }

    // Tables come at the start, after 1 KiB, 2 KiB and 4 KiB, then every 4 KiB when a flag
    // says so; the position code grows with the window filled so far.
    void NextTables() {
        switch (stage_++) {
            case 0:
                ReadKinds();
                ReadSizes(5);
                nextTables_ = 1024;
                break;
            case 1:
                ReadSizes(6);
                nextTables_ = 2048;
                break;
            case 2:
                ReadSizes(7);
                nextTables_ = 4096;
                break;
            case 3:
                if (bits_.Get(1) != 0) {
                    ReadKinds();
                }
                ReadSizes(8);
                nextTables_ = 8192;
                break;
            default:
                if (bits_.Get(1) != 0) {
                    ReadKinds();
                    ReadSizes(8);
                }
                nextTables_ += 4096;
                break;
        }
    }

    void ReadKinds() {
        unsigned count = bits_.Get(5);
        unsigned shortest = bits_.Get(3);
        needSizes_ = count >= 10 && !(count == 29 && shortest == 0);
        if (shortest == 0) {
            if (count == 0) {
                CorruptData("empty command code");
            }
            kinds_.BuildSingle(static_cast<std::uint16_t>(count - 1));
            return;
        }
        int lengthBits = static_cast<int>(bits_.Get(3));
        std::array<std::uint8_t, 32> lengths{};
        for (unsigned i = 0; i < count; ++i) {
            unsigned value = bits_.Get(lengthBits);
            lengths[i] = value == 0 ? 0 : static_cast<std::uint8_t>(shortest + value - 1);
        }
        kinds_.Build(std::span(lengths).first(count));
    }

    void ReadSizes(unsigned count) {
        if (!needSizes_) {
            return;
        }
        std::array<std::uint8_t, 8> lengths{};
        unsigned used = 0, only = 0;
        for (unsigned i = 0; i < count; ++i) {
            lengths[i] = static_cast<std::uint8_t>(bits_.Get(3));
            if (lengths[i] != 0) {
                ++used;
                only = i;
            }
        }
        if (used == 1) {
            sizes_.BuildSingle(static_cast<std::uint16_t>(only));
        } else {
            sizes_.Build(std::span(lengths).first(count));
        }
    }

    BitReader bits_;
    HuffmanDecoder kinds_, sizes_;
    RecencyList history_;
    bool needSizes_ = false;
    int stage_ = 0;
    std::uint64_t nextTables_ = 0;
};

}  // namespace

void DecodePm2(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output) {
    RingWindow window(output, 8192, originalSize);
    Pm2Decoder(input, compressedSize).Run(window);
}

}  // namespace zembrat::lha
