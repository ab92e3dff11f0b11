// The headers of an ARJ archive: a basic header (id 0x60 0xEA, its size, the fixed fields, the
// name and the comment, its CRC-32) followed by extended headers, which are skipped.
#pragma once

#include <cstdint>
#include <optional>

#include "arj/archive.h"

namespace zembrat::arj {

struct RawHeader {
    std::uint8_t hostOs = 0;
    std::uint8_t flags = 0;
    std::uint8_t method = 0;
    std::uint8_t fileType = 0;
    std::uint32_t timeStamp = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t originalSize = 0;
    std::uint32_t crc = 0;
    std::uint16_t accessMode = 0;
    std::uint32_t extFilePosition = 0;  // when the fixed part holds it
    std::string name;
    std::string comment;
    std::uint64_t offset = 0;      // where the header starts
    std::uint64_t dataOffset = 0;  // after the extended headers
};

// The header at offset, or nothing at the end mark (a basic header of size 0). Throws
// Error(kFormat) for anything else that is no sound header, Error(kTruncated) when the input
// ends inside it.
std::optional<RawHeader> ReadHeader(SeekableInput& input, std::uint64_t offset);

}  // namespace zembrat::arj
