#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>

#include "temp_folder.h"

namespace zembrat::platform {
namespace {

using zembrat::testing::TempFolder;

TEST(MatchesMask, RespectsCaseUnlessToldAndTreatsStarDotStarAsEveryName) {
    constexpr auto kIgnore = LetterCase::kIgnore;
    EXPECT_FALSE(MatchesMask("a.TXT", "*.txt", kCodePageUtf8));
    EXPECT_FALSE(MatchesMask("a", "A.*", kCodePageUtf8));
    EXPECT_TRUE(MatchesMask("a.TXT", "*.txt", kCodePageUtf8, kIgnore));
    EXPECT_TRUE(MatchesMask("a", "A.*", kCodePageUtf8, kIgnore));
    EXPECT_TRUE(MatchesMask("abc", "a?C", kCodePageUtf8, kIgnore));
    EXPECT_TRUE(MatchesMask("README", "*.*", kCodePageUtf8));
    EXPECT_TRUE(MatchesMask("a.tar.gz", "*.*", kCodePageUtf8));
    EXPECT_FALSE(MatchesMask("ac", "a?c", kCodePageUtf8));
    EXPECT_FALSE(MatchesMask("txt", "*.txt", kCodePageUtf8));
    EXPECT_FALSE(MatchesMask("a.txt.bak", "*.txt", kCodePageUtf8));
    EXPECT_FALSE(MatchesMask("README", "*.txt", kCodePageUtf8));
}

TEST(MatchesMask, QuestionMarkTakesAWholeCharacter) {
    EXPECT_TRUE(MatchesMask("\x95\x5C.txt", "?.txt", kCodePageShiftJis));
    EXPECT_FALSE(MatchesMask("\x95\x5C.txt", "??.txt", kCodePageShiftJis));
    EXPECT_TRUE(MatchesMask("\xE3\x81\x82.txt", "?.txt", kCodePageUtf8));  // "あ"
    // The trail byte 0x41 is not the letter 'A', so it is not folded to 'a'.
    EXPECT_FALSE(MatchesMask("\x83\x41", "\x83\x61", kCodePageShiftJis, LetterCase::kIgnore));
}

TEST(MatchesMask, ManyStarsStayFast) {
    const std::string name(5000, 'a');
    const std::string mask = "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MatchesMask(name, mask, kCodePageUtf8));
    EXPECT_TRUE(MatchesMask(name + "b", mask, kCodePageUtf8));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

// A folder with one entry of every kind the attribute mapping tells apart.
class FileSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        temp_.Write("a.txt", "12345");
        temp_.Write("B.TXT");
        temp_.Write("readme");
        temp_.Write(".hidden");
        ASSERT_EQ(chmod(temp_.Write("locked.txt").c_str(), 0444), 0);
        ASSERT_EQ(mkdir(Path("sub").c_str(), 0755), 0);
        ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0644), 0);
        ASSERT_EQ(symlink("sub", Path("to_sub").c_str()), 0);
        ASSERT_EQ(symlink("missing", Path("dangling").c_str()), 0);
    }

    std::string Path(std::string_view name) const { return temp_.Folder() + std::string(name); }

    std::set<std::string> Search(std::string_view mask, std::uint32_t attributes) const {
        std::set<std::string> names;
        FileSearch search(temp_.Folder() + std::string(mask), attributes);
        for (FindData entry; search.Next(entry);) {
            names.insert(entry.name);
        }
        return names;
    }

    TempFolder temp_;
};

