// The old methods' decoders on their own: Reduce at every factor (the real archives hold only
// factor 1) against a small encoder here, and random bytes as any old method end cleanly.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "decoder.h"
#include "test_support.h"

namespace zembrat::zip::decode {
namespace {

class StringOutput final : public Output {
  public:
    explicit StringOutput(std::uint64_t limit) : limit_(limit) {}
    void Write(std::span<const std::byte> data) override {
        if (text.size() + data.size() > limit_) {
            throw Error(ErrorKind::kMember, "past the size");
        }
        text.append(reinterpret_cast<const char*>(data.data()), data.size());
    }
    std::string text;

  private:
    std::uint64_t limit_;
};

// Bits least significant first, as the old methods store them.
class BitWriter {
  public:
    void Put(std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i) {
            if (used_ == 0) {
                bytes.push_back(std::byte{0});
            }
            const std::uint32_t bit = i < 32 ? (value >> i) & 1u : 0u;
            bytes.back() |= static_cast<std::byte>(bit << used_);
            used_ = (used_ + 1) % 8;
        }
    }
    std::vector<std::byte> bytes;

  private:
    int used_ = 0;
};

// Reduce with empty follower sets (every byte as 8 plain bits) and greedy matches.
std::vector<std::byte> Reduce(const std::string& data, int factor) {
    BitWriter out;
    out.Put(0, 6 * 256);
    const std::uint32_t lengthMask = 0xFFu >> factor;
    const std::size_t farthest = (std::size_t{0xFF} >> (8 - factor) << 8) + 256;
    for (std::size_t at = 0; at < data.size();) {
        std::size_t bestLength = 0;
        std::size_t bestDistance = 0;
        for (std::size_t distance = 1; distance <= std::min(at, farthest); ++distance) {
            std::size_t length = 0;
            while (at + length < data.size() && length < lengthMask + 255 + 3 &&
                   data[at + length] == data[at + length - distance]) {
                ++length;
            }
            if (length > bestLength) {
                bestLength = length;
                bestDistance = distance;
            }
        }
        const std::uint32_t high = static_cast<std::uint32_t>((bestDistance - 1) >> 8)
                                   << (8 - factor);
        const std::uint32_t shortLength =
            std::min<std::uint32_t>(static_cast<std::uint32_t>(bestLength) - 3, lengthMask);
        if (bestLength >= 3 && (high | shortLength) != 0) {
            out.Put(144, 8);
            out.Put(high | shortLength, 8);
            if (shortLength == lengthMask) {
                out.Put(static_cast<std::uint32_t>(bestLength - 3 - lengthMask), 8);
            }
            out.Put(static_cast<std::uint32_t>((bestDistance - 1) & 0xFF), 8);
            at += bestLength;
            continue;
        }
        const auto byte = static_cast<std::uint8_t>(data[at++]);
        out.Put(byte, 8);
        if (byte == 144) {
            out.Put(0, 8);
        }
    }
    return out.bytes;
}

TEST(ZipDecoders, ReduceOfEveryFactorReadsBack) {
    std::string data;
    const auto text = lha::test::TextBytes(6000, 5);
    data.assign(reinterpret_cast<const char*>(text.data()), text.size());
    data += std::string(300, '\x90');  // DLE itself, in runs
    data += data.substr(100, 2000);    // matches from far back
    for (int factor = 1; factor <= 4; ++factor) {
        SCOPED_TRACE(factor);
        const auto packed = Reduce(data, factor);
        MemoryInput input(packed);
        StringOutput output(data.size());
        DecodeReduce(input, {static_cast<std::uint16_t>(factor + 1), 0, data.size()}, output);
        EXPECT_TRUE(output.text == data);
    }
}

// Random bytes as each method end within the member's size, promptly, with or without an
// error; nothing is read or written out of bounds (the sanitizer build checks that).
TEST(ZipDecoders, RandomBytesEndCleanlyInEveryOldMethod) {
    const Member methods[] = {
        {1, 0, 1u << 20}, {2, 0, 1u << 20}, {5, 0, 1u << 20},  {6, 0, 1u << 20},
        {6, 6, 1u << 20}, {9, 0, 1u << 20}, {14, 0, 1u << 20},
    };
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        const auto noise = lha::test::RandomBytes(4096 + seed * 37, seed);
        for (const Member& member : methods) {
            SCOPED_TRACE("method " + std::to_string(member.method) + " seed " +
                         std::to_string(seed));
            const auto started = std::chrono::steady_clock::now();
            MemoryInput input(noise);
            StringOutput output(member.size);
            try {
                FindDecoder(member.method)(input, member, output);
            } catch (const Error&) {
            }
            EXPECT_LE(output.text.size(), member.size);
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
        }
    }
}

}  // namespace
}  // namespace zembrat::zip::decode
