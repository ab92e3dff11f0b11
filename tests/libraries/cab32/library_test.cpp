// libcab32.so reading through its C entries: the fixture cabinets extract as their manifest
// says (with the CP932 names read right), hostile and crafted cabinets end promptly with a
// clear error and write nothing outside the destination, checksums are checked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "cab32_library.h"
#include "fixtures_dir.h"
#include "shell_run.h"

namespace zembrat::cab32::testing {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;
using ::zembrat::testing::FilesBelow;
using ::zembrat::testing::FileSha256;
using ::zembrat::testing::ManifestRow;
using ::zembrat::testing::ReadManifest;
using Row = ManifestRow;

// The manifest, with the names the reference reader gets wrong put right: it leaves CP932
// names as raw bytes and splits them at the 0x5C inside 表.
std::map<std::string, std::vector<ManifestRow>> Manifest() {
    const std::map<std::string, std::string> rightNames = {
        {"\\x95\\\\x82\\xbe\\x82\\xe6\\\\x88ꗗ\\x95\\.txt", "表だよ/一覧表.txt"},
        {"\\x95\\\\x82\\xbe\\x82\\xe6\\\\x8a\\xbf\\x8e\\x9a.txt", "表だよ/漢字.txt"},
    };
    auto rows = ReadManifest(kFixtures + "manifest.tsv");
    for (auto& [archive, members] : rows) {
        for (ManifestRow& row : members) {
            if (const auto right = rightNames.find(row.member); right != rightNames.end()) {
                row.member = right->second;
            }
        }
    }
    return rows;
}

TEST(Cab32Fixtures, EveryCabinetExtractsAsItsManifestSays) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    ASSERT_NE(Library().command, nullptr) << "libcab32.so did not load";
    const auto manifest = Manifest();
    ASSERT_FALSE(manifest.empty());
    for (const auto& [archive, rows] : manifest) {
        SCOPED_TRACE(archive);
        TempFolder scratch;
        const auto result = Library().Run(Line("-x", kFixtures + archive, scratch.Folder()));
        if (archive == "read_format_cab_lzx_invalid_history.cab") {
            // Its LZX data copies from before the start of the stream; the reference reader
            // makes zeros of that, this library reports the damage and leaves nothing.
            EXPECT_EQ(result.code, ARC_ERROR_CRC) << result.text;
            EXPECT_FALSE(fs::exists(scratch / "x"));
            continue;
        }
        EXPECT_EQ(result.code, 0) << result.text;
        std::size_t files = 0;
        for (const Row& row : rows) {
            SCOPED_TRACE(row.member);
            const std::string path = scratch / row.member;
            if (row.kind == "dir") {
                EXPECT_TRUE(fs::is_directory(path));
                continue;
            }
            ++files;
            ASSERT_TRUE(fs::is_regular_file(path));
            EXPECT_EQ(fs::file_size(path), row.size);
            EXPECT_EQ(FileSha256(path), row.sha256);
        }
        EXPECT_EQ(Library().Entries(kFixtures + archive).size(), files);
    }
}

// Cabinets made by other programs, read as cabextract reads them: one file holding two
// cabinets after other bytes, and a five-part set opened at each part (each part names the
// next cabd_multi_basic_ptN.cab, so they are copied under those names).
TEST(Cab32Fixtures, RealCabinetsReadAsCabextractReadsThem) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    const std::string real = ::zembrat::testing::FixturesDir().string() + "/real/";
    TempFolder scratch;
    const auto part = [&](const std::string& folder, int index) {
        return folder + "/cabd_multi_basic_pt" + std::to_string(index) + ".cab";
    };
    const std::string search =
        scratch.Write("search_basic.cab", ReadFile(real + "search_basic.cab"));
    std::vector<std::pair<std::string, std::string>> cases = {{search, search}};  // ours, theirs
    for (int index = 1; index <= 5; ++index) {
        const std::string source =
            ReadFile(real + "multi_basic_pt" + std::to_string(index) + ".cab");
        cases.emplace_back(scratch.Write(part("set", index), source), scratch / part("set", 1));
    }
    for (const auto& [opened, theirs] : cases) {
        SCOPED_TRACE(opened);
        fs::remove_all(scratch / "theirs");
        fs::remove_all(scratch / "ours");
        ASSERT_EQ(::zembrat::testing::Shell("cabextract -q -d '" + (scratch / "theirs") + "' '" +
                                            theirs + "'")
                      .status,
                  0);
        const auto result = Library().Run(Line("-x", opened, scratch / "ours"));
        EXPECT_EQ(result.code, 0) << result.text;
        EXPECT_EQ(FilesBelow(scratch / "ours"), FilesBelow(scratch / "theirs"));
        for (const std::string& file : FilesBelow(scratch / "theirs")) {
            EXPECT_EQ(FileSha256(scratch / ("ours/" + file)),
                      FileSha256(scratch / ("theirs/" + file)));
        }
    }
    EXPECT_EQ(Library().Entries(search).size(), 4u);  // two cabinets
}

