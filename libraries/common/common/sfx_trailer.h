// Where the archive sits inside one of our self-extracting files. Such a file is the stub
// program, then the archive, then a 16-byte trailer: the archive's offset as a 64-bit
// little-endian number and the 8-byte mark "ZMBRTSFX". The trailer makes the lookup exact;
// other self-extracting programs are found by the reader's scan for a header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zembrat::common {

inline constexpr std::size_t kSfxTrailerSize = 16;

std::array<std::byte, kSfxTrailerSize> MakeSfxTrailer(std::uint64_t archiveOffset);

struct EmbeddedArchive {
    std::uint64_t offset = 0;  // first byte of the archive
    std::uint64_t end = 0;     // one past its last byte (where the trailer starts)
};

// The archive's place, from the last bytes of a file of fileSize bytes; nothing when they
// are no trailer or point outside the file.
std::optional<EmbeddedArchive> ParseSfxTrailer(std::span<const std::byte, kSfxTrailerSize> tail,
                                               std::uint64_t fileSize);

// Reads the trailer of a file.
std::optional<EmbeddedArchive> FindSfxArchive(const std::string& path);

}  // namespace zembrat::common