TEST_F(FileSystemTest, AttributesFollowTheKindOfEntry) {
    EXPECT_EQ(GetFileAttributes(Path("a.txt")), kAttrArchive);
    EXPECT_EQ(GetFileAttributes(Path(".hidden")), kAttrArchive | kAttrHidden);
    EXPECT_EQ(GetFileAttributes(Path("locked.txt")), kAttrArchive | kAttrReadOnly);
    EXPECT_EQ(GetFileAttributes(Path("sub")), kAttrDirectory);
    EXPECT_EQ(GetFileAttributes(Path("sub/")), kAttrDirectory);
    EXPECT_EQ(GetFileAttributes(Path("pipe")), kAttrSystem);
    EXPECT_EQ(GetFileAttributes(Path("to_sub")), kAttrDirectory);
    EXPECT_EQ(GetFileAttributes(Path("dangling")), kAttrArchive);
    EXPECT_EQ(GetFileAttributes(Path(".")), kAttrDirectory);  // not hidden
    EXPECT_EQ(GetFileAttributes(Path("missing")), kInvalidAttributes);

    EXPECT_TRUE(FileExists(Path("a.txt")));
    EXPECT_FALSE(FileExists(Path("sub")));
    EXPECT_TRUE(DirectoryExists(Path("to_sub")));
    EXPECT_FALSE(DirectoryExists(Path("a.txt")));
}

TEST_F(FileSystemTest, SearchSkipsEntriesWithAttributesTheMaskLacks) {
    // Read-only and archive never hide an entry; hidden, system and folder do.
    EXPECT_EQ(Search("*.*", kAttrReadOnly | kAttrArchive),
              (std::set<std::string>{"a.txt", "B.TXT", "readme", "locked.txt", "dangling"}));
    EXPECT_EQ(Search("*.*", 0x27), (std::set<std::string>{"a.txt", "B.TXT", "readme", "locked.txt",
                                                          "dangling", ".hidden", "pipe"}));
    EXPECT_EQ(Search("*", kAttrHidden | kAttrSystem | kAttrDirectory),
              (std::set<std::string>{".", "..", "a.txt", "B.TXT", "readme", "locked.txt",
                                     "dangling", ".hidden", "pipe", "sub", "to_sub"}));
    EXPECT_EQ(Search("*.TXT", 0), (std::set<std::string>{"B.TXT"}));  // case counts
    EXPECT_EQ(Search("?", kAttrDirectory), (std::set<std::string>{"."}));
}

TEST_F(FileSystemTest, SearchReportsSizeTimeAndAttributes) {
    FileSearch search(Path("a.txt"), 0);
    FindData entry;
    ASSERT_TRUE(search.Next(entry));
    struct stat status {};
    ASSERT_EQ(stat(Path("a.txt").c_str(), &status), 0);
    EXPECT_EQ(entry.name, "a.txt");
    EXPECT_EQ(entry.size, 5u);
    EXPECT_EQ(entry.attributes, kAttrArchive);
    EXPECT_EQ(entry.lastWriteTime,
              FileTimeFromUnix(status.st_mtim.tv_sec,
                               static_cast<std::uint32_t>(status.st_mtim.tv_nsec)));
    EXPECT_FALSE(search.Next(entry));

    FileSearch missing(Path("nowhere/*"), 0xFF);
    EXPECT_FALSE(missing.Next(entry));
}

TEST_F(FileSystemTest, PatternWithoutFolderSearchesTheCurrentFolder) {
    const std::string saved = GetCurrentDirectory();
    ASSERT_TRUE(SetCurrentDirectory(temp_.Folder()));
    std::set<std::string> names;
    FileSearch search("*.txt", 0);
    for (FindData entry; search.Next(entry);) {
        names.insert(entry.name);
    }
    ASSERT_TRUE(SetCurrentDirectory(saved));
    EXPECT_EQ(names, (std::set<std::string>{"a.txt", "locked.txt"}));
}

TEST_F(FileSystemTest, RenameNeverReplacesAndDeleteRemoves) {
    EXPECT_FALSE(RenameFile(Path("a.txt"), Path("B.TXT")));
    EXPECT_TRUE(FileExists(Path("a.txt")));
    EXPECT_TRUE(RenameFile(Path("a.txt"), Path("c.txt")));
    EXPECT_FALSE(FileExists(Path("a.txt")));
    EXPECT_TRUE(DeleteFile(Path("c.txt")));
    EXPECT_FALSE(FileExists(Path("c.txt")));
    EXPECT_FALSE(DeleteFile(Path("c.txt")));
    EXPECT_FALSE(DeleteFile(Path("sub")));
}

}  // namespace
}  // namespace zembrat::platform
