// Parses level 0, 1, 2 and 3 headers and their extended headers.
#include <algorithm>
#include <limits>
#include <string_view>

#include "byte_order.h"
#include "dos_time.h"
#include "header.h"
#include "name_codec.h"

namespace zembrat::lha {
namespace {

[[noreturn]] void Malformed(const std::string& why) {
    throw Error(ErrorKind::kFormat, why);
}

// Reads a header's bytes on demand, keeping them in one buffer.
class HeaderBytes {
  public:
    HeaderBytes(SeekableInput& input, std::uint64_t start) : input_(input), start_(start) {}

    // Makes the first count bytes available; throws kTruncated past the end of the input.
    std::span<const std::byte> Need(std::uint64_t count) {
        if (count > kMaxHeaderBytes) {
            Malformed("header too large");
        }
        if (count > bytes_.size()) {
            std::size_t have = bytes_.size();
            bytes_.resize(static_cast<std::size_t>(count));
            input_.Seek(start_ + have);
            std::size_t filled = have;
            while (filled < bytes_.size()) {
                std::size_t got = input_.Read(std::span(bytes_).subspan(filled));
                if (got == 0) {
                    throw Error(ErrorKind::kTruncated, "archive ends inside a header");
                }
                filled += got;
            }
        }
        return bytes_;
    }

