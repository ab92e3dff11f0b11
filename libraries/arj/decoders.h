// The decoders of the ARJ methods.
#pragma once

#include <cstdint>

#include "arj/archive.h"

namespace zembrat::arj {

// Reads at most compressedSize bytes of input and writes exactly originalSize bytes to output,
// or throws Error (kCorruptData, kTruncated, kIo).
using DecodeFunction = void (*)(InputStream& input, std::uint64_t compressedSize,
                                std::uint64_t originalSize, OutputStream& output);

// The decoder of a method, or nullptr.
DecodeFunction FindDecoder(std::uint8_t method);

// Method 4: lengths and positions in unary-prefixed fields, no Huffman codes.
void DecodeFastest(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
                   OutputStream& output);

}  // namespace zembrat::arj
