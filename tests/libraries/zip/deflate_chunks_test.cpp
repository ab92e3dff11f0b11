// Chunks deflated apart must join into one stream that inflates to their concatenation,
// whatever bit the final block of a chunk ends on, and threads must not change the stream.
#include <gtest/gtest.h>
#include <zlib.h>

#include "deflate_chunks.h"
#include "test_support.h"

namespace zembrat::zip {
namespace {

std::vector<std::byte> Inflate(std::span<const std::byte> stream, std::size_t expected) {
    std::vector<std::byte> out(expected + 1);
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -MAX_WBITS), Z_OK);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<std::byte*>(stream.data()));
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u) << "bytes after the end of the stream";
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

// Deflates the chunks one call each and joins the pieces.
std::vector<std::byte> Join(ChunkCompressor& compressor,
                            const std::vector<std::vector<std::byte>>& chunks) {
    std::vector<std::byte> joined;
    const std::size_t step = compressor.Parallelism();
    for (std::size_t first = 0; first < chunks.size(); first += step) {
        std::vector<std::span<const std::byte>> batch;
        for (std::size_t i = first; i < std::min(chunks.size(), first + step); ++i) {
            batch.emplace_back(chunks[i]);
        }
        std::vector<std::vector<std::byte>> out(batch.size());
        compressor.Compress(batch, out, first + batch.size() == chunks.size());
        for (const auto& piece : out) {
            joined.insert(joined.end(), piece.begin(), piece.end());
        }
    }
    return joined;
}

struct ChunkCase {
    const char* name;
    std::vector<std::vector<std::byte>> chunks;
};

std::vector<ChunkCase> Cases() {
    using lha::test::RandomBytes;
    using lha::test::TextBytes;
    std::vector<ChunkCase> cases = {
        {"text, random, text", {TextBytes(70000, 1), RandomBytes(100000, 2), TextBytes(5, 3)}},
        {"single bytes", {TextBytes(1, 4), TextBytes(1, 5), TextBytes(1, 6)}},
        {"zeros", {std::vector<std::byte>(1 << 20), std::vector<std::byte>(1 << 20)}},
        {"many blocks", {TextBytes(600000, 7), TextBytes(300000, 8)}},
    };
    // Short chunks end their final block on every bit position of a byte.
    for (std::size_t size = 2; size < 40; ++size) {
        cases.push_back({"short", {TextBytes(size, 9), TextBytes(size * 3, 10), TextBytes(7, 11)}});
    }
    return cases;
}

TEST(DeflateChunks, ChunksJoinIntoOneStreamOfTheirConcatenation) {
    const auto cases = Cases();
    for (const int level : {1, 6, 9}) {
        for (const unsigned threads : {1u, 2u}) {
            ChunkCompressor compressor(level, threads);
            for (const auto& c : cases) {
                SCOPED_TRACE(std::string(c.name) + " level " + std::to_string(level) + " threads " +
                             std::to_string(threads));
                std::vector<std::byte> whole;
                for (const auto& chunk : c.chunks) {
                    whole.insert(whole.end(), chunk.begin(), chunk.end());
                }
                const auto joined = Join(compressor, c.chunks);
                EXPECT_EQ(Inflate(joined, whole.size()), whole);
                if (threads == 2) {
                    ChunkCompressor single(level, 1);
                    EXPECT_EQ(Join(single, c.chunks), joined);
                }
            }
        }
    }
}

TEST(DeflateChunks, AStreamThatIsNoDeflateIsRefused) {
    for (const std::vector<std::byte>& bad :
         {std::vector<std::byte>{}, std::vector<std::byte>{std::byte{0xFF}, std::byte{0xFF}},
          lha::test::RandomBytes(1000, 12)}) {
        auto copy = bad;
        EXPECT_FALSE(MakeStreamContinue(copy));
    }
}

}  // namespace
}  // namespace zembrat::zip
