// libcab32.so as the archive component sees it: loaded at run time by path, entries bound by
// name; and small cabinets written byte by byte, to say exactly what a hostile one holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archiver_library.h"
#include "fixture_files.h"
#include "fixtures_dir.h"
#include "temp_folder.h"

namespace zembrat::cab32::testing {

using ::zembrat::testing::ReadFile;
using ::zembrat::testing::TempFolder;

inline const std::string kFixtures = ::zembrat::testing::FixturesDir().string() + "/cab/";

// The one loaded copy, as the component keeps its binding for the life of the program.
inline const ::zembrat::testing::ArchiverLibrary& Library() {
    static const ::zembrat::testing::ArchiverLibrary library(ZEMBRAT_CAB32_PATH, "Cab");
    return library;
}

// The driver's layout: the command, switches, the quoted archive, the quoted folder ending
// in '\', the names.
inline std::string Line(const std::string& command, const std::string& archive,
                        const std::string& folder, const std::string& names = "") {
    return command + " \"" + archive + "\" \"" + folder + "\\\" " + names;
}

// One stored member of a hand-made cabinet.
struct RawMember {
    std::string name;  // the bytes as stored
    std::string data;
    std::uint16_t attributes = 0x20;
};

// Where a cabinet stands in a set: the names of its neighbours (empty: none).
struct SetPlace {
    std::string previous;
    std::string next;
    unsigned index = 0;
};

// A part of a hand-made set, as the records stand: stored folders of data blocks (a block
// of unpacked size 0 is the first piece of a block split between this part and the next),
// member records whose folder may be 0xFFFD (continued from the part before) or 0xFFFE (goes
// on in the next part).
struct RawBlock {
    std::string data;
    std::uint16_t unpacked;
};
struct RawRecord {
    std::string name;
    std::uint32_t size;
    std::uint32_t offset;  // in the folder, counted from its start in the set's first part
    std::uint16_t folder;
    std::uint16_t attributes = 0x20;
};
// checksum: the value every block declares (0: none, which readers do not check).
inline std::string RawSetPart(const std::vector<std::vector<RawBlock>>& folders,
                              const std::vector<RawRecord>& records, const SetPlace& place,
                              std::uint32_t checksum = 0) {
    auto u16 = [](std::string& out, unsigned value) {
        out.push_back(static_cast<char>(value & 0xFF));
        out.push_back(static_cast<char>((value >> 8) & 0xFF));
    };
    auto u32 = [&](std::string& out, std::uint32_t value) {
        u16(out, value & 0xFFFF);
        u16(out, value >> 16);
    };
    std::string neighbours;
    for (const std::string& name : {place.previous, place.next}) {
        if (!name.empty()) {
            neighbours += name + '\0' + "disk" + '\0';
        }
    }
    std::string files;
    for (const RawRecord& record : records) {
        u32(files, record.size);
        u32(files, record.offset);
        u16(files, record.folder);
        u16(files, ((2020 - 1980) << 9) | (1 << 5) | 1);  // 2020-01-01
        u16(files, 12 << 11);                             // 12:00:00
        u16(files, record.attributes);
        files += record.name + '\0';
    }
    const auto tables = static_cast<std::uint32_t>(36 + neighbours.size() + 8 * folders.size());
    std::string folderTable, blocks;
    for (const auto& folder : folders) {
        u32(folderTable, static_cast<std::uint32_t>(tables + files.size() + blocks.size()));
        u16(folderTable, static_cast<unsigned>(folder.size()));
        u16(folderTable, 0);  // stored
        for (const RawBlock& block : folder) {
            u32(blocks, checksum);
            u16(blocks, static_cast<unsigned>(block.data.size()));
            u16(blocks, block.unpacked);
            blocks += block.data;
        }
    }
    std::string cabinet = "MSCF";
    u32(cabinet, 0);
    u32(cabinet, static_cast<std::uint32_t>(tables + files.size() + blocks.size()));
    u32(cabinet, 0);
    u32(cabinet, tables);  // the first file record
    u32(cabinet, 0);
    cabinet += "\x03\x01";  // format 1.3
    u16(cabinet, static_cast<unsigned>(folders.size()));
    u16(cabinet, static_cast<unsigned>(records.size()));
    u16(cabinet, (place.previous.empty() ? 0 : 1) | (place.next.empty() ? 0 : 2));
    u16(cabinet, 0x1234);
    u16(cabinet, place.index);
    return cabinet + neighbours + folderTable + files + blocks;
}

// A cabinet of one stored folder, one data block per 32 KiB.
inline std::string RawCabinet(const std::vector<RawMember>& members, std::uint32_t checksum = 0,
                              const SetPlace& place = {}) {
    std::string content;
    std::vector<RawRecord> records;
    for (const RawMember& member : members) {
        records.push_back({member.name, static_cast<std::uint32_t>(member.data.size()),
                           static_cast<std::uint32_t>(content.size()), 0, member.attributes});
        content += member.data;
    }
    std::vector<RawBlock> blocks;
    for (std::size_t at = 0; at < content.size(); at += 32768) {
        const std::string piece = content.substr(at, 32768);
        blocks.push_back({piece, static_cast<std::uint16_t>(piece.size())});
    }
    return RawSetPart({blocks}, records, place, checksum);
}

}  // namespace zembrat::cab32::testing
