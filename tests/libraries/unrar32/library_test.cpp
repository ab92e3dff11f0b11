// libunrar32.so through its C entries: the fixture archives and volume sets extract as they
// should, a missing volume is named, and hostile archives end promptly, inside the
// destination, with a reason.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "fixtures_dir.h"
#include "hostile_fixtures.h"
#include "unrar32_library.h"

namespace zembrat::unrar32::testing {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;
using ::zembrat::testing::FilesBelow;
using ::zembrat::testing::FileSha256;
using ::zembrat::testing::ManifestRow;
using ::zembrat::testing::ReadManifest;

// Where the reference reader is wrong, what the archive really holds.
const std::map<std::string, std::vector<ManifestRow>> kCorrections = {
    // A ZIP stored in a RAR: the reader must not take the ZIP for the archive.
    {"read_format_rar5_zip_in_rar.rar",
     {{"payload", "dir", 0, "-"},
      {"payload/inner.zip", "file", 0, ""},
      {"payload/real_after.txt", "file", 0, ""}}},
};

// Crafted: a filter whose parameters no filter takes (unar fails it too; the reference
// reader's 4 bytes are not the member's). The member fails with the reason, nothing is left.
const std::set<std::string> kDamagedMember = {"read_format_rar_unbound_staticdata.rar"};

// Under the sanitizer the helper has no address-space limit (its shadow memory needs terabytes)
// and the sanitizer's own limit ends it, without the reason; the library's memory includes
// the shadow.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

void ExpectAsListed(const std::string& folder, const std::vector<ManifestRow>& rows) {
    for (const ManifestRow& row : rows) {
        SCOPED_TRACE(row.member);
        const std::string path = folder + row.member;
        if (row.kind == "dir") {
            EXPECT_TRUE(fs::is_directory(path));
        } else if (row.kind == "link") {
            ASSERT_TRUE(fs::is_symlink(path));
            EXPECT_EQ(fs::read_symlink(path).string(), row.sha256);
        } else {
            ASSERT_TRUE(fs::is_regular_file(path));
            if (!row.sha256.empty()) {
                EXPECT_EQ(fs::file_size(path), row.size);
                EXPECT_EQ(FileSha256(path), row.sha256);
            }
        }
    }
}

TEST(Unrar32Fixtures, EveryArchiveExtractsAsItsManifestSays) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    ASSERT_NE(Library().command, nullptr) << "libunrar32.so did not load";
    const auto manifest = ReadManifest(kFixtures + "manifest.tsv");
    for (const fs::path& archive : ::zembrat::testing::FixtureArchives(kFixtures)) {
        const std::string name = archive.filename().string();
        SCOPED_TRACE(name);
        TempFolder scratch;
        const auto result = Library().Run(ExtractLine(archive.string(), scratch.Folder()));
        if (kDamagedMember.count(name) != 0) {
            EXPECT_EQ(result.code, ARC_ERROR_CRC);
            EXPECT_THAT(result.text, HasSubstr("a filter's parameters are out of range"));
            EXPECT_TRUE(FilesBelow(scratch.Folder()).empty());
            continue;
        }
        EXPECT_EQ(result.code, 0) << result.text;
        const auto corrected = kCorrections.find(name);
        const auto found = manifest.find(name);
        const std::vector<ManifestRow> rows = corrected != kCorrections.end() ? corrected->second
                                              : found != manifest.end()
                                                  ? found->second
                                                  : std::vector<ManifestRow>{};
        ExpectAsListed(scratch.Folder(), rows);
        // Nothing more than listed, and the listing names every member but the folders
        // that are only implied.
        EXPECT_EQ(FilesBelow(scratch.Folder()).size(), rows.size()) << result.text;
        const auto folders = std::count_if(
            rows.begin(), rows.end(), [](const ManifestRow& row) { return row.kind == "dir"; });
        EXPECT_GE(Library().Names(archive.string(), "*", kProbeMode).size() +
                      static_cast<std::size_t>(folders),
                  rows.size());
        EXPECT_EQ(Library().checkArchive(archive.c_str(), ARC_CHECK_FULL), 1);
    }
}

