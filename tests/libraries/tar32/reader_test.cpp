// The tar engine's reader over the helper, asked member by member or streamed whole.
#include <elf.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <limits>
#include <stdexcept>

#include "tar/tar.h"
#include "temp_folder.h"
#include "ustar.h"

namespace zembrat::tar {
namespace {

using tar32::testing::Gzip;
using tar32::testing::Ustar;

archive_host::HostOptions Helper() {
    archive_host::HostOptions options;
    options.helperPath = ZEMBRAT_ARCHIVE_HOST_PATH;
    return options;
}

std::string DataOf(Reader& reader) {
    std::string data;
    reader.Extract([&](std::span<const std::byte> piece) {
        data.append(reinterpret_cast<const char*>(piece.data()), piece.size());
    });
    return data;
}

// Streamed or asked for, the same members with the same data, whichever members' data is
// read and whichever is passed over.
TEST(Reader, StreamedAsAskedFor) {
    const std::string big(200000, 'b');  // several data frames
    const std::string tar = Ustar({{"a.txt", '0', "alpha"},
                                   {"dir", '5', ""},
                                   {"big.bin", '0', big},
                                   {"skipped.bin", '0', big},
                                   {"c.txt", '0', "gamma"}});
    const testing::TempFolder folder;
    for (const std::string& archive : {tar, Gzip(tar)}) {
        const std::string path = folder / "t.tar";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << archive;
        for (bool stream : {false, true}) {
            SCOPED_TRACE(stream ? "streamed" : "asked for");
            Reader reader(path, Helper());
            if (stream) {
                reader.StreamAll();
            }
            std::string seen;
            while (auto member = reader.Next()) {
                seen += member->name + "=";
                if (member->kind == MemberKind::kFile && member->name != "skipped.bin") {
                    seen += std::to_string(DataOf(reader).size());
                }
                seen += ";";
            }
            EXPECT_EQ(seen, "a.txt=5;dir=;big.bin=200000;skipped.bin=;c.txt=5;");
        }
    }
}

// A sink that fails (a full disk) ends the archive at once, streamed or not: the helper
// cannot be brought back in step, and nobody waits for its answer timeout.
TEST(Reader, AFailingSinkEndsTheArchivePromptly) {
    const testing::TempFolder folder;
    const std::string path = folder / "t.tar";
    std::ofstream(path, std::ios::binary)
        << Ustar({{"a.bin", '0', std::string(300000, 'a')}, {"b.txt", '0', "b"}});
    for (bool stream : {false, true}) {
        SCOPED_TRACE(stream ? "streamed" : "asked for");
        Reader reader(path, Helper());
        if (stream) {
            reader.StreamAll();
        }
        ASSERT_TRUE(reader.Next());
        EXPECT_THROW(reader.Extract(
                         [](std::span<const std::byte>) { throw std::runtime_error("disk full"); }),
                     std::runtime_error);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_THROW(reader.Next(), Error);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    }
}

// An ELF header (64 bytes) with the given class and tables; with one program header, that
// header follows at 64 and its segment covers segmentEnd bytes.
std::string ElfHead(unsigned char elfClass, std::uint64_t sectionTable, std::uint16_t sections,
                    std::uint64_t segmentEnd = 0) {
    Elf64_Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = elfClass;
    header.e_shoff = sectionTable;
    header.e_shnum = sections;
    header.e_shentsize = sizeof(Elf64_Shdr);
    header.e_phoff = sizeof header;
    header.e_phnum = segmentEnd != 0 ? 1 : 0;
    header.e_phentsize = sizeof(Elf64_Phdr);
    Elf64_Phdr segment{};
    segment.p_filesz = segmentEnd;
    std::string out(reinterpret_cast<const char*>(&header), sizeof header);
    if (segmentEnd != 0) {
        out.append(reinterpret_cast<const char*>(&segment), sizeof segment);
    }
    return out;
}

// The archive behind a program is found only where the program's image ends and only when
// a tar header or a gzip stream starts there; crafted tables never point it elsewhere.
TEST(ArchiveStart, BehindAProgramOnly) {
    const std::string tar = Ustar({{"a.txt", '0', "alpha"}});
    std::string badChecksum = tar;
    badChecksum[0] = 'b';
    const std::string program = ElfHead(ELFCLASS64, 64, 0);  // the image is its header alone
    const std::string withSegment = ElfHead(ELFCLASS64, 0, 0, 300) + std::string(180, 'p');
    const std::uint64_t huge = std::numeric_limits<std::uint64_t>::max() - 100;
    struct Case {
        const char* name;
        std::string file;
        std::uint64_t start;
    };
    const Case cases[] = {
        {"tar behind a program", program + tar, 64},
        {"gzip behind a program", program + Gzip(tar), 64},
        {"tar behind a program's segment", withSegment + tar, 300},
        {"zeros behind a program", program + std::string(1024, '\0'), 0},
        {"a damaged tar header behind a program", program + badChecksum, 0},
        {"a 32-bit program", ElfHead(ELFCLASS32, 64, 0) + tar, 0},
        {"a section table past the end", ElfHead(ELFCLASS64, 1 << 20, 1) + tar, 0},
        {"a section table that wraps around", ElfHead(ELFCLASS64, huge, 2) + tar, 0},
    };
    const testing::TempFolder folder;
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const std::string path = folder / "f.exe";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << test.file;
        EXPECT_EQ(ArchiveStart(path), test.start);
    }
}

}  // namespace
}  // namespace zembrat::tar
