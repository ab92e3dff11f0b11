// Hand-made LHA archives for hostile-input tests and fuzz seeds: every header byte is chosen
// here, so that names, sizes and extended headers can say things no honest writer says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace zembrat::hostile {

using Bytes = std::vector<std::byte>;

struct CraftedMember {
    std::string name;              // stored bytes, '/' or whatever the test wants
    std::string method = "-lh0-";  // "-lhd-" for folders and links ("name|target")
    std::string data;              // the bytes that follow the header
    int level = 2;                 // 0, 1 or 2
    std::uint8_t osId = 'U';
    std::optional<std::uint32_t> originalSize;       // default: data size (stored data)
    std::optional<std::uint32_t> compressedSize;     // default: data size
    std::optional<std::uint16_t> crc;                // default: CRC-16 of the data
    std::optional<std::uint64_t> largeOriginalSize;  // adds ext 0x42 (64-bit sizes)
    std::uint16_t unixMode = 0100644;
    // Further extended headers (type, payload), written after the name (levels 1 and 2).
    std::vector<std::pair<std::uint8_t, std::string>> extended;
};

// The header bytes of one member (level 2 gets a header CRC; levels 0/1 a checksum).
Bytes CraftHeader(const CraftedMember& member);

// Headers and data of every member, then the end mark (a 0 byte) when asked.
Bytes CraftArchive(std::span<const CraftedMember> members, bool endMark = true);

// Shortcuts for the common members.
CraftedMember StoredFile(std::string name, std::string data, int level = 2);
CraftedMember Folder(std::string name, int level = 2);
CraftedMember Symlink(std::string name, std::string target, int level = 2);

// The named crafted archives the hostile tests use, also written out as fuzz seeds.
std::vector<std::pair<std::string, Bytes>> CraftedSeeds();

}  // namespace zembrat::hostile
