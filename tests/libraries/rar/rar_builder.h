// Writes archives of the older format byte by byte for the tests: blocks with their CRC-16,
// members stored or with packed data given, names in either form, the header fields honest
// writers set and the ones they do not.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "rar/archive.h"

namespace zembrat::rar::testing {

inline void Put16(std::string& out, unsigned value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

inline void Put32(std::string& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

inline std::uint32_t CrcOf(const std::string& data) {
    return Crc32(std::as_bytes(std::span(data.data(), data.size())));
}

struct StoredMember {
    std::string name;  // as stored (with its Unicode form after a NUL when unicode)
    std::string data;
    std::uint16_t flags = 0;  // besides 0x8000, 0x0100 (high sizes) and 0x0200 (unicode)
    std::uint8_t hostOs = kHostUnix;
    std::uint32_t attributes = 0x81A4;
    bool unicode = false;
    bool highSizes = false;
    std::string extra;  // after the name (salt, extended time)
    bool badHeaderCrc = false;
    std::uint8_t version = 29;
    std::uint8_t method = 0x30;
    std::string packed;  // the data as stored, when not stored as it is
};

class ArchiveBuilder {
  public:
    explicit ArchiveBuilder(std::uint16_t mainFlags = 0) {
        bytes_.assign("Rar!\x1a\x07\x00", 7);
        std::string main;
        main += '\x73';
        Put16(main, mainFlags);
        Put16(main, 13);
        Put16(main, 0);
        Put32(main, 0);
        Block(main);
    }

    // A block from its type on; its CRC-16 goes first.
    ArchiveBuilder& Block(const std::string& rest, bool badCrc = false) {
        Put16(bytes_, (CrcOf(rest) & 0xFFFF) ^ (badCrc ? 0x5555 : 0));
        bytes_ += rest;
        return *this;
    }

    ArchiveBuilder& Member(const StoredMember& member) {
        const std::string& packed = member.method == 0x30 ? member.data : member.packed;
        std::string rest;
        rest += '\x74';
        Put16(rest, 0x8000 | member.flags | (member.highSizes ? 0x0100 : 0) |
                        (member.unicode ? 0x0200 : 0));
        Put16(rest, static_cast<unsigned>(32 + (member.highSizes ? 8 : 0) + member.name.size() +
                                          member.extra.size()));
        Put32(rest, static_cast<std::uint32_t>(packed.size()));
        Put32(rest, static_cast<std::uint32_t>(member.data.size()));
        rest += static_cast<char>(member.hostOs);
        Put32(rest, CrcOf(member.data));
        Put32(rest, 0x5A210000);  // 2025-01-01
        rest += static_cast<char>(member.version);
        rest += static_cast<char>(member.method);
        Put16(rest, static_cast<unsigned>(member.name.size()));
        Put32(rest, member.attributes);
        if (member.highSizes) {
            Put32(rest, 0);
            Put32(rest, 0);
        }
        rest += member.name;
        rest += member.extra;
        Block(rest, member.badHeaderCrc);
        bytes_ += packed;
        return *this;
    }

    // A service block (a recovery record, say) with its data, or an old comment block.
    ArchiveBuilder& Service(const std::string& name, const std::string& data) {
        StoredMember service;
        service.name = name;
        service.data = data;
        Member(service);
        bytes_[bytes_.size() - data.size() - 32 - name.size() + 2] = '\x7a';
        return Recrc(bytes_.size() - data.size() - 32 - name.size(), 32 + name.size());
    }

    ArchiveBuilder& End(std::uint16_t flags = 0) {
        std::string rest;
        rest += '\x7b';
        Put16(rest, flags);
        Put16(rest, 7);
        return Block(rest);
    }

    const std::string& Bytes() const { return bytes_; }

  private:
    ArchiveBuilder& Recrc(std::size_t at, std::size_t size) {
        const std::uint32_t crc = CrcOf(bytes_.substr(at + 2, size - 2)) & 0xFFFF;
        bytes_[at] = static_cast<char>(crc & 0xFF);
        bytes_[at + 1] = static_cast<char>(crc >> 8);
        return *this;
    }

    std::string bytes_;
};

}  // namespace zembrat::rar::testing
