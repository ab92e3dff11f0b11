// Stored members (-lh0-, -lz4-): the data is the original.
#include <algorithm>
#include <vector>

#include "decoder.h"

namespace zembrat::lha {

void DecodeStored(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
                  OutputStream& output) {
    if (compressedSize != originalSize) {
        throw Error(ErrorKind::kCorruptData, "stored member with differing sizes");
    }
    std::vector<std::byte> buffer(std::min<std::uint64_t>(originalSize, 1 << 18));
    std::uint64_t left = originalSize;
    while (left > 0) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        std::size_t got = input.Read(std::span(buffer).first(want));
        if (got == 0) {
            throw Error(ErrorKind::kTruncated, "archive ends inside member data");
        }
        output.Write(std::span(buffer).first(got));
        left -= got;
    }
}

}  // namespace zembrat::lha
