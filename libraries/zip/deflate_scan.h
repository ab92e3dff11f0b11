// Finds where the final block of a raw deflate stream starts and where it ends, by walking
// the block headers and Huffman symbols without producing any output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zembrat::zip {

struct FinalBlock {
    std::uint64_t startBit = 0;  // its BFINAL bit
    std::uint64_t endBit = 0;    // the first bit after its end-of-block code
};

// Nothing when the stream is not valid deflate or ends before its final block does.
std::optional<FinalBlock> FindFinalBlock(std::span<const std::byte> stream);

}  // namespace zembrat::zip
