// Reference streams for tests and seed generators, made by the system's zlib and libbz2 rather
// than by our own writers, so that a reader is checked against data it did not produce.
#pragma once

#include <bzlib.h>
#include <zlib.h>

#include <string>

namespace zembrat::testing {

// data in one gzip member (level 6).
inline std::string Gzip(const std::string& data) {
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, data.size()) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// data as one bzip2 stream of blocks of blockSize x 100 KB.
inline std::string Bzip2(const std::string& data, int blockSize = 9) {
    std::string out(data.size() + data.size() / 100 + 700, '\0');
    auto length = static_cast<unsigned>(out.size());
    BZ2_bzBuffToBuffCompress(out.data(), &length, const_cast<char*>(data.data()),
                             static_cast<unsigned>(data.size()), blockSize, 0, 0);
    out.resize(length);
    return out;
}

}  // namespace zembrat::testing
