// A small LZX compressor writing a cabinet of one file in one LZX folder, for the tests and
// the bench (nothing on Debian writes LZX cabinets; gcab cannot). Greedy matches from hash
// chains, repeated offsets when they match as well, code lengths through the pretree with
// its run codes; the caller picks the window, the kinds and sizes of the blocks and the x86
// call translation, so that every part of the format a reader must know gets written.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <queue>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zembrat::testing {

enum class LzxBlockType : unsigned { kVerbatim = 1, kAligned = 2, kUncompressed = 3 };

struct LzxBlockPlan {
    LzxBlockType type;
    std::size_t size;  // uncompressed bytes (the last block of the data is cut short)
};

struct LzxCabinetOptions {
    unsigned windowBits = 21;
    // Non-zero: x86 call targets are translated, for an image of this size.
    std::uint32_t translationSize = 0;
    // Taken in turn, again from the first when the data goes on.
    std::vector<LzxBlockPlan> blocks = {{LzxBlockType::kVerbatim, 32768}};
    std::size_t longestDistance = 262140;
    unsigned chainLength = 24;
};

namespace lzx_writer_detail {

constexpr std::size_t kFrame = 32768;
constexpr unsigned kLengthSymbols = 249;
constexpr unsigned kPretreeSymbols = 20;

struct Slots {
    std::array<unsigned, 51> base{};
    std::array<unsigned, 50> extra{};
    Slots() {
        for (unsigned i = 0; i < 50; ++i) {
            extra[i] = i < 4 ? 0 : std::min((i - 2) / 2, 17u);
            base[i + 1] = base[i] + (1u << extra[i]);
        }
    }
    unsigned SlotOf(unsigned formatted) const {
        unsigned slot = 0;
        while (base[slot + 1] <= formatted) {
            ++slot;
        }
        return slot;
    }
};

inline unsigned SlotCount(unsigned windowBits) {
    return windowBits == 21 ? 50 : windowBits == 20 ? 42 : 2 * windowBits;
}

// Huffman code lengths of at most limit bits; every symbol with a count gets a code, and at
// least two symbols do (a complete code, which every reader accepts).
inline std::vector<std::uint8_t> CodeLengths(std::vector<unsigned> counts, unsigned limit) {
    unsigned used = 0;
    for (const unsigned count : counts) {
        used += count != 0;
    }
    for (std::size_t i = 0; used < 2 && i < counts.size(); ++i) {
        if (counts[i] == 0) {
            counts[i] = 1;
            ++used;
        }
    }
    for (;;) {
        struct Node {
            std::uint64_t weight;
            int index;
        };
        auto heavier = [](const Node& a, const Node& b) { return a.weight > b.weight; };
        std::priority_queue<Node, std::vector<Node>, decltype(heavier)> queue(heavier);
        std::vector<int> parent;
        for (std::size_t i = 0; i < counts.size(); ++i) {
            if (counts[i] != 0) {
                queue.push({counts[i], static_cast<int>(parent.size())});
                parent.push_back(-1);
            }
        }
        while (queue.size() > 1) {
            const Node a = queue.top();
            queue.pop();
            const Node b = queue.top();
            queue.pop();
            const int joined = static_cast<int>(parent.size());
            parent.push_back(-1);
            parent[a.index] = parent[b.index] = joined;
            queue.push({a.weight + b.weight, joined});
        }
        std::vector<std::uint8_t> lengths(counts.size(), 0);
        unsigned deepest = 0;
        int leaf = 0;
        for (std::size_t i = 0; i < counts.size(); ++i) {
            if (counts[i] == 0) {
                continue;
            }
            unsigned depth = 0;
            for (int at = leaf++; parent[at] >= 0; at = parent[at]) {
                ++depth;
            }
            lengths[i] = static_cast<std::uint8_t>(depth);
            deepest = std::max(deepest, depth);
        }
        if (deepest <= limit) {
            return lengths;
        }
        for (unsigned& count : counts) {
            count = count == 0 ? 0 : count / 2 + 1;
        }
    }
}

inline std::vector<unsigned> Codes(const std::vector<std::uint8_t>& lengths) {
    std::vector<unsigned> codes(lengths.size());
    unsigned next = 0;
    for (unsigned length = 1; length <= 16; ++length) {
        for (std::size_t i = 0; i < lengths.size(); ++i) {
            if (lengths[i] == length) {
                codes[i] = next++;
            }
        }
        next <<= 1;
    }
    return codes;
}

// 16-bit little-endian words filled from their top bit; whole frames are cut from it.
class BitWriter {
  public:
    void Bits(std::uint32_t value, unsigned count) {
        while (count > 0) {
            const unsigned take = std::min(count, 16 - filled_);
            word_ = (word_ << take) | ((value >> (count - take)) & ((1u << take) - 1));
            filled_ += take;
            count -= take;
            if (filled_ == 16) {
                Byte(word_ & 0xFF);
                Byte(word_ >> 8);
                word_ = 0;
                filled_ = 0;
            }
        }
    }
    void Align() {
        if (filled_ != 0) {
            Bits(0, 16 - filled_);
        }
    }
    unsigned Filled() const { return filled_; }
    void Byte(unsigned value) { chunk_.push_back(static_cast<char>(value)); }
    std::string TakeChunk() { return std::exchange(chunk_, {}); }

