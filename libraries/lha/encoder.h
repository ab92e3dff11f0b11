// The interface every encoder implements, and the registry of method ids.
#pragma once

#include <cstdint>
#include <string_view>

#include "lha/archive.h"

namespace zembrat::lha {

// Reads exactly size bytes from input (throws Error(kIo) when it ends early) and writes their
// compressed form to output. level: 0 fast, 1 smaller and slower.
using EncodeFunction = void (*)(InputStream& input, std::uint64_t size, OutputStream& output,
                                int level);

// The encoder for a method id, or nullptr.
EncodeFunction FindEncoder(std::string_view method);

void EncodeStored(InputStream& input, std::uint64_t size, OutputStream& output, int level);
void EncodeLh5(InputStream& input, std::uint64_t size, OutputStream& output, int level);
void EncodeLh6(InputStream& input, std::uint64_t size, OutputStream& output, int level);
void EncodeLh7(InputStream& input, std::uint64_t size, OutputStream& output, int level);

}  // namespace zembrat::lha
