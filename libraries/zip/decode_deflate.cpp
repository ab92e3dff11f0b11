// Deflate (method 8). A member small enough to hold twice in memory is inflated whole by
// libdeflate (the fastest); larger ones stream through ISA-L's inflater with fixed buffers.
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>

#include <memory>
#include <vector>

#include "decoder.h"

namespace zembrat::zip::decode {

namespace {

// Members up to this size (data and compressed data each) are inflated in one call.
constexpr std::uint64_t kWholeLimit = 16u << 20;
constexpr std::size_t kOutputPiece = 256u << 10;

struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

void InflateWhole(Input& in, const Member& member, Output& out) {
    std::vector<std::byte> compressed;
    compressed.reserve(static_cast<std::size_t>(in.Length()));
    for (auto piece = in.Next(); !piece.empty(); piece = in.Next()) {
        compressed.insert(compressed.end(), piece.begin(), piece.end());
    }
    // One byte more than the size: data that runs past it shows as such, not as damage.
    std::vector<std::byte> data(static_cast<std::size_t>(member.size) + 1);
    const std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(
        libdeflate_alloc_decompressor());
    if (!decompressor) {
        throw std::bad_alloc();
    }
    std::size_t produced = 0;
    const libdeflate_result result =
        libdeflate_deflate_decompress(decompressor.get(), compressed.data(), compressed.size(),
                                      data.data(), data.size(), &produced);
    if (result == LIBDEFLATE_INSUFFICIENT_SPACE) {
        out.Write(data);  // past the size: the output refuses it
        Corrupt("the data runs past its size");
    }
    if (result != LIBDEFLATE_SUCCESS) {
        Corrupt("the deflate stream is damaged");
    }
    out.Write(std::span(data).first(produced));
}

void InflateStreaming(Input& in, Output& out) {
    auto state = std::make_unique<inflate_state>();
    isal_inflate_init(state.get());
    state->crc_flag = ISAL_DEFLATE;
    std::vector<std::byte> buffer(kOutputPiece);
    bool inputEnded = false;
    while (state->block_state != ISAL_BLOCK_FINISH) {
        if (state->avail_in == 0 && !inputEnded) {
            const auto piece = in.Next();
            inputEnded = piece.empty();
            // ISA-L reads but never writes its input.
            state->next_in = reinterpret_cast<std::uint8_t*>(const_cast<std::byte*>(piece.data()));
            state->avail_in = static_cast<std::uint32_t>(piece.size());
        }
        state->next_out = reinterpret_cast<std::uint8_t*>(buffer.data());
        state->avail_out = static_cast<std::uint32_t>(buffer.size());
        const std::uint32_t before = state->avail_in;
        if (isal_inflate(state.get()) != ISAL_DECOMP_OK) {
            Corrupt("the deflate stream is damaged");
        }
        const std::size_t produced = buffer.size() - state->avail_out;
        if (produced > 0) {
            out.Write(std::span(buffer).first(produced));
        } else if (state->block_state != ISAL_BLOCK_FINISH &&
                   (inputEnded || state->avail_in == before)) {
            Corrupt("the data ends early");
        }
    }
}

}  // namespace

void DecodeDeflate(Input& in, const Member& member, Output& out) {
    if (member.size <= kWholeLimit && in.Length() <= kWholeLimit) {
        InflateWhole(in, member, out);
    } else {
        InflateStreaming(in, out);
    }
}

}  // namespace zembrat::zip::decode