TEST(Cab32Fixtures, HostileCabinetsEndPromptlyWithAReason) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    ASSERT_NE(Library().command, nullptr);
    for (const auto& entry : fs::directory_iterator(kFixtures + "hostile")) {
        SCOPED_TRACE(entry.path().filename().string());
        TempFolder scratch;
        for (const char* command : {"-x", "-t", "-l"}) {
            const auto start = std::chrono::steady_clock::now();
            const auto result =
                Library().Run(Line(command, entry.path().string(), scratch.Folder() + "out"));
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            EXPECT_LT(took.count(), 10.0);
            if (result.code != 0) {
                EXPECT_FALSE(result.text.empty()) << "a failure without its reason";
            }
        }
        for (const std::string& file : FilesBelow(scratch.Folder())) {
            EXPECT_TRUE(file == "out" || file.starts_with("out/") || file.starts_with("theirs"))
                << file;
        }
        // Where cabextract reads the whole cabinet without a complaint, ours gives the same
        // files (one of them is a sound LZX cabinet the reference reader got wrong).
        const std::string theirs = scratch.Folder() + "theirs";
        if (::zembrat::testing::Shell("cabextract -q -d '" + theirs + "' '" +
                                      entry.path().string() + "'")
                .status == 0) {
            SCOPED_TRACE("cabextract reads it");
            const auto result = Library().Run(Line("-x", entry.path().string(), theirs + "/ours"));
            EXPECT_EQ(result.code, 0) << result.text;
            for (const std::string& file : FilesBelow(theirs)) {
                if (!file.starts_with("ours") && fs::is_regular_file(theirs + "/" + file)) {
                    EXPECT_EQ(FileSha256(theirs + "/ours/" + file), FileSha256(theirs + "/" + file))
                        << file;
                }
            }
        }
    }
}

struct CraftedCase {
    const char* what;
    std::vector<RawMember> members;
    int code;
    const char* reason;             // in the output
    std::vector<const char*> made;  // files below the destination afterwards
};

TEST(Cab32Crafted, NamesThatLeadOutAreRefusedAndTheRestExtracts) {
    const std::vector<CraftedCase> cases = {
        {"parent folder",
         {{"..\\..\\evil.txt", "bad"}, {"good.txt", "ok"}},
         ARC_ERROR_UNSAFE_PATH,
         "refused",
         {"good.txt"}},
        {"absolute name",
         {{"\\etc\\evil.txt", "bad"}, {"good.txt", "ok"}},
         ARC_ERROR_UNSAFE_PATH,
         "refused",
         {"good.txt"}},
        {"drive letter", {{"C:\\evil.txt", "bad"}}, ARC_ERROR_UNSAFE_PATH, "refused", {}},
        {"CP932 0x5C is no separator", {{"\x95\x5C\\a.txt", "a"}}, 0, "", {"表/a.txt"}},
        {"UTF attribute", {{"\xE6\x97\xA5\\b.txt", "b", 0xA0}}, 0, "", {"日/b.txt"}},
        {"control characters never printed raw",
         {{"..\\\x1b[2J", "x"}},
         ARC_ERROR_UNSAFE_PATH,
         "\\x1B",
         {}},
    };
    for (const CraftedCase& test : cases) {
        SCOPED_TRACE(test.what);
        TempFolder scratch;
        const std::string cabinet = scratch.Write("in.cab", RawCabinet(test.members));
        const auto result = Library().Run(Line("-x", cabinet, scratch.Folder() + "out/a/b"));
        EXPECT_EQ(result.code, test.code) << result.text;
        EXPECT_THAT(result.text, HasSubstr(test.reason));
        EXPECT_EQ(result.text.find('\x1b'), std::string::npos);
        std::vector<std::string> made;
        for (const std::string& file : FilesBelow(scratch.Folder() + "out/a/b")) {
            if (fs::is_regular_file(scratch / ("out/a/b/" + file))) {
                made.push_back(file);
            }
        }
        EXPECT_THAT(made, ::testing::UnorderedElementsAreArray(test.made));
        EXPECT_FALSE(fs::exists(scratch / "evil.txt"));
        EXPECT_FALSE(fs::exists(scratch / "out/evil.txt"));
    }
}