  private:
    std::string chunk_;
    std::uint32_t word_ = 0;
    unsigned filled_ = 0;
};

struct Item {
    std::uint32_t length;  // 0: a literal
    std::uint32_t value;   // the byte, or the main-tree slot's formatted offset
    unsigned slot;
};

inline void TranslateCalls(std::string& data, std::uint32_t size) {
    for (std::size_t frame = 0; frame < data.size() && frame < (std::size_t{1} << 30);
         frame += kFrame) {
        const std::size_t length = std::min(kFrame, data.size() - frame);
        if (length <= 10) {
            continue;
        }
        for (std::size_t i = 0; i < length - 10; ++i) {
            auto* at = reinterpret_cast<unsigned char*>(data.data() + frame + i);
            if (at[0] != 0xE8) {
                continue;
            }
            const auto position = static_cast<std::int64_t>(frame + i);
            const std::int32_t displacement = static_cast<std::int32_t>(
                at[1] | at[2] << 8 | at[3] << 16 | static_cast<std::uint32_t>(at[4]) << 24);
            std::int64_t target = position + displacement;
            if (target >= 0 && target < std::int64_t{size} + position) {
                if (target >= size) {
                    target = displacement - std::int64_t{size};
                }
                const auto stored = static_cast<std::uint32_t>(target);
                for (int k = 0; k < 4; ++k) {
                    at[1 + k] = static_cast<unsigned char>(stored >> (8 * k));
                }
            }
            i += 4;
        }
    }
}

}  // namespace lzx_writer_detail

