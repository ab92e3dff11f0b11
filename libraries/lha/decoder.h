// The one interface every decoder family implements, and the registry of method ids.
#pragma once

#include <cstdint>
#include <string_view>

#include "lha/archive.h"

namespace zembrat::lha {

// Reads at most compressedSize bytes from input (which stands at the member's data) and writes
// exactly originalSize bytes to output, or throws Error (kCorruptData, kTruncated, kIo).
using DecodeFunction = void (*)(InputStream& input, std::uint64_t compressedSize,
                                std::uint64_t originalSize, OutputStream& output);

// What every decoder throws when the stream cannot be what it claims.
[[noreturn]] inline void CorruptData(const char* why) {
    throw Error(ErrorKind::kCorruptData, why);
}

// The decoder for a method id, or nullptr.
DecodeFunction FindDecoder(std::string_view method);

// Families (one source file each).
void DecodeStored(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
                  OutputStream& output);
void DecodeLh4(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output);
void DecodeLh5(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output);
void DecodeLh6(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output);
void DecodeLh7(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output);
void DecodeLhx(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output);
void DecodeLk7(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output);
void DecodeLh1(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output);
void DecodeLh2(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output);
void DecodeLh3(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output);
void DecodeLzs(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output);
void DecodeLz5(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output);
void DecodePm1(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output);
void DecodePm2(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output);

}  // namespace zembrat::lha
