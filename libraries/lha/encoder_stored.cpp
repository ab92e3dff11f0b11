// -lh0-: the data as it is.
#include <algorithm>
#include <vector>

#include "encoder.h"

namespace zembrat::lha {

void EncodeStored(InputStream& input, std::uint64_t size, OutputStream& output,
                  const EncodeSettings&) {
    std::vector<std::byte> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size, 1 << 18)));
    std::uint64_t left = size;
    while (left > 0) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        std::size_t got = input.Read(std::span(buffer).first(want));
        if (got == 0) {
            throw Error(ErrorKind::kIo, "input ended before its stated size");
        }
        output.Write(std::span(buffer).first(got));
        left -= got;
    }
}

}  // namespace zembrat::lha
