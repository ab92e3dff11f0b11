// The interface every encoder implements, and the registry of method ids.
#pragma once

#include <cstdint>
#include <string_view>

#include "lha/archive.h"

namespace zembrat::lha {

struct EncodeSettings {
    int level = 0;    // 0 fast, 1 smaller and slower
    int threads = 0;  // 0: as the machine has cores; 1: the calling thread only
};

// Reads exactly size bytes from input (throws Error(kIo) when it ends early) and writes their
// compressed form to output. The output does not depend on threads.
using EncodeFunction = void (*)(InputStream& input, std::uint64_t size, OutputStream& output,
                                const EncodeSettings& settings);

// The encoder for a method id, or nullptr.
EncodeFunction FindEncoder(std::string_view method);

void EncodeStored(InputStream& input, std::uint64_t size, OutputStream& output,
                  const EncodeSettings& settings);
void EncodeLh5(InputStream& input, std::uint64_t size, OutputStream& output,
               const EncodeSettings& settings);
void EncodeLh6(InputStream& input, std::uint64_t size, OutputStream& output,
               const EncodeSettings& settings);
void EncodeLh7(InputStream& input, std::uint64_t size, OutputStream& output,
               const EncodeSettings& settings);

}  // namespace zembrat::lha
