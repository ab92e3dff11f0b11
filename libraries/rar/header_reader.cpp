#include <ctime>

#include "headers.h"

namespace zembrat::rar {

namespace {

std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The Unicode form stored after the name's single-byte form: a high byte, then groups of four
// two-bit commands (a low byte under that high byte, a byte alone, a whole character, or a run
// taken from the single-byte form, with a correction).
std::string DecodePackedUnicode(std::string_view plain, std::span<const std::uint8_t> packed) {
    std::vector<std::uint16_t> chars;
    const std::size_t most = std::max<std::size_t>(plain.size(), 1) * 2 + 2;
    std::size_t at = 0;
    if (packed.empty()) {
        return {};
    }
    const unsigned high = packed[at++];
    unsigned flags = 0;
    int flagBits = 0;
    while (at < packed.size() && chars.size() < most) {
        if (flagBits == 0) {
            flags = packed[at++];
            flagBits = 8;
        }
        switch (flags >> 6) {
            case 0:
                if (at >= packed.size()) {
                    at = packed.size();
                    break;
                }
                chars.push_back(packed[at++]);
                break;
            case 1:
                if (at >= packed.size()) {
                    at = packed.size();
                    break;
                }
                chars.push_back(static_cast<std::uint16_t>(packed[at++] | high << 8));
                break;
            case 2:
                if (at + 1 >= packed.size()) {
                    at = packed.size();
                    break;
                }
                chars.push_back(static_cast<std::uint16_t>(packed[at] | packed[at + 1] << 8));
                at += 2;
                break;
            default: {
                if (at >= packed.size()) {
                    at = packed.size();
                    break;
                }
                unsigned length = packed[at++];
                if ((length & 0x80) != 0) {
                    if (at >= packed.size()) {
                        at = packed.size();
                        break;
                    }
                    const unsigned correction = packed[at++];
                    for (length = (length & 0x7F) + 2; length > 0 && chars.size() < most;
                         --length) {
                        const std::size_t from = chars.size();
                        const unsigned byte =
                            from < plain.size() ? static_cast<unsigned char>(plain[from]) : 0;
                        chars.push_back(
                            static_cast<std::uint16_t>(((byte + correction) & 0xFF) | high << 8));
                    }
                } else {
                    for (length += 2; length > 0 && chars.size() < most; --length) {
                        const std::size_t from = chars.size();
                        chars.push_back(
                            from < plain.size() ? static_cast<unsigned char>(plain[from]) : 0);
                    }
                }
                break;
            }
        }
        flags = (flags << 2) & 0xFF;
        flagBits -= 2;
    }
    std::string out;
    for (std::size_t i = 0; i < chars.size(); ++i) {
        std::uint32_t c = chars[i];
        if (c == 0) {
            break;
        }
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < chars.size() && chars[i + 1] >= 0xDC00 &&
            chars[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (chars[++i] - 0xDC00);
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::int64_t DosToUnix(std::uint32_t dos) {
    std::tm parts{};
    parts.tm_year = static_cast<int>((dos >> 25) & 0x7F) + 80;
    parts.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
    parts.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
    parts.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
    parts.tm_min = static_cast<int>((dos >> 5) & 0x3F);
    parts.tm_sec = static_cast<int>((dos & 0x1F) * 2);
    parts.tm_isdst = -1;
    const std::time_t t = std::mktime(&parts);
    return t == static_cast<std::time_t>(-1) ? 0 : static_cast<std::int64_t>(t);
}

}  // namespace

std::optional<Block> ReadBlock(Input& input, std::uint64_t offset) {
    std::uint8_t fixed[7];
    if (input.ReadAt(offset, std::as_writable_bytes(std::span(fixed))) < 7) {
        return std::nullopt;
    }
    Block block;
    block.offset = offset;
    block.type = fixed[2];
    block.flags = static_cast<std::uint16_t>(fixed[3] | fixed[4] << 8);
    block.headerSize = static_cast<std::uint16_t>(fixed[5] | fixed[6] << 8);
    if (block.headerSize < 7) {
        throw Error(ErrorKind::kFormat,
                    "a damaged header (its size is " + std::to_string(block.headerSize) + ")");
    }
    block.header.resize(block.headerSize);
    if (input.ReadAt(offset, std::as_writable_bytes(std::span(block.header))) < block.headerSize) {
        throw Error(ErrorKind::kFormat, "the archive ends inside a header");
    }
    const std::uint32_t crc = Crc32(std::as_bytes(std::span(block.header).subspan(2))) & 0xFFFFu;
    block.crcOk = crc == U16(block.header, 0);
    if (block.type == kBlockFile || block.type == kBlockService) {
        if (block.headerSize < 32) {
            throw Error(ErrorKind::kFormat, "a damaged file header");
        }
        block.dataSize = U32(block.header, 7);
        if ((block.flags & 0x0100) != 0 && block.headerSize >= 36) {
            block.dataSize |= std::uint64_t{U32(block.header, 32)} << 32;
        }
    } else if ((block.flags & 0x8000) != 0 && block.headerSize >= 11) {
        block.dataSize = U32(block.header, 7);
    }
    return block;
}

Member ParseFileBlock(const Block& block) {
    const auto& h = block.header;
    Member member;
    member.flags = block.flags;
    member.packedSize = block.dataSize;
    member.size = U32(h, 11);
    member.hostOs = h[15];
    member.crc = U32(h, 16);
    member.dosTime = U32(h, 20);
    member.version = h[24];
    member.method = h[25];
    const std::size_t nameSize = U16(h, 26);
    member.attributes = U32(h, 28);
    std::size_t at = 32;
    if ((block.flags & 0x0100) != 0) {
        if (h.size() < 40) {
            throw Error(ErrorKind::kFormat, "a damaged file header");
        }
        member.size |= std::uint64_t{U32(h, 36)} << 32;
        at = 40;
    }
    if (at + nameSize > h.size()) {
        throw Error(ErrorKind::kFormat, "a damaged file header (the name runs past it)");
    }
    const std::string_view stored(reinterpret_cast<const char*>(h.data() + at), nameSize);
    at += nameSize;
    if ((block.flags & 0x0200) != 0) {
        const std::size_t nul = stored.find('\0');
        if (nul == std::string_view::npos) {
            member.name = std::string(stored);  // UTF-8 already
        } else {
            member.name = DecodePackedUnicode(
                stored.substr(0, nul),
                std::span(h.data() + (at - nameSize) + nul + 1, nameSize - nul - 1));
        }
        member.unicodeName = true;
    } else {
        member.name = std::string(stored.substr(0, stored.find('\0')));
    }
    if ((block.flags & 0x0400) != 0) {
        at += 8;  // salt
    }
    member.mtime = DosToUnix(member.dosTime);
    if ((block.flags & 0x1000) != 0 && at + 2 <= h.size()) {
        const unsigned extFlags = U16(h, at);
        const unsigned mode = extFlags >> 12;
        if ((mode & 8) != 0) {
            member.hasExactTime = true;
            if ((mode & 4) != 0) {
                ++member.mtime;
            }
        }
    }
    // Every host's archiver stores '\\' between folders.
    {
        for (char& c : member.name) {
            if (c == '\\') {
                c = '/';
            }
        }
    }
    return member;
}

bool Member::IsDirectory() const {
    if ((flags & 0x00E0) == 0x00E0) {
        return true;
    }
    if (hostOs == kHostUnix || hostOs == kHostBeos) {
        return (attributes & 0xF000) == 0x4000;
    }
    return (attributes & 0x10) != 0;
}

bool Member::IsSymlink() const {
    return (hostOs == kHostUnix || hostOs == kHostBeos) && (attributes & 0xF000) == 0xA000;
}

unsigned Member::UnixMode() const {
    return hostOs == kHostUnix || hostOs == kHostBeos ? attributes & 0777u : 0u;
}

}  // namespace zembrat::rar