TEST(Cab32Crafted, ABadChecksumLeavesNoFileBehind) {
    TempFolder scratch;
    const std::string cabinet =
        scratch.Write("bad.cab", RawCabinet({{"data.bin", std::string(40000, 'q')}}, 0xDEADBEEF));
    for (const char* command : {"-x", "-t"}) {
        SCOPED_TRACE(command);
        const auto result = Library().Run(Line(command, cabinet, scratch.Folder() + "out"));
        EXPECT_EQ(result.code, ARC_ERROR_CRC) << result.text;
        EXPECT_THAT(result.text, HasSubstr("checksum"));
    }
    EXPECT_TRUE(FilesBelow(scratch.Folder() + "out").empty());
    // The same data with no declared checksum is sound.
    const std::string good =
        scratch.Write("good.cab", RawCabinet({{"data.bin", std::string(40000, 'q')}}));
    EXPECT_EQ(Library().Run(Line("-t", good, scratch.Folder() + "out")).code, 0);
}

TEST(Cab32Crafted, AnExistingFileIsKeptUnlessOverwriteIsAsked) {
    TempFolder scratch;
    const std::string cabinet = scratch.Write("in.cab", RawCabinet({{"f.txt", "new"}}));
    scratch.Write("out/f.txt", "old");
    auto result = Library().Run(Line("-x", cabinet, scratch.Folder() + "out"));
    EXPECT_EQ(result.code, ARC_WARNING_SKIPPED) << result.text;
    EXPECT_EQ(ReadFile(scratch / "out/f.txt"), "old");
    result = Library().Run(Line("-x -o", cabinet, scratch.Folder() + "out"));
    EXPECT_EQ(result.code, 0) << result.text;
    EXPECT_EQ(ReadFile(scratch / "out/f.txt"), "new");
}

TEST(Cab32Crafted, SelectionFoldersAndMemory) {
    TempFolder scratch;
    const std::string cabinet = scratch.Write(
        "in.cab", RawCabinet({{"a\\one.txt", "1"}, {"a\\two.log", "22"}, {"b\\three.txt", "333"}}));
    // -j drops the folders; a pattern and a folder name select.
    auto result = Library().Run(Line("-x -j", cabinet, scratch.Folder() + "flat", "*.txt"));
    EXPECT_EQ(result.code, 0) << result.text;
    EXPECT_EQ(ReadFile(scratch / "flat/one.txt"), "1");
    EXPECT_EQ(ReadFile(scratch / "flat/three.txt"), "333");
    EXPECT_FALSE(fs::exists(scratch / "flat/two.log"));
    result = Library().Run(Line("-x -q", cabinet, scratch.Folder() + "tree", "a\\"));
    EXPECT_EQ(result.code, 0) << result.text;
    EXPECT_TRUE(result.text.empty()) << result.text;
    EXPECT_TRUE(fs::exists(scratch / "tree/a/two.log"));
    EXPECT_FALSE(fs::exists(scratch / "tree/b"));
    EXPECT_EQ(Library().Run(Line("-x", cabinet, scratch.Folder() + "none", "zzz")).code,
              ARC_ERROR_NO_FILES);

    unsigned char buffer[8] = {};
    std::uint32_t written = 0;
    const std::string line = "\"" + cabinet + "\" \"b\\three.txt\"";
    EXPECT_EQ(
        Library().extractMem(0, line.c_str(), buffer, sizeof buffer, nullptr, nullptr, &written),
        0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), written), "333");
    EXPECT_EQ(Library().extractMem(0, line.c_str(), buffer, 2, nullptr, nullptr, &written),
              ARC_ERROR_BUFFER_TOO_SMALL);

    const auto records = Library().Entries(cabinet);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_STREQ(records[2].file_name, "b/three.txt");
    EXPECT_EQ(records[2].original_size, 3u);
    EXPECT_STREQ(records[2].method, "Stored");
}

