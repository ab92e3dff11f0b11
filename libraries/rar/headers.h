// The blocks of an archive: each starts with a CRC-16 (the low half of the CRC-32 of the rest
// of the header), its type, flags and size; a block with the flag 0x8000 carries data after
// the header, its size in the four bytes that follow (file and service blocks: the packed
// size).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rar/archive.h"

namespace zembrat::rar {

inline constexpr std::uint8_t kBlockMarker = 0x72;
inline constexpr std::uint8_t kBlockMain = 0x73;
inline constexpr std::uint8_t kBlockFile = 0x74;
inline constexpr std::uint8_t kBlockService = 0x7A;
inline constexpr std::uint8_t kBlockEnd = 0x7B;

inline constexpr std::uint16_t kFileContinuedFromPrevious = 0x0001;
inline constexpr std::uint16_t kFileContinuesInNext = 0x0002;
inline constexpr std::uint16_t kEndNextVolume = 0x0001;

inline constexpr std::size_t kSignatureSize = 7;

struct Block {
    std::uint8_t type = 0;
    std::uint16_t flags = 0;
    std::uint64_t offset = 0;
    std::uint64_t headerSize = 0;
    std::uint64_t dataSize = 0;
    bool crcOk = false;
    std::vector<std::uint8_t> header;  // the whole header
};

// The block at offset; nothing at the end of the input (or fewer than 7 bytes left). Throws
// Error(kFormat) for a header that cannot be a header.
std::optional<Block> ReadBlock(Input& input, std::uint64_t offset);

// A file block's member (parts not filled in). Throws Error(kFormat) when it is too short.
Member ParseFileBlock(const Block& block);

}  // namespace zembrat::rar
