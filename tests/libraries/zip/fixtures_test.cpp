// Every good archive of the shared ZIP fixtures extracts as the manifest lists, except where
// the reference reader that made the manifest is wrong (names in CP932), and names in code
// pages that carry no marker, where ours is a documented choice.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "common/name_encoding.h"
#include "fixture_files.h"
#include "fixtures_dir.h"
#include "temp_folder.h"
#include "test_support.h"
#include "zip_test_support.h"

namespace zembrat::zip::test {
namespace {

using ::zembrat::testing::ManifestRow;

// The manifest writes bytes that are not UTF-8 as \xNN.
std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The manifest with its \xNN escapes turned back into bytes.
std::map<std::string, std::vector<ManifestRow>> ReadManifest() {
    auto archives = ::zembrat::testing::ReadManifest(ZipFixturesDir() / "manifest.tsv");
    for (auto& [archive, rows] : archives) {
        for (ManifestRow& row : rows) {
            row.member = Unescape(row.member);
        }
    }
    return archives;
}

// Where the manifest's names are the reference reader's raw bytes, the names we must give.
const std::map<std::string, std::string> kCorrectNames = {
    {"\x95\\\x82\xbe\x82\xe6", "表だよ"},
    {"\x95\\\x82\xbe\x82\xe6/\x88\xea\x97\x97\x95\\.txt", "表だよ/一覧表.txt"},
    {"\x95\\\x82\xbe\x82\xe6/\x8a\xbf\x8e\x9a.txt", "表だよ/漢字.txt"},
    // The stored byte is 0x86 and the Unicode path field (its CRC that of the stored name)
    // says "å"; the reference reader made "xx" of it.
    {"File 4 - xx.txt", "File 4 - å.txt"},
};

// Names in single-byte code pages without a marker: read as CP932 where they convert, else as
// Latin-1 (README), and never lost.
const std::map<std::string, std::string> kUnmarkedNames = {
    {"\x8f\x90\x88\x82\x85\x92", "\u008f\u0090\u0088\u0082\u0085\u0092"},  // cp866
    {"\xaf\xe0\xa8\xa2\xa5\xe2", "¯à¨¢¥â"},                                // cp866
    {"\xd0\xd2\xc9\xd7\xc5\xd4", "ﾐﾒﾉﾗﾅﾔ"},                                // KOI8-R
    {"\xf0\xf2\xe9\xf7\xe5\xf4", "\ue0b1鴒襁"},                            // KOI8-R
};

TEST(ZipFixtures, EveryGoodArchiveExtractsAsTheManifestLists) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    const auto archives = ReadManifest();
    ASSERT_FALSE(archives.empty()) << "no fixtures under " << ZipFixturesDir();
    for (const auto& [archive, rows] : archives) {
        SCOPED_TRACE(archive);
        const ReadResult result = ReadArchive(ZipFixturesDir() / archive);
        EXPECT_EQ(result.archiveError, "");
        std::map<std::string, const ReadMember*> byName;
        std::set<std::string> impliedFolders;  // the reference reader made these on its way
        for (const auto& member : result.members) {
            EXPECT_TRUE(common::IsValidUtf8(member.name)) << member.name;
            EXPECT_EQ(member.error, "") << member.name;
            byName[member.name] = &member;
            for (auto slash = member.name.find('/'); slash != std::string::npos;
                 slash = member.name.find('/', slash + 1)) {
                impliedFolders.insert(member.name.substr(0, slash));
            }
        }
        std::size_t expected = 0;
        for (const auto& row : rows) {
            if (row.kind == "error") {
                continue;  // the reference reader complained; the members it gave still count
            }
            std::string name = row.member;
            if (auto it = kCorrectNames.find(name); it != kCorrectNames.end()) {
                name = it->second;
            } else if (auto it2 = kUnmarkedNames.find(name); it2 != kUnmarkedNames.end()) {
                name = it2->second;
            }
            SCOPED_TRACE(name);
            const auto found = byName.find(name);
            if (found == byName.end() && row.kind == "dir" && impliedFolders.count(name) != 0) {
                continue;
            }
            if (found == byName.end()) {
                ADD_FAILURE() << "member missing";
                continue;
            }
            ++expected;
            const ReadMember& member = *found->second;
            if (row.kind == "file") {
                EXPECT_EQ(member.kind, MemberKind::kFile);
                EXPECT_EQ(member.size, row.size);
                EXPECT_EQ(member.sha256, row.sha256);
            } else if (row.kind == "dir") {
                EXPECT_EQ(member.kind, MemberKind::kDirectory);
            } else if (row.kind == "link") {
                EXPECT_EQ(member.kind, MemberKind::kSymlink);
                EXPECT_EQ(member.linkTarget, row.sha256);
            }
        }
        EXPECT_EQ(result.members.size(), expected);
    }
}

// An archive behind a program (a self-extracting file), with offsets counted from the file's
// start (adjusted) or from the archive's (unadjusted), reads as the archive alone.
TEST(ZipFixtures, SelfExtractingFilesReadAsTheirArchive) {
    if (!lha::test::HaveCommand("zip")) {
        GTEST_SKIP() << "zip is not installed";
    }
    zembrat::testing::TempFolder folder;
    folder.Write("a.txt", "hello");
    const std::string in = "cd " + lha::test::Quote(folder.Path().string()) + " && ";
    const char* kinds[][2] = {
        {"unadjusted, zeros", "head -c 4096 /dev/zero > sfx.zip && cat plain.zip >> sfx.zip"},
        {"unadjusted, a program", "cat /bin/true plain.zip > sfx.zip"},
        {"adjusted", "cat /bin/true plain.zip > sfx.zip && zip -qA sfx.zip"},
    };
    ASSERT_EQ(lha::test::RunCommand(in + "zip -q plain.zip a.txt"), 0);
    const auto expected = TreeOfArchive(folder / "plain.zip");
    EXPECT_EQ(expected.size(), 1u);
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind[0]);
        ASSERT_EQ(lha::test::RunCommand(in + kind[1]), 0);
        EXPECT_EQ(TreeOfArchive(folder / "sfx.zip"), expected);
    }
}

}  // namespace
}  // namespace zembrat::zip::test