TEST(Cab32Crafted, WhereACabinetIsFound) {
    const std::string cabinet = RawCabinet({{"inside.txt", "found"}});
    const std::string second = RawCabinet({{"second.txt", "also"}});
    // A cabinet's four letters with header fields that cannot hold: skipped by the search.
    const std::string falseStart = "MSCF" + std::string(4, '\0') + "\x10" + std::string(7, '\0') +
                                   "\xff\xff\xff\x7f" + std::string(20, '\0');
    const struct {
        const char* what;
        const char* name;
        std::string file;
        std::vector<const char*> members;
    } cases[] = {
        {"at the start", "file.bin", cabinet, {"inside.txt"}},
        {"inside a Windows program",
         "file.bin",
         "MZ" + std::string(3000, '\0') + cabinet,
         {"inside.txt"}},
        {"inside a Linux program",
         "file.bin",
         "\x7f"
         "ELF" +
             std::string(3000, '\1') + cabinet,
         {"inside.txt"}},
        // A ZIP archive that stores a cabinet is no cabinet.
        {"inside another archive",
         "file.bin",
         "PK\x03\x04" + std::string(3000, '\0') + cabinet,
         {}},
        {"nowhere", "file.bin", std::string(5000, 'M'), {}},
        // A file named .cab is searched: other bytes before its cabinets, and every one found.
        {"after other bytes in a .cab", "file.CAB", "hello\n" + cabinet, {"inside.txt"}},
        {"after other bytes elsewhere", "file.bin", "hello\n" + cabinet, {}},
        {"after a false start", "file.cab", "junk" + falseStart + cabinet, {"inside.txt"}},
        {"two after other bytes",
         "file.cab",
         "FILLER" + cabinet + "FILLER" + second,
         {"inside.txt", "second.txt"}},
        {"nowhere in a .cab", "file.cab", "hello\n" + falseStart, {}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        TempFolder scratch;
        const std::string file = scratch.Write(test.name, test.file);
        std::vector<std::string> listed;
        for (const auto& record : Library().Entries(file)) {
            listed.emplace_back(record.file_name);
        }
        EXPECT_EQ(listed, std::vector<std::string>(test.members.begin(), test.members.end()));
        const auto result = Library().Run(Line("-x", file, scratch.Folder() + "out"));
        EXPECT_EQ(result.code, test.members.empty() ? ARC_ERROR_BROKEN_ARCHIVE : 0) << result.text;
        EXPECT_EQ(FilesBelow(scratch / "out").size(), test.members.size());
    }
}

TEST(Cab32Crafted, ASetIsReadOnFromTheCabinetsBesideIt) {
    TempFolder scratch;
    const std::string first =
        scratch.Write("SET1.CAB", RawCabinet({{"one.txt", "1"}}, 0, {"", "set2.cab", 0}));
    scratch.Write("set2.cab", RawCabinet({{"two.txt", "22"}}, 0, {"SET1.CAB", "", 1}));
    auto result = Library().Run(Line("-x", first, scratch.Folder() + "all"));
    EXPECT_EQ(result.code, 0) << result.text;
    EXPECT_EQ(ReadFile(scratch / "all/two.txt"), "22");
    EXPECT_EQ(Library().Entries(first).size(), 2u);
    // Without the next cabinet: what is there comes out, and the missing one is named.
    fs::remove(scratch / "set2.cab");
    result = Library().Run(Line("-x", first, scratch.Folder() + "part"));
    EXPECT_EQ(result.code, ARC_ERROR_BROKEN_ARCHIVE);
    EXPECT_THAT(result.text, HasSubstr("set2.cab"));
    EXPECT_EQ(ReadFile(scratch / "part/one.txt"), "1");
    EXPECT_EQ(Library().Entries(first).size(), 1u);
}

TEST(Cab32Crafted, ASetOpenedAtAnyPartWithPartsMissing) {
    // set1: one.txt, then span.bin, which goes on in set2 (its second data block split
    // between the parts); set2: the rest of span.bin, then two.txt in a folder of its own.
    const std::string one(100, '1'), two(200, '2');
    std::string span;
    for (unsigned i = 0; span.size() < 50000; ++i) {
        span += std::to_string(i * 7919u % 10007u) + ' ';
    }
    span.resize(50000);
    const std::string folder = one + span;  // 50100 bytes: one block whole, one split at 40000
    const std::string part1 =
        RawSetPart({{{folder.substr(0, 32768), 32768}, {folder.substr(32768, 7232), 0}}},
                   {{"one.txt", 100, 0, 0}, {"span.bin", 50000, 100, 0xFFFE}}, {"", "set2.cab", 0});
    const std::string part2 =
        RawSetPart({{{folder.substr(40000), 17332}}, {{two, 200}}},
                   {{"span.bin", 50000, 100, 0xFFFD}, {"two.txt", 200, 0, 1}}, {"set1.cab", "", 1});
    const std::map<std::string, std::string> whole = {
        {"one.txt", one}, {"span.bin", span}, {"two.txt", two}};
    const struct {
        const char* opened;
        std::vector<const char*> beside;  // the other parts there
        std::map<std::string, std::string> made;
        int code;
        const char* reason;
    } cases[] = {
        {"set1.cab", {"set2.cab"}, whole, 0, ""},
        // Followed back to the first part.
        {"set2.cab", {"set1.cab"}, whole, 0, ""},
        {"set2.cab",
         {},
         {{"two.txt", two}},
         ARC_ERROR_CRC,
         "span.bin: continued from set1.cab, which is not beside it"},
        {"set1.cab",
         {},
         {{"one.txt", one}},
         ARC_ERROR_CRC,
         "span.bin: goes on in set2.cab, which is not beside it"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(std::string(test.opened) + " with " + std::to_string(test.beside.size()));
        TempFolder scratch;
        const std::map<std::string, std::string> parts = {{"set1.cab", part1}, {"set2.cab", part2}};
        const std::string opened = scratch.Write(test.opened, parts.at(test.opened));
        for (const char* name : test.beside) {
            scratch.Write(name, parts.at(name));
        }
        const auto result = Library().Run(Line("-x", opened, scratch / "out"));
        EXPECT_EQ(result.code, test.code) << result.text;
        EXPECT_THAT(result.text, HasSubstr(test.reason));
        std::map<std::string, std::string> made;
        for (const std::string& file : FilesBelow(scratch / "out")) {
            made[file] = ReadFile(scratch / ("out/" + file));
        }
        EXPECT_TRUE(made == test.made);
        // The listing holds every member of the parts there.
        EXPECT_EQ(Library().Entries(opened).size(), test.beside.empty() ? 2u : 3u);
    }
}

TEST(Cab32Crafted, AMemberContinuedIntoTheNextCabinetComesOutWhole) {
    // Nothing on Debian writes a spanned set (gcab cannot). The member's second data block is
    // split: its first 10000 bytes close the first cabinet (a block of no size of its own),
    // the rest opens the second; the member's record in each says it goes on (to the next,
    // from the previous).
    const std::string whole = std::string(32768, 'a') + std::string(17232, 'b');
    constexpr std::size_t kSplit = 32768 + 10000;
    auto u32At = [](const std::string& bytes, std::size_t at) {
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i) {
            value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
        }
        return value;
    };
    // The record's size and folder, and the unpacked size of the data block at blockAt
    // (from the folder's data).
    auto spanned = [&](std::string cabinet, std::uint16_t folder, std::size_t blockAt,
                       std::uint16_t unpacked) {
        const std::size_t entry = u32At(cabinet, 16);
        for (int i = 0; i < 4; ++i) {
            cabinet[entry + i] = static_cast<char>(whole.size() >> (8 * i));
        }
        cabinet[entry + 8] = static_cast<char>(folder & 0xFF);
        cabinet[entry + 9] = static_cast<char>(folder >> 8);
        const std::size_t block = u32At(cabinet, entry - 8) + blockAt;
        cabinet[block + 6] = static_cast<char>(unpacked & 0xFF);
        cabinet[block + 7] = static_cast<char>(unpacked >> 8);
        return cabinet;
    };
    TempFolder scratch;
    const std::string first = scratch.Write(
        "span1.cab",
        spanned(RawCabinet({{"big.bin", whole.substr(0, kSplit)}}, 0, {"", "span2.cab", 0}), 0xFFFE,
                8 + 32768, 0));
    scratch.Write("span2.cab",
                  spanned(RawCabinet({{"big.bin", whole.substr(kSplit)}}, 0, {"span1.cab", "", 1}),
                          0xFFFD, 0, 17232));
    const auto result = Library().Run(Line("-x", first, scratch.Folder() + "out"));
    EXPECT_EQ(result.code, 0) << result.text;
    EXPECT_TRUE(ReadFile(scratch / "out/big.bin") == whole);
    // Without the second cabinet the member is reported, not cut short.
    fs::remove(scratch / "span2.cab");
    const auto alone = Library().Run(Line("-x", first, scratch.Folder() + "alone"));
    EXPECT_NE(alone.code, 0);
    EXPECT_THAT(alone.text, HasSubstr("span2.cab"));
    EXPECT_FALSE(fs::exists(scratch / "alone/big.bin"));
}

// What the owner window saw, and when it answers "stop".
struct ProgressLog {
    std::vector<std::pair<unsigned, std::string>> reports;  // state, source name
    std::uint32_t lastWritten = 0;
    unsigned stopAt = ~0u;  // the state whose report is answered with 1
};
ProgressLog progressLog;

int RecordProgress(ARC_HWND, unsigned, unsigned state, LPEXTRACTINGINFOEX record) {
    progressLog.reports.emplace_back(state, record->source_file_name);
    progressLog.lastWritten = record->write_size;
    return state == progressLog.stopAt ? 1 : 0;
}

TEST(Cab32Progress, TheOwnerWindowSeesEachMemberAndCanStopCleanly) {
    TempFolder scratch;
    const std::string cabinet =
        scratch.Write("in.cab", RawCabinet({{"big.bin", std::string(300000, 'b')}}));
    ASSERT_NE(Library().setOwnerWindow(0, &RecordProgress), 0);
    const struct {
        const char* what;
        const char* line;
        unsigned stopAt;
        int code;
    } cases[] = {
        {"extraction", "-x -i", ~0u, 0},
        {"no -i, no reports", "-x", ~0u, 0},
        {"stopped at the start", "-x -i", ARC_PROGRESS_BEGIN, ARC_ERROR_ABORTED},
        {"stopped midway", "-x -i", ARC_PROGRESS_UPDATE, ARC_ERROR_ABORTED},
        {"packing stopped", "-a -i", ARC_PROGRESS_UPDATE, ARC_ERROR_ABORTED},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        progressLog = {};
        progressLog.stopAt = test.stopAt;
        fs::remove_all(scratch / "out");
        const bool packing = std::string(test.line).starts_with("-a");
        const std::string line = packing ? Line(test.line, scratch / "out/new.cab",
                                                scratch.Folder() + "out", "../in.cab")
                                         : Line(test.line, cabinet, scratch.Folder() + "out");
        if (packing) {
            fs::create_directories(scratch / "out");
        }
        const auto result = Library().Run(line);
        EXPECT_EQ(result.code, test.code) << result.text;
        if (test.code != 0) {
            // Nothing half-written under a final name.
            for (const std::string& file : FilesBelow(scratch / "out")) {
                ADD_FAILURE() << "left behind: " << file;
            }
        } else if (std::string(test.line).find("-i") != std::string::npos) {
            ASSERT_FALSE(progressLog.reports.empty());
            EXPECT_EQ(progressLog.reports.front(),
                      std::make_pair(unsigned{ARC_PROGRESS_BEGIN}, std::string("big.bin")));
            EXPECT_EQ(progressLog.reports.back().first, unsigned{ARC_PROGRESS_END});
            EXPECT_EQ(progressLog.lastWritten, 300000u);
        } else {
            EXPECT_TRUE(progressLog.reports.empty());
        }
    }
    Library().killOwnerWindow(0);
}

}  // namespace
}  // namespace zembrat::cab32::testing
