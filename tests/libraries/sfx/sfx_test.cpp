// Self-extracting files made by the s command run on their own, away from the build.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>

#include "lha/archive.h"
#include "lha/stream.h"
#include "shell_run.h"
#include "unlha32_library.h"

namespace zembrat::unlha32::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

using ::zembrat::testing::Shell;

class SfxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_LIBRARY();
        scratch_.Write("src/readme.txt", content_);
        scratch_.Write("src/docs/guide.txt", "guide");
        ASSERT_EQ(
            Library()
                .Run("a \"" + archive_ + "\" \"" + scratch_.Folder() + "src/\" readme.txt docs")
                .code,
            0);
        auto made = Library().Run("s -+ -m2 -n1 -y1 -jse1 -jso1 -gw2  \"" + archive_ + "\" \"" +
                                  scratch_.Folder() + "\" ");
        ASSERT_EQ(made.code, 0) << made.text;
        ASSERT_TRUE(std::filesystem::exists(sfx_));
    }

    TempFolder scratch_;
    std::string content_ = Text(120000);
    std::string archive_ = scratch_.Folder() + "pack.lzh";
    std::string sfx_ = scratch_.Folder() + "pack.exe";
};

TEST_F(SfxTest, ExtractsIntoTheCurrentFolderOrTheOneGiven) {
    const std::string here = scratch_.Folder() + "here/";
    std::filesystem::create_directories(here);
    auto run = Shell("cd '" + here + "' && ../pack.exe");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_THAT(Tree(here), ElementsAre("docs/", "docs/guide.txt", "readme.txt"));
    EXPECT_EQ(ReadFile(here + "readme.txt"), content_);

    const std::string there = scratch_.Folder() + "there/new/";
    run = Shell("'" + sfx_ + "' '" + there + "'");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(ReadFile(there + "docs/guide.txt"), "guide");

    auto listing = Shell("'" + sfx_ + "' -l");
    EXPECT_EQ(listing.status, 0);
    EXPECT_THAT(listing.output, HasSubstr("docs/guide.txt"));
}

TEST_F(SfxTest, ExistingFilesKeptUnlessForcedAndFailuresReported) {
    const std::string here = scratch_.Folder() + "here/";
    scratch_.Write("here/readme.txt", "mine");
    auto run = Shell("'" + sfx_ + "' '" + here + "'");
    EXPECT_NE(run.status, 0);
    // The hint names the program's own switch.
    EXPECT_THAT(run.output, HasSubstr("readme.txt: kept the existing file (-f overwrites)"));
    EXPECT_EQ(ReadFile(here + "readme.txt"), "mine");
    run = Shell("'" + sfx_ + "' -f '" + here + "'");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(ReadFile(here + "readme.txt"), content_);

    EXPECT_NE(Shell("'" + sfx_ + "' -q").status, 0);
    // The stub alone carries no archive.
    auto bare = Shell("'" ZEMBRAT_SFX_STUB_PATH "'");
    EXPECT_NE(bare.status, 0);
    EXPECT_THAT(bare.output, HasSubstr("no archive"));
}

TEST_F(SfxTest, DamagedArchiveInsideFailsWithoutLeavingTheFile) {
    std::string bytes = ReadFile(sfx_);
    const std::size_t at = bytes.rfind("readme.txt") + 300;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
    const std::string broken = scratch_.Folder() + "broken.exe";
    std::ofstream(broken, std::ios::binary) << bytes;
    std::filesystem::permissions(broken, std::filesystem::perms::owner_all);
    const std::string out = scratch_.Folder() + "out/";
    auto run = Shell("'" + broken + "' '" + out + "'");
    EXPECT_NE(run.status, 0);
    EXPECT_THAT(run.output, HasSubstr("readme.txt"));
    EXPECT_FALSE(std::filesystem::exists(out + "readme.txt"));
}

// Every self-extracting file carries the stub: it stays small, and needs nothing of ours
// (the C++ runtime is linked in).
TEST(SfxStub, StaysSmallAndNeedsOnlyTheCLibrary) {
#ifdef ZEMBRAT_SFX_SIZE_LIMIT
    EXPECT_LE(std::filesystem::file_size(ZEMBRAT_SFX_STUB_PATH), ZEMBRAT_SFX_SIZE_LIMIT);
#endif
    const auto needed = Shell("objdump -p '" ZEMBRAT_SFX_STUB_PATH "' | grep NEEDED");
    EXPECT_THAT(needed.output, Not(HasSubstr("stdc++")));
    EXPECT_THAT(needed.output, Not(HasSubstr("zembrat")));
    EXPECT_THAT(needed.output, Not(HasSubstr("gcc_s")));
}

TEST_F(SfxTest, TheLhaReaderFindsTheArchiveByItsOwnSearchToo) {
    lha::FileInput input(sfx_);
    lha::Reader reader(input);
    EXPECT_GT(reader.ArchiveStart(), 0u);
    std::vector<std::string> names;
    while (auto member = reader.Next()) {
        names.push_back(member->path);
    }
    EXPECT_THAT(names, ElementsAre("readme.txt", "docs", "docs/guide.txt"));
}

}  // namespace
}  // namespace zembrat::unlha32::testing