  private:
    SeekableInput& input_;
    std::uint64_t start_;
    std::vector<std::byte> bytes_;
};

// What the extended headers said, joined into the member at the end.
struct Extras {
    std::string name, folder;
    bool hasName = false;
    bool hasLargeSizes = false;  // ext 0x42 gave the sizes
    std::optional<std::string> unicodeName, unicodeFolder;
    std::optional<std::size_t> crcFieldAt;  // offset of the header CRC inside the header
};

std::string AsString(std::span<const std::byte> data) {
    return std::string(reinterpret_cast<const char*>(data.data()), data.size());
}

// Names from Unix hosts may hold '\\' and ':' as ordinary characters: their extended headers
// separate folders by 0xFF (0xFFFF in the Unicode ones) alone. Level 0 headers and the base
// name of level 1 have no other separator than '\\', whoever wrote them.
bool FromUnix(const Member& m) {
    return m.osId == 'U';
}

void ApplyExtended(unsigned type, std::span<const std::byte> data, std::size_t dataAt, Member& m,
                   Extras& extras) {
    switch (type) {
        case 0x00:
            if (data.size() >= 2) {
                extras.crcFieldAt = dataAt;
            }
            break;
        case 0x01:
            extras.name = AsString(data);
            extras.hasName = true;
            break;
        case 0x02:
            extras.folder = AsString(data);
            break;
        case 0x40:
            if (data.size() >= 2) {
                m.msdosAttributes = static_cast<std::uint8_t>(U16(data, 0));
            }
            break;
        case 0x41:
            if (data.size() >= 24) {
                m.windowsCreateTime = U64(data, 0);
                m.windowsWriteTime = U64(data, 8);
                m.windowsAccessTime = U64(data, 16);
            }
            break;
        case 0x42:
            if (data.size() >= 16) {
                m.compressedSize = U64(data, 0);
                m.originalSize = U64(data, 8);
                extras.hasLargeSizes = true;
            }
            break;
        case 0x44:
            extras.unicodeName = Utf16LeToUtf8(data, !FromUnix(m));
            break;
        case 0x45:
            extras.unicodeFolder = Utf16LeToUtf8(data, !FromUnix(m));
            break;
        case 0x50:
            if (data.size() >= 2) {
                m.unixMode = U16(data, 0);
            }
            break;
        case 0x51:
            if (data.size() >= 4) {
                m.unixGid = U16(data, 0);
                m.unixUid = U16(data, 2);
            }
            break;
        case 0x52:
            m.unixGroup = AsString(data);
            break;
        case 0x53:
            m.unixUser = AsString(data);
            break;
        case 0x54:
            if (data.size() >= 4) {
                m.unixTime = U32(data, 0);
            }
            break;
        default:
            break;  // comments, OS/2 and Macintosh data: nothing we keep
    }
}

// Walks a chain of extended headers starting at 'at' whose first size is firstSize.
// sizeWidth is 2 (levels 1 and 2) or 4 (level 3). Returns the total bytes of the chain.
std::uint64_t WalkExtended(HeaderBytes& bytes, std::uint64_t at, std::uint64_t firstSize,
                           int sizeWidth, Member& m, Extras& extras) {
    std::uint64_t size = firstSize;
    std::uint64_t total = 0;
    while (size != 0) {
        if (size < static_cast<std::uint64_t>(1 + sizeWidth)) {
            Malformed("extended header too short");
        }
        auto b = bytes.Need(at + size);
        std::size_t start = static_cast<std::size_t>(at);
        std::size_t end = static_cast<std::size_t>(at + size);
        std::size_t dataAt = start + 1;
        std::size_t dataEnd = end - static_cast<std::size_t>(sizeWidth);
        ApplyExtended(U8(b, start), b.subspan(dataAt, dataEnd - dataAt), dataAt, m, extras);
        total += size;
        at += size;
        size = sizeWidth == 2 ? U16(b, dataEnd) : U32(b, dataEnd);
    }
    return total;
}

void CheckHeaderCrc(std::span<const std::byte> header, const Extras& extras) {
    if (!extras.crcFieldAt) {
        return;
    }
    std::size_t at = *extras.crcFieldAt;
    std::uint16_t stored = U16(header, at);
    std::vector<std::byte> copy(header.begin(), header.end());
    copy[at] = std::byte{0};
    copy[at + 1] = std::byte{0};
    if (Crc16(copy) != stored) {
        Malformed("header CRC mismatch");
    }
}

std::string JoinPath(std::string folder, const std::string& name) {
    if (!folder.empty() && folder.back() != '/' && !name.empty()) {
        folder.push_back('/');
    }
    return folder + name;
}

// folder and name as the legacy headers give them, separators already '/'.
void FinishPath(Member& m, const std::string& folder, const std::string& name,
                const Extras& extras) {
    std::string legacyPath = JoinPath(folder, name);
    // Amiga writers put the file comment after a NUL in the name.
    legacyPath.resize(std::min(legacyPath.size(), legacyPath.find('\0')));
    // A folder member may carry its Unicode folder alone, without an empty name header.
    if (extras.unicodeName || (extras.unicodeFolder && name.empty())) {
        std::string unicodePath = JoinPath(extras.unicodeFolder ? *extras.unicodeFolder : folder,
                                           extras.unicodeName.value_or(std::string()));
        // A Unix name in no code page (any bytes but '/' make a Linux name): its bytes are
        // the name, to be taken as they are, like a Unicode name.
        auto bytes = FromUnix(m) ? BytesOfLatin1Pair(legacyPath, unicodePath) : std::nullopt;
        legacyPath = bytes ? std::move(*bytes) : std::move(unicodePath);
        m.encoding = NameEncoding::kUtf8;
    }
    // Some Amiga writers store folders as empty -lh0- members named "folder/".
    if (m.method == "-lh0-" && m.originalSize == 0 && !legacyPath.empty() &&
        legacyPath.back() == '/') {
        m.method = "-lhd-";
    }
    if (m.method == "-lhd-") {
        // Unix writers store a symbolic link as "name|target".
        std::size_t bar = legacyPath.find('|');
        if (bar != std::string::npos) {
            m.linkTarget = legacyPath.substr(bar + 1);
            legacyPath.resize(bar);
        }
        while (!legacyPath.empty() && legacyPath.back() == '/') {
            legacyPath.pop_back();
        }
    }
    std::size_t first = legacyPath.find_first_not_of('/');
    m.path = first == std::string::npos ? std::string() : legacyPath.substr(first);
}

void ReadLevel0Or1(HeaderBytes& bytes, Member& m, int level) {
    auto b = bytes.Need(22);
    std::uint64_t baseSize = 2u + U8(b, 0);
    b = bytes.Need(baseSize);
    unsigned sum = 0;
    for (std::size_t i = 2; i < baseSize; ++i) {
        sum += U8(b, i);
    }
    if ((sum & 0xFF) != U8(b, 1)) {
        Malformed("header checksum mismatch");
    }
    std::size_t nameLength = U8(b, 21);
    std::size_t afterName = 22 + nameLength;
    std::size_t minimum = afterName + 2 + (level == 1 ? 3 : 0);
    if (baseSize < minimum) {
        Malformed("header shorter than its name");
    }
    std::uint64_t packed = U32(b, 7);
    m.originalSize = U32(b, 11);
    m.unixTime = DosTimeToUnix(U32(b, 15));
    m.msdosAttributes = U8(b, 19);
    m.crc = U16(b, afterName);
    std::string stored(reinterpret_cast<const char*>(b.data()) + 22, nameLength);
    Extras extras;
    if (level == 0) {
        m.osId = 'M';
        std::size_t extraAt = afterName + 2;
        if (baseSize > extraAt) {
            m.osId = U8(b, extraAt);
            if (m.osId == 'U' && baseSize >= extraAt + 12) {
                m.unixTime = U32(b, extraAt + 2);
                m.unixMode = U16(b, extraAt + 6);
                m.unixUid = U16(b, extraAt + 8);
                m.unixGid = U16(b, extraAt + 10);
            }
        }
        m.compressedSize = packed;
        m.dataOffset = m.headerOffset + baseSize;
    } else {
        m.osId = U8(b, afterName + 2);
        std::uint64_t firstSize = U16(b, baseSize - 2);
        std::uint64_t extTotal = WalkExtended(bytes, baseSize, firstSize, 2, m, extras);
        if (!extras.hasLargeSizes) {
            if (extTotal > packed) {
                Malformed("extended headers larger than the member");
            }
            m.compressedSize = packed - extTotal;
        }
        m.dataOffset = m.headerOffset + baseSize + extTotal;
    }
    std::string path = extras.hasName && FromUnix(m)
                           ? extras.name
                           : SeparatorsToSlash(extras.hasName ? extras.name : stored);
    FinishPath(m, SeparatorsToSlash(extras.folder, !FromUnix(m)), path, extras);
}

void ReadLevel2Or3(HeaderBytes& bytes, Member& m, int level) {
    std::size_t baseSize = level == 2 ? 26 : 32;
    auto b = bytes.Need(baseSize);
    std::uint64_t total = level == 2 ? U16(b, 0) : U32(b, 24);
    if (level == 3 && U16(b, 0) != 4) {
        Malformed("unexpected level 3 word size");
    }
    if (total < baseSize) {
        Malformed("header size too small");
    }
    b = bytes.Need(total);
    m.compressedSize = U32(b, 7);
    m.originalSize = U32(b, 11);
    m.unixTime = U32(b, 15);
    m.msdosAttributes = U8(b, 19);
    m.crc = U16(b, 21);
    m.osId = U8(b, 23);
    Extras extras;
    std::uint64_t firstSize = level == 2 ? U16(b, 24) : U32(b, 28);
    std::uint64_t chainEnd =
        baseSize + WalkExtended(bytes, baseSize, firstSize, level == 2 ? 2 : 4, m, extras);
    // One OS-9 writer states a size that leaves out part of the extended headers; the data
    // starts where they end.
    std::uint64_t headerSize = std::max(total, chainEnd);
    CheckHeaderCrc(bytes.Need(headerSize).first(static_cast<std::size_t>(headerSize)), extras);
    m.dataOffset = m.headerOffset + headerSize;
    FinishPath(m, SeparatorsToSlash(extras.folder, !FromUnix(m)),
               FromUnix(m) ? extras.name : SeparatorsToSlash(extras.name), extras);
}

}  // namespace

std::optional<Member> ReadHeader(SeekableInput& input, std::uint64_t start) {
    std::uint64_t size = input.Size();
    if (start >= size) {
        if (start > size) {
            throw Error(ErrorKind::kTruncated, "archive ends inside member data");
        }
        return std::nullopt;
    }
    HeaderBytes bytes(input, start);
    auto first = bytes.Need(1);
    if (U8(first, 0) == 0) {
        return std::nullopt;
    }
    auto b = bytes.Need(std::min<std::uint64_t>(22, size - start));
    if (b.size() < 22) {
        throw Error(ErrorKind::kTruncated, "archive ends inside a header");
    }
    if (U8(b, 2) != '-' || U8(b, 6) != '-') {
        Malformed("no method id where a header should start");
    }
    Member m;
    m.method.assign(reinterpret_cast<const char*>(b.data()) + 2, 5);
    m.headerOffset = start;
    int level = U8(b, 20);
    m.headerLevel = level;
    switch (level) {
        case 0:
        case 1:
            ReadLevel0Or1(bytes, m, level);
            break;
        case 2:
        case 3:
            ReadLevel2Or3(bytes, m, level);
            break;
        default:
            Malformed("unknown header level " + std::to_string(level));
    }
    // LHARK writes its own method under the -lh7- id; its headers carry the OS id ' '.
    if (m.method == "-lh7-" && m.osId == ' ') {
        m.method = "-lk7-";
    }
    // The next header follows the data; a size that wraps around would lead back.
    if (m.compressedSize > std::numeric_limits<std::uint64_t>::max() - m.dataOffset) {
        Malformed("member size out of range");
    }
    return m;
}

}  // namespace zembrat::lha