// The cabinet: its header, one folder (LZX with the window asked), one file named name,
// one data block per 32 KiB frame (no checksums).
inline std::string LzxCabinet(std::string_view original, const std::string& name,
                              const LzxCabinetOptions& options = {}) {
    using namespace lzx_writer_detail;
    static const Slots slots;
    std::string data(original);
    if (options.translationSize != 0) {
        TranslateCalls(data, options.translationSize);
    }
    const unsigned mainSymbols = 256 + 8 * SlotCount(options.windowBits);
    const std::size_t farthest =
        std::min(options.longestDistance, (std::size_t{1} << options.windowBits) - 3);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());

    constexpr unsigned kHashBits = 16;
    std::vector<std::int64_t> chainHead(std::size_t{1} << kHashBits, -1);
    std::vector<std::int64_t> previous(data.size(), -1);
    auto hashAt = [&](std::size_t at) {
        return ((bytes[at] << 8) ^ (bytes[at + 1] << 4) ^ (bytes[at + 2] * 2654435761u >> 16)) &
               ((1u << kHashBits) - 1);
    };
    auto insert = [&](std::size_t at, std::size_t end) {
        if (at + 3 <= end) {
            const unsigned key = hashAt(at);
            previous[at] = chainHead[key];
            chainHead[key] = static_cast<std::int64_t>(at);
        }
    };

    BitWriter out;
    std::vector<std::string> chunks;
    std::array<std::uint32_t, 3> repeated = {1, 1, 1};
    std::vector<std::uint8_t> mainBefore(mainSymbols, 0), lengthBefore(kLengthSymbols, 0);
    std::size_t position = 0;
    std::size_t planIndex = 0;

    // One tree part through a pretree, against the lengths the previous block left.
    auto writeLengths = [&](const std::uint8_t* now, std::uint8_t* before, std::size_t count) {
        struct Step {
            unsigned symbol, extraBits, extra, delta;  // delta: after a 19
        };
        std::vector<Step> steps;
        for (std::size_t i = 0; i < count;) {
            std::size_t same = 1;
            while (i + same < count && now[i + same] == now[i] && before[i + same] == before[i]) {
                ++same;
            }
            const unsigned delta = (before[i] + 17 - now[i]) % 17;
            if (now[i] == 0 && same >= 20) {
                const std::size_t run = std::min<std::size_t>(same, 51);
                steps.push_back({18, 5, static_cast<unsigned>(run - 20), 0});
                i += run;
            } else if (now[i] == 0 && same >= 4) {
                const std::size_t run = std::min<std::size_t>(same, 19);
                steps.push_back({17, 4, static_cast<unsigned>(run - 4), 0});
                i += run;
            } else if (same >= 4) {
                const std::size_t run = std::min<std::size_t>(same, 5);
                steps.push_back({19, 1, static_cast<unsigned>(run - 4), delta});
                i += run;
            } else {
                steps.push_back({delta, 0, 0, 0});
                ++i;
            }
        }
        std::vector<unsigned> counts(kPretreeSymbols, 0);
        for (const Step& step : steps) {
            ++counts[step.symbol];
            if (step.symbol == 19) {
                ++counts[step.delta];
            }
        }
        const auto lengths = CodeLengths(counts, 15);
        const auto codes = Codes(lengths);
        for (const std::uint8_t length : lengths) {
            out.Bits(length, 4);
        }
        for (const Step& step : steps) {
            out.Bits(codes[step.symbol], lengths[step.symbol]);
            if (step.extraBits != 0) {
                out.Bits(step.extra, step.extraBits);
            }
            if (step.symbol == 19) {
                out.Bits(codes[step.delta], lengths[step.delta]);
            }
        }
        std::copy(now, now + count, before);
    };
    // After every frame the stream stands on a word boundary and a data block ends.
    auto advance = [&](std::size_t count) {
        position += count;
        if (position % kFrame == 0 || position == data.size()) {
            out.Align();
            chunks.push_back(out.TakeChunk());
        }
    };

    if (options.translationSize != 0) {
        out.Bits(1, 1);
        out.Bits(options.translationSize >> 16, 16);
        out.Bits(options.translationSize & 0xFFFF, 16);
    } else {
        out.Bits(0, 1);
    }
    while (position < data.size()) {
        const LzxBlockPlan plan = options.blocks[planIndex++ % options.blocks.size()];
        const std::size_t blockEnd = std::min(data.size(), position + plan.size);
        const auto blockSize = static_cast<std::uint32_t>(blockEnd - position);
        out.Bits(static_cast<unsigned>(plan.type), 3);
        out.Bits(blockSize >> 8, 16);
        out.Bits(blockSize & 0xFF, 8);
        if (plan.type == LzxBlockType::kUncompressed) {
            out.Bits(0, out.Filled() == 0 ? 16 : 16 - out.Filled());
            for (const std::uint32_t offset : repeated) {
                for (int k = 0; k < 4; ++k) {
                    out.Byte((offset >> (8 * k)) & 0xFF);
                }
            }
            while (position < blockEnd) {
                const std::size_t frameEnd = (position / kFrame + 1) * kFrame;
                const std::size_t take = std::min(blockEnd, frameEnd) - position;
                for (std::size_t i = 0; i < take; ++i) {
                    insert(position + i, data.size());
                    out.Byte(bytes[position + i]);
                }
                if (blockSize % 2 != 0 && position + take == blockEnd) {
                    out.Byte(0);
                }
                advance(take);
            }
            continue;
        }
        // Parse the block: matches stop at the ends of frames and of the block.
        std::vector<Item> items;
        std::vector<unsigned> mainCounts(mainSymbols, 0), lengthCounts(kLengthSymbols, 0),
            alignedCounts(8, 1);
        for (std::size_t at = position; at < blockEnd;) {
            const std::size_t end = std::min(blockEnd, (at / kFrame + 1) * kFrame);
            const std::size_t most = std::min<std::size_t>(end - at, 257);
            auto matchLength = [&](std::size_t from) {
                std::size_t length = 0;
                while (length < most && bytes[from + length] == bytes[at + length]) {
                    ++length;
                }
                return length;
            };
            std::size_t bestLength = 0, bestOffset = 0;
            if (most >= 3) {
                unsigned tries = options.chainLength;
                for (std::int64_t candidate = chainHead[hashAt(at)];
                     candidate >= 0 && tries-- > 0 &&
                     at - static_cast<std::size_t>(candidate) <= farthest;
                     candidate = previous[candidate]) {
                    const std::size_t length = matchLength(static_cast<std::size_t>(candidate));
                    if (length > bestLength) {
                        bestLength = length;
                        bestOffset = at - static_cast<std::size_t>(candidate);
                        if (length == most) {
                            break;
                        }
                    }
                }
                for (const std::uint32_t offset : repeated) {
                    if (offset <= at && offset <= farthest) {
                        if (const std::size_t length = matchLength(at - offset);
                            length >= 3 && length >= bestLength) {
                            bestLength = length;
                            bestOffset = offset;
                            break;
                        }
                    }
                }
            }
            if (bestLength < 3) {
                items.push_back({0, bytes[at], 0});
                ++mainCounts[bytes[at]];
                insert(at, end);
                ++at;
                continue;
            }
            unsigned slot;
            if (bestOffset == repeated[0]) {
                slot = 0;
            } else if (bestOffset == repeated[1]) {
                slot = 1;
                std::swap(repeated[0], repeated[1]);
            } else if (bestOffset == repeated[2]) {
                slot = 2;
                std::swap(repeated[0], repeated[2]);
            } else {
                slot = slots.SlotOf(static_cast<unsigned>(bestOffset + 2));
                repeated = {static_cast<std::uint32_t>(bestOffset), repeated[0], repeated[1]};
            }
            const auto length = static_cast<std::uint32_t>(bestLength);
            items.push_back({length, static_cast<std::uint32_t>(bestOffset + 2), slot});
            const unsigned header = std::min(length - 2, 7u);
            ++mainCounts[256 + slot * 8 + header];
            if (header == 7) {
                ++lengthCounts[length - 9];
            }
            if (plan.type == LzxBlockType::kAligned && slot >= 3 && slots.extra[slot] >= 3) {
                ++alignedCounts[(bestOffset + 2 - slots.base[slot]) & 7];
            }
            for (std::size_t k = 0; k < bestLength; ++k) {
                insert(at + k, end);
            }
            at += bestLength;
        }
        const auto mainLengths = CodeLengths(mainCounts, 16);
        const auto lengthLengths = CodeLengths(lengthCounts, 16);
        const auto alignedLengths = CodeLengths(alignedCounts, 7);
        const auto mainCodes = Codes(mainLengths), lengthCodes = Codes(lengthLengths),
                   alignedCodes = Codes(alignedLengths);
        if (plan.type == LzxBlockType::kAligned) {
            for (const std::uint8_t length : alignedLengths) {
                out.Bits(length, 3);
            }
        }
        writeLengths(mainLengths.data(), mainBefore.data(), 256);
        writeLengths(mainLengths.data() + 256, mainBefore.data() + 256, mainSymbols - 256);
        writeLengths(lengthLengths.data(), lengthBefore.data(), kLengthSymbols);
        for (const Item& item : items) {
            if (item.length == 0) {
                out.Bits(mainCodes[item.value], mainLengths[item.value]);
                advance(1);
                continue;
            }
            const unsigned header = std::min(item.length - 2, 7u);
            const unsigned symbol = 256 + item.slot * 8 + header;
            out.Bits(mainCodes[symbol], mainLengths[symbol]);
            if (header == 7) {
                out.Bits(lengthCodes[item.length - 9], lengthLengths[item.length - 9]);
            }
            if (item.slot >= 3) {
                const unsigned extra = slots.extra[item.slot];
                const unsigned footer = item.value - slots.base[item.slot];
                if (plan.type == LzxBlockType::kAligned && extra >= 3) {
                    out.Bits(footer >> 3, extra - 3);
                    out.Bits(alignedCodes[footer & 7], alignedLengths[footer & 7]);
                } else {
                    out.Bits(footer, extra);
                }
            }
            advance(item.length);
        }
    }

    // The cabinet around the frames.
    std::string cabinet;
    auto u16 = [&](unsigned value) {
        cabinet.push_back(static_cast<char>(value & 0xFF));
        cabinet.push_back(static_cast<char>((value >> 8) & 0xFF));
    };
    auto u32 = [&](std::uint32_t value) {
        u16(value & 0xFFFF);
        u16(value >> 16);
    };
    const auto filesAt = static_cast<std::uint32_t>(36 + 8);
    const auto dataAt = static_cast<std::uint32_t>(filesAt + 16 + name.size() + 1);
    std::size_t total = dataAt;
    for (const std::string& chunk : chunks) {
        total += 8 + chunk.size();
    }
    cabinet += "MSCF";
    u32(0);
    u32(static_cast<std::uint32_t>(total));
    u32(0);
    u32(filesAt);
    u32(0);
    cabinet += "\x03\x01";
    u16(1);  // folders
    u16(1);  // files
    u16(0);  // flags
    u16(0);  // set id
    u16(0);  // index in the set
    u32(dataAt);
    u16(static_cast<unsigned>(chunks.size()));
    u16(3 | options.windowBits << 8);  // LZX and its window
    u32(static_cast<std::uint32_t>(original.size()));
    u32(0);       // offset in the folder
    u16(0);       // folder
    u16(0x5021);  // 2020-01-01
    u16(0);
    u16(0x20);  // archive attribute
    cabinet += name;
    cabinet.push_back('\0');
    std::size_t unpacked = 0;
    for (const std::string& chunk : chunks) {
        const std::size_t frame = std::min(kFrame, original.size() - unpacked);
        u32(0);  // no checksum
        u16(static_cast<unsigned>(chunk.size()));
        u16(static_cast<unsigned>(frame));
        cabinet += chunk;
        unpacked += frame;
    }
    return cabinet;
}

// One data block of a cabinet LzxCabinet wrote: a frame's compressed bytes and its size.
struct LzxFrame {
    std::string_view packed;
    std::size_t size;
};

// The data blocks of the cabinet's one folder, in order.
inline std::vector<LzxFrame> LzxCabinetFrames(std::string_view cabinet) {
    auto u16 = [&](std::size_t at) {
        return static_cast<std::size_t>(static_cast<unsigned char>(cabinet[at]) |
                                        static_cast<unsigned char>(cabinet[at + 1]) << 8);
    };
    std::vector<LzxFrame> frames;
    for (std::size_t at = u16(36) | u16(38) << 16; at + 8 <= cabinet.size();) {
        frames.push_back({cabinet.substr(at + 8, u16(at + 4)), u16(at + 6)});
        at += 8 + u16(at + 4);
    }
    return frames;
}

}  // namespace zembrat::testing
