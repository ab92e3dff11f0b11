#include "common/safe_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "temp_folder.h"

namespace zembrat::common {
namespace {

std::optional<std::string> Safe(std::string_view name, NameRules rules = NameRules::kDos) {
    std::string reason;
    return SafeRelativePath(name, reason, rules);
}

TEST(SafeRelativePath, RejectsEveryWayOut) {
    for (const char* name : {"/etc/passwd", "\\etc\\passwd", "../x", "a/../../x", "a/..",
                             "..\\..\\x", "C:/x", "c:x", "C:\\Windows\\x", "", ".", "./"}) {
        EXPECT_FALSE(Safe(name)) << name;
    }
    for (const char* name : {"/etc/passwd", "../x", "a/../../x", "", "./"}) {
        EXPECT_FALSE(Safe(name, NameRules::kUnix)) << name;
    }
    // The file system would end these names at the NUL, leaving "..".
    using namespace std::string_view_literals;
    for (const std::string_view name : {"..\0x"sv, "a/..\0/x"sv, "ok\0"sv}) {
        EXPECT_FALSE(Safe(name)) << name.size();
        EXPECT_FALSE(Safe(name, NameRules::kUnix)) << name.size();
    }
}

// Unix names keep '\\' and ':' as characters; a name made of them never leaves the folder.
TEST(SafeRelativePath, UnixNamesKeepBackslashAndColon) {
    for (const char* name :
         {"back\\slash.txt", "a:b.txt", "C:\\Windows\\x", "\\etc", "..\\..\\x", "dir/c:\\x"}) {
        EXPECT_EQ(Safe(name, NameRules::kUnix), name) << name;
    }
}

TEST(SafeRelativePath, CleansHarmlessParts) {
    EXPECT_EQ(Safe("a/b.txt"), "a/b.txt");
    EXPECT_EQ(Safe("./a//b/./c"), "a/b/c");
    EXPECT_EQ(Safe("dir\\sub\\f.txt"), "dir/sub/f.txt");
    EXPECT_EQ(Safe("..a/b.."), "..a/b..");  // dots inside a name are no parent folder
}

TEST(Escape, ControlCharactersNeverRaw) {
    EXPECT_EQ(EscapeControlCharacters("a\x1b[2Jb\n\x7f"), "a\\x1B[2Jb\\x0A\\x7F");
    EXPECT_EQ(EscapeControlCharacters("\xE6\x97\xA5.txt"), "\xE6\x97\xA5.txt");
}

TEST(LinkTarget, StaysInsideOnlyWhenItCannotClimbOut) {
    EXPECT_TRUE(LinkTargetStaysInside("a/link", "b.txt"));
    EXPECT_TRUE(LinkTargetStaysInside("a/link", "../b.txt"));
    EXPECT_FALSE(LinkTargetStaysInside("a/link", "../../b.txt"));
    EXPECT_FALSE(LinkTargetStaysInside("link", "/etc/passwd"));
    EXPECT_FALSE(LinkTargetStaysInside("link", ".."));
    EXPECT_FALSE(LinkTargetStaysInside("link", ""));
    // The link's own path holds '/' alone: a '\\' in its name is no folder to climb from.
    EXPECT_FALSE(LinkTargetStaysInside("a\\link", "../b.txt"));
}

class ExtractionTargetTest : public ::testing::Test {
  protected:
    testing::TempFolder scratch_;
    std::string destination_ = scratch_.Folder() + "out/";
    std::string outside_ = scratch_.Folder() + "outside/";
    ExtractionTarget target_{destination_};
    std::string reason_;

