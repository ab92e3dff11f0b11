// The LZX decoder on its own, where a cabinet would be too large to write: x86 call targets
// are put back in the first GiB of a folder only. The folder is a run of uncompressed blocks
// whose frames all start with a call to offset 0; each frame's input is made as it is fed.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "lzx_cabinet_writer.h"
#include "lzx_decoder.h"

namespace zembrat::cab {
namespace {

using ::zembrat::testing::lzx_writer_detail::BitWriter;

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
