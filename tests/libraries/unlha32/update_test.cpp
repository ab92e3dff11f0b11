// a, u, f and d on existing archives: the old archive is replaced only by a complete new one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include "unlha32_library.h"

namespace zembrat::unlha32::testing {
namespace {

using ::testing::ElementsAre;

void SetTime(const std::string& path, time_t seconds) {
    const utimbuf times{seconds, seconds};
    ASSERT_EQ(utime(path.c_str(), &times), 0);
}

class UpdateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_LIBRARY();
        a_ = scratch_.Write("src/a.txt", "a version 1");
        b_ = scratch_.Write("src/b.txt", "b version 1");
        SetTime(a_, 1500000000);
        SetTime(b_, 1500000000);
        ASSERT_EQ(Run("a", "a.txt b.txt").code, 0);
        original_ = ReadFile(archive_);
    }

    Unlha32Library::Result Run(const std::string& command, const std::string& names) {
        return Library().Run(command + " \"" + archive_ + "\" \"" + scratch_.Folder() + "src/\" " +
                             names);
    }

    std::string Extracted(const std::string& name) {
        const std::string out = scratch_.Folder() + "check/";
        std::filesystem::remove_all(out);
        EXPECT_EQ(Library().Run("x \"" + archive_ + "\" \"" + out + "\"").code, 0);
        return ReadFile(out + name);
    }

    // Nothing but the archive and the sources: no temporary file left behind.
    void ExpectNoLeftovers() {
        EXPECT_THAT(Tree(scratch_.Folder()),
                    ::testing::IsSupersetOf(std::vector<std::string>{"src/", "t.lzh"}));
        for (const std::string& name : Tree(scratch_.Folder())) {
            EXPECT_EQ(name.find(".zembrat-"), std::string::npos) << name;
        }
    }

    TempFolder scratch_;
    std::string archive_ = scratch_.Folder() + "t.lzh";
    std::string a_, b_, original_;
};

TEST_F(UpdateTest, UpdateReplacesOnlyNewerFilesAndAddsNewOnes) {
    scratch_.Write("src/a.txt", "a version 2");
    SetTime(a_, 1600000000);
    scratch_.Write("src/b.txt", "b version 2");
    SetTime(b_, 1400000000);  // older than the member: kept
    scratch_.Write("src/c.txt", "c");
    ASSERT_EQ(Run("u", "a.txt b.txt c.txt").code, 0);
    EXPECT_THAT(Library().Names(archive_), ElementsAre("a.txt", "b.txt", "c.txt"));
    EXPECT_EQ(Extracted("a.txt"), "a version 2");
    EXPECT_EQ(Extracted("b.txt"), "b version 1");
    ExpectNoLeftovers();
}

TEST_F(UpdateTest, FreshenNeverAddsAndAddAlwaysReplaces) {
    scratch_.Write("src/a.txt", "a version 2");
    SetTime(a_, 1600000000);
    scratch_.Write("src/c.txt", "c");
    ASSERT_EQ(Run("f", "a.txt c.txt").code, 0);
    EXPECT_THAT(Library().Names(archive_), ElementsAre("a.txt", "b.txt"));
    EXPECT_EQ(Extracted("a.txt"), "a version 2");

    scratch_.Write("src/b.txt", "b version 0");
    SetTime(b_, 1000000000);
    ASSERT_EQ(Run("a", "b.txt").code, 0);
    EXPECT_EQ(Extracted("b.txt"), "b version 0");

    // Nothing newer: the archive file is not rewritten at all.
    const std::string before = ReadFile(archive_);
    ASSERT_EQ(Run("f", "a.txt").code, 0);
    EXPECT_EQ(ReadFile(archive_), before);
}

TEST_F(UpdateTest, DeleteRemovesMatchingMembersAndTheEmptiedArchive) {
    auto result = Library().Run("d \"" + archive_ + "\" a.txt");
    ASSERT_EQ(result.code, 0) << result.text;
    EXPECT_THAT(Library().Names(archive_), ElementsAre("b.txt"));
    EXPECT_EQ(Extracted("b.txt"), "b version 1");

    const std::string before = ReadFile(archive_);
    EXPECT_EQ(Library().Run("d \"" + archive_ + "\" nothing.txt").code, ARC_ERROR_NO_FILES);
    EXPECT_EQ(ReadFile(archive_), before);

    ASSERT_EQ(Library().Run("d \"" + archive_ + "\" *.txt").code, 0);
    EXPECT_FALSE(std::filesystem::exists(archive_));
}

TEST_F(UpdateTest, FailuresLeaveTheOldArchiveIntact) {
    ASSERT_EQ(mkfifo((scratch_.Folder() + "src/pipe").c_str(), 0600), 0);
    scratch_.Write("src/a.txt", "a version 2");
    SetTime(a_, 1600000000);
    EXPECT_EQ(Run("u", "a.txt pipe").code, ARC_ERROR_NOT_REGULAR);
    EXPECT_EQ(Run("a", "a.txt missing.txt").code, ARC_ERROR_CANNOT_READ);
    EXPECT_EQ(ReadFile(archive_), original_);
    ExpectNoLeftovers();

    // A damaged archive is not rewritten (its intact members would be all that is left).
    std::string damaged = original_;
    damaged.resize(damaged.size() - 8);
    std::ofstream(archive_, std::ios::binary | std::ios::trunc) << damaged;
    EXPECT_NE(Run("u", "a.txt").code, 0);
    EXPECT_NE(Library().Run("d \"" + archive_ + "\" b.txt").code, 0);
    EXPECT_EQ(ReadFile(archive_), damaged);

    // Not an archive at all.
    std::ofstream(archive_, std::ios::binary | std::ios::trunc) << "plain text";
    EXPECT_EQ(Run("a", "a.txt").code, ARC_ERROR_NOT_ARCHIVE);
    EXPECT_EQ(ReadFile(archive_), "plain text");
    ExpectNoLeftovers();
}

TEST_F(UpdateTest, KeepsThePermissionsOfTheArchiveItReplaces) {
    ASSERT_EQ(chmod(archive_.c_str(), 0640), 0);
    scratch_.Write("src/c.txt", "c");
    ASSERT_EQ(Run("a", "c.txt").code, 0);
    struct stat info {};
    ASSERT_EQ(stat(archive_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

}  // namespace
}  // namespace zembrat::unlha32::testing