    void SetUp() override {
        std::filesystem::create_directories(outside_);
        ASSERT_TRUE(target_.CreateFolder(reason_)) << reason_;
    }
};

TEST_F(ExtractionTargetTest, CreatesMissingFolders) {
    const auto path = target_.Prepare("a/b/c.txt", false, reason_);
    ASSERT_TRUE(path) << reason_;
    EXPECT_EQ(*path, destination_ + "a/b/c.txt");
    EXPECT_TRUE(std::filesystem::is_directory(destination_ + "a/b"));
    EXPECT_FALSE(std::filesystem::exists(*path));
}

TEST_F(ExtractionTargetTest, RefusesAFolderLinkThatLeadsOutside) {
    ASSERT_EQ(symlink(outside_.c_str(), (destination_ + "escape").c_str()), 0);
    EXPECT_FALSE(target_.Prepare("escape/x.txt", false, reason_));
    EXPECT_NE(reason_.find("outside"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(outside_ + "x.txt"));
}

TEST_F(ExtractionTargetTest, RefusesWritingThroughALinkItMadeItself) {
    std::filesystem::create_directories(destination_ + "real");
    const std::string link = destination_ + "inner";
    ASSERT_EQ(symlink("real", link.c_str()), 0);
    // A link the user had, pointing inside, may be used ...
    EXPECT_TRUE(target_.Prepare("inner/x.txt", false, reason_)) << reason_;
    // ... one this extraction made may not.
    target_.RememberLink(link);
    EXPECT_FALSE(target_.Prepare("inner/x.txt", false, reason_));
    EXPECT_NE(reason_.find("extracted before"), std::string::npos);
}

TEST_F(ExtractionTargetTest, AFileWhereAFolderIsNeededAndTheReverse) {
    scratch_.Write("out/file", "x");
    std::filesystem::create_directories(destination_ + "folder");
    EXPECT_FALSE(target_.Prepare("file/x.txt", false, reason_));
    EXPECT_FALSE(target_.Prepare("folder", false, reason_));
    EXPECT_FALSE(target_.Prepare("file", true, reason_));
    EXPECT_TRUE(target_.Prepare("folder", true, reason_));
    // A link as the last part is replaced by the rename, never written through.
    ASSERT_EQ(symlink((outside_ + "victim").c_str(), (destination_ + "last").c_str()), 0);
    EXPECT_TRUE(target_.Prepare("last", false, reason_));
}

TEST(TemporaryFile, RenamedOnlyOnCommitAndRemovedOtherwise) {
    testing::TempFolder scratch;
    std::string reason;
    const auto entries = [&] {
        return std::distance(std::filesystem::directory_iterator(scratch.Folder()),
                             std::filesystem::directory_iterator());
    };
    {
        TemporaryFile dropped(scratch.Folder());
        ASSERT_TRUE(dropped.Valid());
        ASSERT_EQ(write(dropped.Fd(), "abc", 3), 3);
        // On this machine's file systems the file has no name before it is committed.
        EXPECT_EQ(dropped.Path(), "");
        EXPECT_EQ(entries(), 0);
    }
    EXPECT_EQ(entries(), 0);

    TemporaryFile kept(scratch.Folder());
    ASSERT_EQ(write(kept.Fd(), "abc", 3), 3);
    ASSERT_TRUE(kept.Commit(scratch.Folder() + "final", reason)) << reason;
    EXPECT_EQ(std::filesystem::file_size(scratch.Folder() + "final"), 3u);
    EXPECT_EQ(entries(), 1);
}

// A temporary file is made beside its final name; a dangling link still takes the name.
TEST(SafePathHelpers, FolderOfAndPathExists) {
    const std::pair<const char*, const char*> folders[] = {
        {"out/a/file.txt", "out/a/"}, {"file.txt", "./"}, {"/file", "/"}, {"out/", "out/"}};
    for (const auto& [path, folder] : folders) {
        EXPECT_EQ(FolderOf(path), folder) << path;
    }
    testing::TempFolder scratch;
    scratch.Write("file");
    ASSERT_EQ(symlink("missing", (scratch / "dangling").c_str()), 0);
    EXPECT_TRUE(PathExists(scratch / "file"));
    EXPECT_TRUE(PathExists(scratch / "dangling"));
    EXPECT_FALSE(PathExists(scratch / "absent"));
}

}  // namespace
}  // namespace zembrat::common