struct VolumeSetCase {
    const char* first;  // in the fixtures' multivolume folder
    int code;
    std::size_t files;  // files and links extracted
};

TEST(Unrar32Volumes, EverySetExtractsAsOneArchiveFromItsFirstVolume) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    const VolumeSetCase cases[] = {
        {"rar_multivolume_multiple_files.part1.rar", 0, 2},
        {"rar_multivolume_single_file.part1.rar", 0, 1},
        {"rar_multivolume_uncompressed_files.part01.rar", 0, 12},
        {"read_format_rar5_multiarchive.part01.rar", 0, 2},
        {"read_format_rar5_multiarchive_solid.part01.rar", 0, 9},
        {"read_splitted_rar_aa", 0, 3},
        {"splitted_rar_seek_support_aa", 0, 1},
        // Members that switch between PPMd and LZ blocks, one of them continued across
        // volumes (a 241 MB file), and a set of pieces cut by size.
        {"read_format_rar_multivolume.part0001.rar", 0, 5},
        {"read_large_splitted_rar_aa", 0, 1},
    };
    for (const VolumeSetCase& test : cases) {
        SCOPED_TRACE(test.first);
        TempFolder scratch;
        const std::string archive = kFixtures + "multivolume/" + test.first;
        const auto result = Library().Run(ExtractLine(archive, scratch.Folder()));
        EXPECT_EQ(result.code, test.code) << result.text;
        std::size_t files = 0;
        for (const std::string& file : FilesBelow(scratch.Folder())) {
            files += fs::is_directory(fs::symlink_status(scratch.Folder() + file)) ? 0 : 1;
        }
        EXPECT_EQ(files, test.files) << result.text;
    }
}

TEST(Unrar32Volumes, AMissingVolumeIsNamed) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    struct Case {
        std::vector<std::string> present;
        std::string missing;
    };
    const Case cases[] = {
        {{"rar_multivolume_single_file.part1.rar", "rar_multivolume_single_file.part2.rar"},
         "rar_multivolume_single_file.part3.rar"},
        {{"read_format_rar5_multiarchive.part01.rar", "read_format_rar5_multiarchive.part02.rar"},
         "read_format_rar5_multiarchive.part03.rar"},
        {{"rar_multivolume_multiple_files.part1.rar"}, "rar_multivolume_multiple_files.part2.rar"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.missing);
        TempFolder scratch;
        for (const std::string& volume : test.present) {
            fs::copy_file(kFixtures + "multivolume/" + volume, scratch / volume);
        }
        const std::string out = scratch.Folder() + "out/";
        const auto result = Library().Run(ExtractLine(scratch / test.present[0], out));
        EXPECT_EQ(result.code, ARC_ERROR_CANNOT_READ);
        EXPECT_THAT(result.text, HasSubstr(scratch / test.missing));
        EXPECT_FALSE(fs::exists(out));
        EXPECT_TRUE(Library().Names(scratch / test.present[0], "*", kProbeMode).empty());
    }
}

