// bzip2 (method 12), by libbz2.
#include <bzlib.h>

#include <vector>

#include "decoder.h"

namespace zembrat::zip::decode {

void DecodeBzip2(Input& in, const Member&, Output& out) {
    bz_stream stream{};
    if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) {
        throw std::bad_alloc();
    }
    struct End {
        bz_stream& stream;
        ~End() { BZ2_bzDecompressEnd(&stream); }
    } end{stream};
    std::vector<char> buffer(256u << 10);
    bool inputEnded = false;
    for (;;) {
        if (stream.avail_in == 0 && !inputEnded) {
            const auto piece = in.Next();
            inputEnded = piece.empty();
            stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(piece.data()));
            stream.avail_in = static_cast<unsigned>(piece.size());
        }
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<unsigned>(buffer.size());
        const int result = BZ2_bzDecompress(&stream);
        if (result != BZ_OK && result != BZ_STREAM_END) {
            Corrupt("the bzip2 stream is damaged");
        }
        const std::size_t produced = buffer.size() - stream.avail_out;
        out.Write(std::as_bytes(std::span(buffer).first(produced)));
        if (result == BZ_STREAM_END) {
            return;
        }
        if (produced == 0 && inputEnded) {
            Corrupt("the data ends early");
        }
    }
}

}  // namespace zembrat::zip::decode
