// The LZX decoder on its own: the test writer's streams of every block kind decode to what
// went in (this program is built twice, once with the decoding loop processors without
// BMI2 run); and, where a cabinet would be too large to write, x86 call targets are put back
// in the first GiB of a folder only.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "lzx_cabinet_writer.h"
#include "lzx_decoder.h"

namespace zembrat::cab {
namespace {

using ::zembrat::testing::LzxBlockPlan;
using ::zembrat::testing::LzxBlockType;
using ::zembrat::testing::LzxCabinet;
using ::zembrat::testing::LzxCabinetFrames;
using ::zembrat::testing::LzxCabinetOptions;
using ::zembrat::testing::LzxFrame;
using ::zembrat::testing::lzx_writer_detail::BitWriter;

// What a cabinet of the writer's unpacks to, frame by frame through one decoder.
std::string DecodeFolder(const std::string& cabinet, unsigned windowBits) {
    LzxDecoder decoder(windowBits);
    decoder.Reset();
    std::string out;
    for (const LzxFrame& frame : LzxCabinetFrames(cabinet)) {
        const auto decoded = decoder.DecodeFrame(
            std::span(reinterpret_cast<const std::uint8_t*>(frame.packed.data()),
                      frame.packed.size()),
            frame.size);
        if (decoded.empty()) {
            return out + "<damaged>";
        }
        out.append(reinterpret_cast<const char*>(decoded.data()), decoded.size());
    }
    return out;
}

TEST(LzxDecoder, TheWritersStreamsOfEveryKindDecodeToWhatWentIn) {
    std::string data;
    for (unsigned i = 0; data.size() < 400000; ++i) {
        data += "call \xE8" + std::string(1, static_cast<char>(i * 7)) +
                std::string("\0\0\0 r", 5) + std::to_string(i * 7919 % 1000) +
                std::string(i % 9, static_cast<char>(i)) +
                std::string(i % 5 == 0 ? 40 : 0, static_cast<char>(i * 13));
    }
    const std::vector<LzxBlockPlan> everyKind = {{LzxBlockType::kAligned, 50000},
                                                 {LzxBlockType::kUncompressed, 7001},
                                                 {LzxBlockType::kVerbatim, 100000}};
    for (const unsigned windowBits : {15u, 17u, 21u}) {
        SCOPED_TRACE(windowBits);
        LzxCabinetOptions options;
        options.windowBits = windowBits;
        options.translationSize = 1000000;
        options.blocks = everyKind;
        EXPECT_TRUE(DecodeFolder(LzxCabinet(data, "x", options), windowBits) == data);
    }
}

TEST(LzxDecoder, CallTargetsArePutBackInTheFirstGibibyteOnly) {
    constexpr std::size_t kFrame = LzxDecoder::kFrameSize;
    constexpr std::size_t kFramesPerBlock = 256;  // 8 MiB, within 24 bits
    constexpr std::size_t kLastTranslated = (1u << 30) / kFrame - 1;
    const std::string frame = "\xE8" + std::string(kFrame - 1, '\0');
    LzxDecoder decoder(15);
    decoder.Reset();
    BitWriter out;
    for (std::size_t index = 0; index <= kLastTranslated + 1; ++index) {
        if (index == 0) {
            out.Bits(1, 1);  // translation on, for an image of 0x7FFFFFFF bytes
            out.Bits(0x7FFF, 16);
            out.Bits(0xFFFF, 16);
        }
        if (index % kFramesPerBlock == 0) {
            out.Bits(3, 3);  // uncompressed
            out.Bits(kFrame * kFramesPerBlock >> 8, 16);
            out.Bits(0, 8);
            out.Bits(0, out.Filled() == 0 ? 16 : 16 - out.Filled());
            for (int byte = 0; byte < 12; ++byte) {
                out.Byte(byte % 4 == 0 ? 1 : 0);  // R0, R1, R2
            }
        }
        std::string input = out.TakeChunk() + frame;
        const auto decoded = decoder.DecodeFrame(
            std::span(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()), kFrame);
        ASSERT_EQ(decoded.size(), kFrame) << "frame " << index;
        if (index >= kLastTranslated) {
            // The call at the frame's start became one to the frame's own negative offset,
            // except past the first GiB.
            const std::uint32_t expected =
                index == kLastTranslated ? 0u - static_cast<std::uint32_t>(index * kFrame) : 0;
            std::uint32_t target = 0;
            for (int i = 4; i >= 1; --i) {
                target = target << 8 | decoded[i];
            }
            EXPECT_EQ(target, expected) << "frame " << index;
        }
    }
}

}  // namespace
}  // namespace zembrat::cab
