// The GZA/BZA container. An archive is a run of members, each a 28-byte little-endian header,
// its name, then its data:
//   @0 u32 checksum: the sum of header bytes 4..27 and of the name bytes, each a signed char
//   @4 "GZIP" or "BZ2\0"   @8 u32 compressed size   @12 u32 original size
//   @16 u16 DOS date   @18 u16 DOS time   @20 u8 attributes   @21 u8 zero
//   @22 u16 kind (0 compressed, 2 stored)   @24 u16 folder-part length   @26 u16 file-part length
// The name is the folder part (ending in '\\') followed by the file part, in CP932. A folder
// is a member whose name ends in '\\' (attribute 0x10, no data).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zembrat::bga {

inline constexpr std::size_t kHeaderSize = 28;
inline constexpr std::uint8_t kFolderAttribute = 0x10;
inline constexpr std::uint16_t kKindCompressed = 0;
inline constexpr std::uint16_t kKindStored = 2;

enum class Codec { kGzip, kBzip2 };

struct MemberHeader {
    Codec codec = Codec::kGzip;
    std::uint32_t compressedSize = 0;
    std::uint32_t originalSize = 0;
    std::uint16_t dosDate = 0;
    std::uint16_t dosTime = 0;
    std::uint8_t attributes = 0;
    std::uint16_t kind = kKindCompressed;
    std::uint16_t folderLength = 0;  // bytes of name that are the folder part
    std::string name;                // stored bytes, '\\' between folders

    bool IsFolder() const { return !name.empty() && name.back() == '\\'; }
    // Data that is raw bytes: kind 2, or kind 0 with equal sizes for a name that is itself
    // an archive (writers store those without saying so).
    bool IsStored() const;
};

// True for the extensions of names whose data writers store as it is.
bool HasArchiveExtension(std::string_view name);

std::uint32_t Checksum(std::span<const std::byte> headerTail, std::string_view name);

// The header and name bytes of a member; the folder part is what ends at the last '\\'.
std::string EncodeHeader(MemberHeader header);

// The fixed part of a header, checked for its codec and lengths but not yet its checksum
// (which needs the name). Throws common::Failure (ARC_ERROR_BROKEN_ARCHIVE).
MemberHeader DecodeFixedHeader(std::span<const std::byte, kHeaderSize> bytes);
// The checksum stored in the fixed part.
std::uint32_t StoredChecksum(std::span<const std::byte, kHeaderSize> bytes);
// Bytes of name that follow the fixed part.
std::size_t NameLength(std::span<const std::byte, kHeaderSize> bytes);

}  // namespace zembrat::bga
