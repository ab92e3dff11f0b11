// Encodes level 0, 1 and 2 headers.
#include <algorithm>

#include "byte_order.h"
#include "dos_time.h"
#include "header.h"
#include "name_codec.h"

namespace zembrat::lha {
namespace {

constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;

[[noreturn]] void TooLarge(const std::string& why) {
    throw Error(ErrorKind::kTooLarge, why);
}

std::uint16_t DefaultMode(const Member& m) {
    if (m.unixMode) {
        return *m.unixMode;
    }
    if (m.IsSymlink()) {
        return 0120777;
    }
    return m.IsDirectory() ? 040755 : 0100644;
}

// Splits "a/b/c" into folder "a/b/" and name "c"; a folder keeps all of it as folder.
void SplitPath(const std::string& path, bool directory, std::string& folder, std::string& name) {
    if (directory) {
        folder = path.empty() ? std::string() : path + "/";
        name.clear();
        return;
    }
    std::size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

void SplitPath(const Member& m, std::string& folder, std::string& name) {
    // A link is stored as "path|target", split at its last '/' as Unix writers do (so a
    // target's folders land in the folder part, where '/' is allowed).
    SplitPath(m.IsSymlink() ? m.path + "|" + m.linkTarget : m.path, m.IsDirectory(), folder, name);
}

void PutBytes(std::vector<std::byte>& out, std::string_view text) {
    for (char c : text) {
        PutU8(out, static_cast<unsigned char>(c));
    }
}

void PutExtended(std::vector<std::byte>& out, unsigned type, std::span<const std::byte> data) {
    std::size_t size = 3 + data.size();
    if (size > 0xFFFF) {
        TooLarge("extended header too large");
    }
    // The size of each extended header sits just before it (at the end of the previous one).
    SetU16(out, out.size() - 2, static_cast<unsigned>(size));
    PutU8(out, type);
    out.insert(out.end(), data.begin(), data.end());
    PutU16(out, 0);
}

std::vector<std::byte> Bytes(std::string_view text) {
    std::vector<std::byte> out;
    PutBytes(out, text);
    return out;
}

void PutUnixExtended(std::vector<std::byte>& out, const Member& m, bool withTime) {
    std::vector<std::byte> data;
    PutU16(data, DefaultMode(m));
    PutExtended(out, 0x50, data);
    data.clear();
    PutU16(data, m.unixGid.value_or(0));
    PutU16(data, m.unixUid.value_or(0));
    PutExtended(out, 0x51, data);
    if (!m.unixGroup.empty()) {
        PutExtended(out, 0x52, Bytes(m.unixGroup));
    }
    if (!m.unixUser.empty()) {
        PutExtended(out, 0x53, Bytes(m.unixUser));
    }
    if (withTime) {
        data.clear();
        PutU32(data, static_cast<std::uint32_t>(m.unixTime));
        PutExtended(out, 0x54, data);
    }
}

void PutWindowsTimes(std::vector<std::byte>& out, const Member& m) {
    if (!m.windowsWriteTime) {
        return;
    }
    std::vector<std::byte> data;
    PutU64(data, m.windowsCreateTime.value_or(*m.windowsWriteTime));
    PutU64(data, *m.windowsWriteTime);
    PutU64(data, m.windowsAccessTime.value_or(*m.windowsWriteTime));
    PutExtended(out, 0x41, data);
}

// Level 0 holds the whole path with '\\' separators, as MS-DOS readers expect. (A reader that
// does not know Shift-JIS splits such a name at a trail byte 0x5C; levels 1 and 2 avoid that.)
std::string LegacyName(const Member& m) {
    std::string folder, name;
    SplitPath(m, folder, name);
    return SlashTo(folder, '\\') + name;
}

bool HasLargeSizes(const Member& m) {
    return m.originalSize > kMax32 || m.compressedSize > kMax32;
}

// The extended headers levels 1 and 2 share: folder, attributes, times and Unix attributes
// (level 1 carries the Unix time in ext 0x54; level 2 has it in the base header).
void PutFolderAndAttributes(std::vector<std::byte>& out, const Member& m, const std::string& folder,
                            bool unixTimeInExtended) {
    if (!folder.empty()) {
        PutExtended(out, 0x02, Bytes(SlashTo(folder, static_cast<char>(0xFF))));
    }
    // Links keep their "name|target" form in the legacy name alone.
    if (!m.unicodePath.empty() && !m.IsSymlink()) {
        std::string unicodeFolder, unicodeName;
        SplitPath(m.unicodePath, m.IsDirectory(), unicodeFolder, unicodeName);
        // A folder member has no name; some readers refuse an empty name header.
        if (!unicodeName.empty()) {
            PutExtended(out, 0x44, Utf8ToUtf16Le(unicodeName));
        }
        if (!unicodeFolder.empty()) {
            PutExtended(out, 0x45, Utf8ToUtf16Le(unicodeFolder));
        }
    }
    if (m.msdosAttributes != 0x20) {
        std::vector<std::byte> data;
        PutU16(data, m.msdosAttributes);
        PutExtended(out, 0x40, data);
    }
    PutWindowsTimes(out, m);
    if (m.osId == 'U') {
        PutUnixExtended(out, m, unixTimeInExtended);
    }
}

std::vector<std::byte> EncodeLevel0Or1(const Member& m) {
    // Level 0 holds the whole path with '\\' separators; level 1 the name alone, with the
    // folder in ext 0x02 as Unix writers do (and as some readers require).
    std::string folder, leaf;
    SplitPath(m, folder, leaf);
    // Readers split a level 1 base name at 0x5C and 0xFF too; such a name goes to ext 0x01.
    bool nameInExtended = m.headerLevel == 1 && leaf.find_first_of("\\\xFF") != std::string::npos;
    std::string name = m.headerLevel == 0 ? LegacyName(m) : nameInExtended ? std::string() : leaf;
    bool unixArea = m.headerLevel == 0 && m.osId == 'U';
    std::size_t baseSize = 24 + name.size() + (m.headerLevel == 1 ? 3 : 0) + (unixArea ? 12 : 0);
    if (name.size() > 255 || baseSize - 2 > 255) {
        TooLarge("name too long for a level " + std::to_string(m.headerLevel) + " header");
    }
    std::vector<std::byte> out;
    PutU8(out, static_cast<unsigned>(baseSize - 2));
    PutU8(out, 0);  // checksum, set below
    PutBytes(out, m.method);
    PutU32(out, 0);  // compressed size (level 1: plus the extended headers), set below
    PutU32(out, static_cast<std::uint32_t>(m.originalSize));
    PutU32(out, UnixToDosTime(m.unixTime));
    // Level 1 keeps 0x20 here (some readers insist) and carries other attributes in ext 0x40.
    PutU8(out, m.headerLevel == 1 ? 0x20 : m.msdosAttributes);
    PutU8(out, static_cast<unsigned>(m.headerLevel));
    PutU8(out, static_cast<unsigned>(name.size()));
    PutBytes(out, name);
    PutU16(out, m.crc);
    if (unixArea) {
        PutU8(out, 'U');
        PutU8(out, 0);
        PutU32(out, static_cast<std::uint32_t>(m.unixTime));
        PutU16(out, DefaultMode(m));
        PutU16(out, m.unixUid.value_or(0));
        PutU16(out, m.unixGid.value_or(0));
    }
    if (HasLargeSizes(m)) {
        TooLarge("a member of 4 GiB or more needs a level 2 header");
    }
    std::uint64_t packed = m.compressedSize;
    if (m.headerLevel == 1) {
        PutU8(out, m.osId);
        PutU16(out, 0);  // first extended header size
        if (nameInExtended) {
            PutExtended(out, 0x01, Bytes(leaf));
        }
        PutFolderAndAttributes(out, m, folder, true);
        packed += out.size() - baseSize;
    }
    if (packed > kMax32) {
        TooLarge("a member of 4 GiB or more needs a level 2 header");
    }
    for (int i = 0; i < 4; ++i) {
        out[7 + i] = static_cast<std::byte>((packed >> (8 * i)) & 0xFF);
    }
    unsigned sum = 0;
    for (std::size_t i = 2; i < baseSize; ++i) {
        sum += std::to_integer<unsigned>(out[i]);
    }
    out[1] = static_cast<std::byte>(sum & 0xFF);
    return out;
}

std::vector<std::byte> EncodeLevel2(const Member& m) {
    std::string folder, name;
    SplitPath(m, folder, name);
    std::vector<std::byte> out;
    PutU16(out, 0);  // total size, set below
    PutBytes(out, m.method);
    // Sizes of 4 GiB or more keep their low 32 bits here; ext 0x42 carries them whole.
    PutU32(out, static_cast<std::uint32_t>(m.compressedSize));
    PutU32(out, static_cast<std::uint32_t>(m.originalSize));
    PutU32(out, static_cast<std::uint32_t>(m.unixTime));
    PutU8(out, 0x20);
    PutU8(out, 2);
    PutU16(out, m.crc);
    PutU8(out, m.osId);
    PutU16(out, 0);  // first extended header size
    std::vector<std::byte> zeroCrc(2);
    PutExtended(out, 0x00, zeroCrc);
    std::size_t crcAt = out.size() - 4;
    PutExtended(out, 0x01, Bytes(name));
    if (HasLargeSizes(m)) {
        std::vector<std::byte> sizes;
        PutU64(sizes, m.compressedSize);
        PutU64(sizes, m.originalSize);
        PutExtended(out, 0x42, sizes);
    }
    PutFolderAndAttributes(out, m, folder, false);
    // Old readers take a header whose first byte is 0 for the end mark.
    if ((out.size() & 0xFF) == 0) {
        PutU8(out, 0);
    }
    if (out.size() > 0xFFFF) {
        TooLarge("header too large for level 2");
    }
    SetU16(out, 0, static_cast<unsigned>(out.size()));
    SetU16(out, crcAt, Crc16(out));
    return out;
}

}  // namespace

std::vector<std::byte> EncodeHeader(const Member& m) {
    if (m.method.size() != 5) {
        throw Error(ErrorKind::kFormat, "method id must have five characters");
    }
    switch (m.headerLevel) {
        case 0:
        case 1:
            return EncodeLevel0Or1(m);
        case 2:
            return EncodeLevel2(m);
        default:
            throw Error(ErrorKind::kFormat,
                        "cannot write header level " + std::to_string(m.headerLevel));
    }
}

}  // namespace zembrat::lha
