// Hand-made ARJ archives for the tests: a main header, members with any field set (also
// wrongly), the end mark. Data is written as given, so that a test controls every byte.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "arj/archive.h"

namespace zembrat::arj::testing {

struct Entry {
    std::string name{};
    std::string data{};  // as stored (compressed or not)
    std::uint8_t method = 0;
    std::uint8_t flags = 0x10;
    std::uint8_t hostOs = kHostUnix;
    std::uint8_t fileType = kTypeBinary;
    std::int64_t originalSize = -1;  // -1: the data's size
    std::int64_t crc = -1;           // -1: the data's CRC-32
    std::uint32_t position = 0;      // where a continued part starts in the whole file
};

inline void Put16(std::string& out, unsigned value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

inline void Put32(std::string& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

inline std::uint32_t CrcOf(std::string_view bytes) {
    return Crc32(std::as_bytes(std::span(bytes.data(), bytes.size())));
}

// One header: the id, the size, the fixed part (34 bytes), name, comment, CRC, no
// extended header.
inline std::string Header(const Entry& entry, std::uint32_t compressedSize) {
    std::string fields;
    fields.push_back(34);  // first_hdr_size
    fields.push_back(11);  // archiver version
    fields.push_back(1);   // version needed
    fields.push_back(static_cast<char>(entry.hostOs));
    fields.push_back(static_cast<char>(entry.flags));
    fields.push_back(static_cast<char>(entry.method));
    fields.push_back(static_cast<char>(entry.fileType));
    fields.push_back(0);
    Put32(fields, 0x5A8C6000);  // 2025-04-12 12:00:00 from MS-DOS, 2018 from Unix
    Put32(fields, compressedSize);
    Put32(fields, static_cast<std::uint32_t>(entry.originalSize >= 0 ? entry.originalSize
                                                                     : entry.data.size()));
    Put32(fields, static_cast<std::uint32_t>(entry.crc >= 0 ? entry.crc : CrcOf(entry.data)));
    Put16(fields, 0);     // file-spec position
    Put16(fields, 0644);  // access mode
    Put16(fields, 0);     // chapters
    Put32(fields, entry.position);
    fields += entry.name;
    fields.push_back(0);
    fields.push_back(0);  // empty comment
    std::string header = "\x60\xEA";
    Put16(header, static_cast<unsigned>(fields.size()));
    header += fields;
    Put32(header, CrcOf(fields));
    Put16(header, 0);  // no extended header
    return header;
}

inline std::string MainHeader(std::uint8_t flags = 0x10) {
    Entry main{.name = "test.arj", .flags = flags, .fileType = kTypeMain};
    return Header(main, 0);
}

inline std::string EndMark() {
    return std::string("\x60\xEA\x00\x00", 4);
}

inline std::string Archive(const std::vector<Entry>& entries, std::uint8_t mainFlags = 0x10) {
    std::string archive = MainHeader(mainFlags);
    for (const Entry& entry : entries) {
        archive += Header(entry, static_cast<std::uint32_t>(entry.data.size())) + entry.data;
    }
    return archive + EndMark();
}

}  // namespace zembrat::arj::testing