// Every volume of a set given in turn, as a batch over "*.rar" gives them: the first extracts
// the set, each later one is skipped with a note and writes nothing; listing and checking a
// later volume answer for its set. Without the first volume a later one fails, naming it.
TEST(Unrar32Volumes, LaterVolumesAreSkippedAndAnswerForTheirSet) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    const struct {
        const char* prefix;  // NAME.part in the fixtures' multivolume folder
        int volumes;
        int width;
    } cases[] = {{"rar_multivolume_multiple_files.part", 6, 1},
                 {"read_format_rar5_multiarchive_solid.part", 4, 2}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.prefix);
        TempFolder scratch;
        std::vector<std::string> volumes;
        for (int number = 1; number <= test.volumes; ++number) {
            const std::string digits = std::to_string(number);
            volumes.push_back(test.prefix + std::string(test.width - digits.size(), '0') + digits +
                              ".rar");
            fs::copy_file(kFixtures + "multivolume/" + volumes.back(), scratch / volumes.back());
        }
        const std::string first = scratch / volumes[0];
        const std::string out = scratch.Folder() + "out/";
        ASSERT_EQ(Library().Run(ExtractLine(first, out)).code, 0);
        const auto extracted = FilesBelow(out);
        for (std::size_t at = 1; at < volumes.size(); ++at) {
            const std::string later = scratch / volumes[at];
            SCOPED_TRACE(later);
            const auto skipped = Library().Run(ExtractLine(later, out));
            EXPECT_EQ(skipped.code, ARC_WARNING_SKIPPED);
            EXPECT_EQ(skipped.text, volumes[at] + ": volume " + std::to_string(at + 1) +
                                        " of the set that " + volumes[0] + " extracts; skipped\n");
            EXPECT_THAT(Library().Run(ExtractLine(later, out, "-t")).text,
                        HasSubstr(" tests; skipped"));
            EXPECT_EQ(Library().Names(later, "*", kProbeMode),
                      Library().Names(first, "*", kProbeMode));
            EXPECT_EQ(Library().checkArchive(later.c_str(), ARC_CHECK_FULL), 1);
        }
        EXPECT_EQ(FilesBelow(out), extracted);

        fs::remove(first);
        const std::string last = scratch / volumes.back();
        const auto orphan = Library().Run(ExtractLine(last, out));
        EXPECT_EQ(orphan.code, ARC_ERROR_CANNOT_READ);
        EXPECT_THAT(orphan.text, HasSubstr("the first volume " + first + " is missing"));
        EXPECT_TRUE(Library().Names(last, "*", kProbeMode).empty());
        EXPECT_EQ(Library().checkArchive(last.c_str(), ARC_CHECK_FULL), 0);
        // Renamed, a later volume's name no longer tells which file is the first.
        fs::copy_file(last, scratch / "renamed.rar");
        EXPECT_THAT(Library().Run(ExtractLine(scratch / "renamed.rar", out)).text,
                    HasSubstr("its name does not tell which file is the first"));
        EXPECT_EQ(FilesBelow(out), extracted);
    }
}

TEST(Unrar32Fixtures, HostileArchivesEndPromptlyInsideTheDestination) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    ASSERT_NE(Library().command, nullptr) << "libunrar32.so did not load";
    ::zembrat::testing::ExpectHostileArchivesContained(
        Library(), kFixtures + "hostile", 10.0,
        [](const std::string& archive, const std::string& out) {
            return ExtractLine(archive, out);
        },
        kProbeMode);
    // The library's own memory stays small, whatever the helper was asked to decode.
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    if (!kSanitized) {
        EXPECT_LT(usage.ru_maxrss, 64 * 1024) << "peak resident KiB";
    }
}

TEST(Unrar32Fixtures, EncryptedArchivesAndMembersSayTheyAreEncrypted) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    const struct {
        const char* name;
        std::set<std::string> extracted;  // the members that are not encrypted
    } cases[] = {
        {"read_format_rar4_solid_encrypted.rar", {}},
        {"read_format_rar4_solid_encrypted_filenames.rar", {}},
        // b.txt and d.txt are encrypted; the decoder does not say so, the library does.
        {"read_format_rar5_encrypted.rar", {"a.txt", "c.txt"}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        TempFolder scratch;
        const auto result =
            Library().Run(ExtractLine(kFixtures + "hostile/" + test.name, scratch.Folder()));
        EXPECT_NE(result.code, 0);
        EXPECT_THAT(result.text, HasSubstr("encrypted, not supported"));
        const auto files = FilesBelow(scratch.Folder());
        EXPECT_EQ(std::set<std::string>(files.begin(), files.end()), test.extracted);
    }
}

}  // namespace
}  // namespace zembrat::unrar32::testing

namespace zembrat::unrar32::testing {
namespace {

const std::string kReal = ::zembrat::testing::FixturesDir().string() + "/real/";

// The older format through the library: a member of a solid archive named alone comes out
// whole (the members before it are decoded, not written), also into a buffer; a member whose
// data is damaged fails alone with its reason and the others are extracted; the listing tells
// the packed sizes.
TEST(Unrar32OlderFormat, SolidMembersAloneAndDamagedMembersAlone) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    TempFolder whole;
    ASSERT_EQ(Library().Run(ExtractLine(kReal + "Rar.solid.rar", whole.Folder())).code, 0);
    const std::string jpg = ReadFile(whole.Folder() + "jpg/test.jpg");
    ASSERT_EQ(jpg.size(), 40372u);

