// Parses an input in chunks of 1 MiB, two chunks at a time when the machine has the cores.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "lha/stream.h"
#include "match_finder.h"

namespace zembrat::lha {

// The parse of a chunk, in the form the block encoder writes.
struct TokenList final : TokenSink {
    std::vector<std::uint16_t> codes;      // a literal byte, or 256 + match length - 3
    std::vector<std::uint16_t> positions;  // distance - 1 of each match, in order

    void Literal(std::uint8_t byte) override { codes.push_back(byte); }
    void Match(std::uint32_t length, std::uint32_t distance) override {
        codes.push_back(static_cast<std::uint16_t>(length - MatchFinder::kMinMatch + 256));
        positions.push_back(static_cast<std::uint16_t>(distance - 1));
    }
};

struct ChunkedParse {
    int windowBits = 16;
    int level = 0;    // 0: fast; 1: searches deeper and prices each region twice
    int threads = 0;  // 1: parse on the calling thread; otherwise two chunks at once
};

// Reads exactly size bytes of input (throws Error(kIo) when it ends early) and hands the parse
// of each chunk to consume, in input order. Matches reach back into the chunk before, never
// past the chunk's end. A chunk is priced by costs as they stand once the chunk two before it
// has been consumed, so the tokens depend neither on timing nor on the number of threads.
void ParseInChunks(InputStream& input, std::uint64_t size, const ChunkedParse& settings,
                   const CodeCosts& costs, const std::function<void(const TokenList&)>& consume);

}  // namespace zembrat::lha
