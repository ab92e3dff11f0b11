// LZMA (method 14) and xz (method 95), by liblzma. An LZMA member starts with its own small
// header (version, properties size, properties); the data has an end mark when flag bit 1 says
// so, else it ends at the member's size. Dictionaries above kMemoryLimit are refused, so that
// memory stays bounded whatever a header claims.
#include <lzma.h>

#include <vector>

#include "decoder.h"

namespace zembrat::zip::decode {

namespace {

constexpr std::uint64_t kMemoryLimit = 512u << 20;
constexpr std::uint16_t kEndMark = 1u << 1;

// Runs an initialised decoder over the input (after `skip` bytes) into out.
void Run(lzma_stream& stream, Input& in, std::size_t skip, Output& out) {
    struct End {
        lzma_stream& stream;
        ~End() { lzma_end(&stream); }
    } end{stream};
    std::vector<std::uint8_t> buffer(256u << 10);
    bool inputEnded = false;
    for (;;) {
        if (stream.avail_in == 0 && !inputEnded) {
            auto piece = in.Next();
            inputEnded = piece.empty();
            const std::size_t drop = std::min(skip, piece.size());
            skip -= drop;
            piece = piece.subspan(drop);
            stream.next_in = reinterpret_cast<const std::uint8_t*>(piece.data());
            stream.avail_in = piece.size();
        }
        stream.next_out = buffer.data();
        stream.avail_out = buffer.size();
        const lzma_ret result = lzma_code(&stream, inputEnded ? LZMA_FINISH : LZMA_RUN);
        const std::size_t produced = buffer.size() - stream.avail_out;
        out.Write(std::as_bytes(std::span(buffer).first(produced)));
        if (result == LZMA_STREAM_END) {
            return;
        }
        if (result == LZMA_MEMLIMIT_ERROR || result == LZMA_MEM_ERROR) {
            Corrupt("the dictionary is larger than allowed");
        }
        if (result != LZMA_OK) {
            Corrupt(inputEnded ? "the data ends early" : "the stream is damaged");
        }
        if (produced == 0 && inputEnded && stream.avail_in == 0) {
            Corrupt("the data ends early");
        }
    }
}

}  // namespace

void DecodeLzma(Input& in, const Member& member, Output& out) {
    // The member's header: version (2 bytes), properties size (2), properties (5: lc/lp/pb and
    // the dictionary size). liblzma's .lzma reader takes the properties and the size as a
    // 13-byte header of its own.
    std::vector<std::uint8_t> head;
    std::span<const std::byte> piece;
    while (head.size() < 9) {
        piece = in.Next();
        if (piece.empty()) {
            Corrupt("the LZMA header is cut short");
        }
        const std::size_t take = std::min<std::size_t>(9 - head.size(), piece.size());
        for (std::size_t i = 0; i < take; ++i) {
            head.push_back(static_cast<std::uint8_t>(piece[i]));
        }
        piece = piece.subspan(take);
    }
    if (head[2] != 5 || head[3] != 0) {
        Corrupt("the LZMA properties are not 5 bytes");
    }
    std::vector<std::uint8_t> alone(head.begin() + 4, head.end());
    const std::uint64_t size = (member.flags & kEndMark) != 0 ? ~std::uint64_t{0} : member.size;
    for (int i = 0; i < 8; ++i) {
        alone.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
    }
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&stream, kMemoryLimit) != LZMA_OK) {
        throw std::bad_alloc();
    }
    // The synthetic header, then what is left of the piece that held the real one, then the
    // rest of the input.
    class Joined final : public Input {
      public:
        Joined(std::vector<std::uint8_t>& first, std::span<const std::byte> second, Input& rest)
            : first_(std::as_bytes(std::span(first))), second_(second), rest_(rest) {}
        std::span<const std::byte> Next() override {
            if (!first_.empty()) {
                return std::exchange(first_, {});
            }
            if (!second_.empty()) {
                return std::exchange(second_, {});
            }
            return rest_.Next();
        }
        std::uint64_t Length() const override { return rest_.Length(); }

      private:
        std::span<const std::byte> first_;
        std::span<const std::byte> second_;
        Input& rest_;
    } joined(alone, piece, in);
    Run(stream, joined, 0, out);
}

void DecodeXz(Input& in, const Member&, Output& out) {
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&stream, kMemoryLimit, 0) != LZMA_OK) {
        throw std::bad_alloc();
    }
    Run(stream, in, 0, out);
}

}  // namespace zembrat::zip::decode
