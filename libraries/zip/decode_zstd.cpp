// Zstandard (method 93, and 20 as early writers numbered it), by libzstd. Frames may follow
// one another; the window is limited so that memory stays bounded.
#include <zstd.h>

#include <memory>
#include <vector>

#include "decoder.h"

namespace zembrat::zip::decode {

namespace {

struct StreamFree {
    void operator()(ZSTD_DStream* stream) const { ZSTD_freeDStream(stream); }
};

}  // namespace

void DecodeZstd(Input& in, const Member&, Output& out) {
    const std::unique_ptr<ZSTD_DStream, StreamFree> stream(ZSTD_createDStream());
    if (!stream) {
        throw std::bad_alloc();
    }
    ZSTD_DCtx_setParameter(stream.get(), ZSTD_d_windowLogMax, 29);  // 512 MiB at most
    std::vector<std::byte> buffer(ZSTD_DStreamOutSize());
    std::size_t lastResult = 1;
    for (auto piece = in.Next(); !piece.empty(); piece = in.Next()) {
        ZSTD_inBuffer input{piece.data(), piece.size(), 0};
        // A full output buffer may leave decoded data behind: call again until it is not full.
        bool full = true;
        while (input.pos < input.size || full) {
            ZSTD_outBuffer output{buffer.data(), buffer.size(), 0};
            lastResult = ZSTD_decompressStream(stream.get(), &output, &input);
            if (ZSTD_isError(lastResult)) {
                Corrupt("the zstd stream is damaged");
            }
            out.Write(std::span(buffer).first(output.pos));
            full = output.pos == output.size;
        }
    }
    if (lastResult != 0) {
        Corrupt("the data ends early");
    }
}

}  // namespace zembrat::zip::decode
