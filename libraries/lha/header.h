// Member headers of every level: parsing from an archive and encoding for the writer.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "lha/archive.h"

namespace zembrat::lha {

// Headers larger than this are treated as malformed (guards against runaway chains).
inline constexpr std::uint64_t kMaxHeaderBytes = 1u << 20;

// Parses the header at start. Returns nothing at the end mark (a 0 byte or the end of the
// input). Fills headerOffset and dataOffset. Throws Error(kFormat/kTruncated).
std::optional<Member> ReadHeader(SeekableInput& input, std::uint64_t start);

// The header bytes for member (level, method, sizes and CRC as set in it). Throws
// Error(kTooLarge) when a name or size does not fit the level.
std::vector<std::byte> EncodeHeader(const Member& member);

}  // namespace zembrat::lha
