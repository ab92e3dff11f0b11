#include "platform/system_folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/file_system.h"
#include "scoped_environment.h"
#include "temp_folder.h"

namespace zembrat::platform {
namespace {

using zembrat::testing::ScopedEnvironment;
using zembrat::testing::TempFolder;

TEST(SystemFolders, TempPathFollowsTmpdir) {
    {
        const ScopedEnvironment tmpdir("TMPDIR", "/var/tmp");
        EXPECT_EQ(GetTempPath(), "/var/tmp/");
    }
    {
        const ScopedEnvironment tmpdir("TMPDIR", "/var/tmp/");
        EXPECT_EQ(GetTempPath(), "/var/tmp/");
    }
    {
        const ScopedEnvironment tmpdir("TMPDIR", "");
        EXPECT_EQ(GetTempPath(), "/tmp/");
    }
    const ScopedEnvironment tmpdir("TMPDIR", nullptr);
    EXPECT_EQ(GetTempPath(), "/tmp/");
}

TEST(SystemFolders, ProgramFolderHoldsTheRunningProgram) {
    const std::string folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_EQ(ProgramFileName(), folder + "platform_test");
}

class SearchPathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = GetCurrentDirectory();
        ASSERT_TRUE(SetCurrentDirectory(current_.Folder()));
    }
    void TearDown() override { ASSERT_TRUE(SetCurrentDirectory(saved_)); }

    std::string saved_;
    TempFolder current_;
    TempFolder onPath_;
};

TEST_F(SearchPathTest, CurrentFolderComesBeforePath) {
    const ScopedEnvironment path("PATH", ("/nonexistent::" + onPath_.Folder()).c_str());
    onPath_.Write("both.bin");
    current_.Write("both.bin");
    onPath_.Write("tool.bin");
    ASSERT_EQ(mkdir((current_.Folder() + "tool.bin").c_str(), 0755), 0);  // folders don't count

    EXPECT_EQ(SearchPath("both.bin"), current_.Folder() + "both.bin");
    EXPECT_EQ(SearchPath("tool.bin"), onPath_.Folder() + "tool.bin");
    EXPECT_EQ(SearchPath("missing.bin"), std::nullopt);
    EXPECT_EQ(SearchPath(""), std::nullopt);
    // Found in the program's own folder before anywhere else.
    EXPECT_EQ(SearchPath("platform_test"), ProgramFileName());
}

}  // namespace
}  // namespace zembrat::platform