    TempFolder alone;
    const auto one = Library().Run(
        ExtractLine(kReal + "Rar.solid.rar", alone.Folder(), "-x -u -y", "\"jpg/test.jpg\""));
    EXPECT_EQ(one.code, 0) << one.text;
    EXPECT_EQ(FilesBelow(alone.Folder()), (std::vector<std::string>{"jpg", "jpg/test.jpg"}));
    EXPECT_EQ(ReadFile(alone.Folder() + "jpg/test.jpg"), jpg);

    std::vector<unsigned char> buffer(64 * 1024);
    std::uint32_t written = 0;
    const std::string line = " -u  " + Quoted(kReal + "Rar.solid.rar") + " \"jpg/test.jpg\" ";
    EXPECT_EQ(
        Library().extractMem(0, line.c_str(), buffer.data(),
                             static_cast<std::uint32_t>(buffer.size()), nullptr, nullptr, &written),
        0);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + written), jpg);

    const auto entries = Library().Entries(kReal + "Rar15.rar", "*", kProbeMode);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_STREQ(entries[1].file_name, "EXE/TEST.EXE");
    // The records are packed: their fields are read by value, never bound by reference.
    EXPECT_EQ(std::uint32_t{entries[1].original_size}, 45056u);
    EXPECT_EQ(std::uint32_t{entries[1].compressed_size}, 18672u);

    // Rar2.rar's exe/test.exe, its packed data spoiled in the middle.
    std::string bytes = ReadFile(kReal + "Rar2.rar");
    const std::size_t name = bytes.find("exe\\test.exe");
    ASSERT_NE(name, std::string::npos);
    for (std::size_t at = name + 12 + 9000; at < name + 12 + 9100; ++at) {
        bytes[at] = static_cast<char>(~bytes[at]);
    }
    TempFolder damaged;
    std::ofstream(damaged / "damaged.rar", std::ios::binary) << bytes;
    const std::string out = damaged.Folder() + "out/";
    const auto result = Library().Run(ExtractLine(damaged / "damaged.rar", out));
    EXPECT_EQ(result.code, ARC_ERROR_CRC);
    EXPECT_THAT(result.text, HasSubstr("exe/test.exe: "));
    EXPECT_FALSE(fs::exists(out + "exe/test.exe"));
    EXPECT_EQ(ReadFile(out + "jpg/test.jpg"), jpg);
    EXPECT_TRUE(fs::exists(out + "тест.txt"));
}

}  // namespace
}  // namespace zembrat::unrar32::testing

namespace zembrat::unrar32::testing {
namespace {

// The older naming, NAME.rar, NAME.r00, NAME.r01: the set extracts from NAME.rar, and without
// its last volume the one missing is named and nothing is written.
TEST(Unrar32OlderFormat, VolumesInTheOlderNaming) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    TempFolder scratch;
    const std::string set = kFixtures + "multivolume/rar_multivolume_single_file.part";
    fs::copy_file(set + "1.rar", scratch / "old.rar");
    fs::copy_file(set + "2.rar", scratch / "old.r00");
    fs::copy_file(set + "3.rar", scratch / "old.r01");
    const std::string out = scratch.Folder() + "out/";
    const auto whole = Library().Run(ExtractLine(scratch / "old.rar", out));
    EXPECT_EQ(whole.code, 0) << whole.text;
    EXPECT_EQ(fs::file_size(out + "LibarchiveAddingTest.html"), 20111u);

    fs::remove(scratch / "old.r01");
    const std::string none = scratch.Folder() + "none/";
    const auto missing = Library().Run(ExtractLine(scratch / "old.rar", none));
    EXPECT_EQ(missing.code, ARC_ERROR_CANNOT_READ);
    EXPECT_THAT(missing.text, HasSubstr("the volume " + (scratch / "old.r01") + " is missing"));
    EXPECT_FALSE(fs::exists(none + "LibarchiveAddingTest.html"));
}

}  // namespace
}  // namespace zembrat::unrar32::testing
