// What packing stores and what extraction gives back.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "common/safe_path.h"
#include "unlha32_library.h"

namespace zembrat::unlha32::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

struct Entry {
    std::string name;
    std::string method;
    std::uint32_t size;
};

std::vector<Entry> Entries(const std::string& archive, std::uint32_t mode = 0) {
    std::vector<Entry> entries;
    const HARC handle = Library().openArchive(0, archive.c_str(), mode);
    EXPECT_NE(handle, 0u) << archive;
    if (handle == 0) {
        return entries;
    }
    ARCHIVE_ENTRY_RECORD record{};
    for (int found = Library().findFirst(handle, "*", &record); found == 0;
         found = Library().findNext(handle, &record)) {
        entries.push_back({record.file_name, record.method, record.original_size});
    }
    Library().closeArchive(handle);
    return entries;
}

std::vector<std::string> Names(const std::string& archive) {
    std::vector<std::string> names;
    for (const Entry& entry : Entries(archive)) {
        names.push_back(entry.name);
    }
    return names;
}

class PackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_LIBRARY();
        scratch_.Write("base/top.txt", "top");
        scratch_.Write("base/sub/deep.txt", "deep");
        scratch_.Write("base/sub/skip.bak", "bak");
        scratch_.Write("elsewhere/far.txt", "far");
    }
    TempFolder scratch_;
    std::string archive_ = scratch_.Folder() + "t.lzh";
};

TEST_F(PackTest, StoredNamesFollowTheBaseFolderRule) {
    const std::string base = scratch_.Folder() + "base/";
    auto result = Library().Run("a \"" + archive_ + "\" \"" + base + "\" top.txt \"" + base +
                                "sub/deep.txt\" \"" + scratch_.Folder() + "elsewhere/far.txt\"");
    ASSERT_EQ(result.code, 0) << result.text;
    // relative: as given; absolute inside the base: relative to it; outside: the name alone.
    EXPECT_THAT(Names(archive_), ElementsAre("top.txt", "sub/deep.txt", "far.txt"));
}

TEST_F(PackTest, SwitchesThatChangeStoredNames) {
    const std::string base = scratch_.Folder() + "base/";
    ASSERT_EQ(Library().Run("a -x0 \"" + archive_ + "\" \"" + base + "\" sub/deep.txt").code, 0);
    EXPECT_THAT(Names(archive_), ElementsAre("deep.txt"));
    std::filesystem::remove(archive_);
    const std::string far = scratch_.Folder() + "elsewhere/far.txt";
    ASSERT_EQ(Library().Run("a -x2 \"" + archive_ + "\" \"" + far + "\"").code, 0);
    EXPECT_THAT(Names(archive_), ElementsAre(far.substr(1)));
}

TEST_F(PackTest, FoldersRecurseWildcardsAndExclusions) {
    const std::string base = scratch_.Folder() + "base/";
    ASSERT_EQ(Library().Run("a -jx*.bak \"" + archive_ + "\" \"" + base + "\" sub").code, 0);
    EXPECT_THAT(Names(archive_), ElementsAre("sub", "sub/deep.txt"));
    std::filesystem::remove(archive_);
    ASSERT_EQ(Library().Run("a \"" + archive_ + "\" \"" + base + "\" *.txt").code, 0);
    EXPECT_THAT(Names(archive_), ElementsAre("top.txt"));
    std::filesystem::remove(archive_);
    ASSERT_EQ(Library().Run("a -r1 \"" + archive_ + "\" \"" + base + "\" *.txt").code, 0);
    EXPECT_THAT(Names(archive_), UnorderedElementsAre("top.txt", "sub/deep.txt"));
    EXPECT_EQ(Library().Run("a \"" + archive_ + "\" \"" + base + "\" *.none").code,
              ARC_ERROR_NO_FILES);
}

// Extraction takes the exclusions as packing does: an excluded member is not extracted, and
// names given whose every member is excluded select nothing.
TEST_F(PackTest, ExtractionLeavesExcludedMembers) {
    ASSERT_EQ(Library().Run("a -r1 \"" + archive_ + "\" \"" + scratch_.Folder() + "base/\" *").code,
              0);
    const std::string out = scratch_.Folder() + "out/";
    auto result = Library().Run("x -jx*.bak \"" + archive_ + "\" \"" + out + "\"");
    ASSERT_EQ(result.code, 0) << result.text;
    EXPECT_TRUE(std::filesystem::exists(out + "sub/deep.txt"));
    EXPECT_TRUE(std::filesystem::exists(out + "top.txt"));
    EXPECT_FALSE(std::filesystem::exists(out + "sub/skip.bak"));
    result = Library().Run("x -jx*.bak \"" + archive_ + "\" \"" + out + "\" *.bak");
    EXPECT_EQ(result.code, ARC_ERROR_NO_FILES) << result.text;
}

TEST_F(PackTest, TheArchiveNeverPacksItself) {
    const std::string inside = scratch_.Folder() + "base/t.lzh";
    ASSERT_EQ(Library().Run("a \"" + inside + "\" \"" + scratch_.Folder() + "base/\" top.txt").code,
              0);
    ASSERT_EQ(Library().Run("a \"" + inside + "\" \"" + scratch_.Folder() + "base/\" *").code, 0);
    const auto names = Names(inside);
    EXPECT_EQ(std::count(names.begin(), names.end(), "t.lzh"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "top.txt"), 1);
}

TEST_F(PackTest, ResponseFileNamesTheFiles) {
    const std::string list = scratch_.Write("list.txt", "\"top.txt\"\r\n\"sub/deep.txt\"\r\n");
    ASSERT_EQ(
        Library().Run("a \"" + archive_ + "\" \"" + scratch_.Folder() + "base/\" @" + list).code,
        0);
    EXPECT_THAT(Names(archive_), ElementsAre("top.txt", "sub/deep.txt"));
}

TEST_F(PackTest, MethodAndHeaderLevelSwitches) {
    scratch_.Write("big.txt", Text(200000));
    const std::map<std::string, std::string> methods = {
        {"-jm0", "-lh0-"}, {"-jm5", "-lh5-"}, {"-jm6", "-lh6-"}, {"-jm7", "-lh7-"},
        {"-jm3", "-lh5-"}, {"-jm9", "-lh7-"}, {"", "-lh7-"}};
    for (const auto& [switchText, method] : methods) {
        for (const char* level : {"-h0", "-h1", "-h2"}) {
            std::filesystem::remove(archive_);
            auto packed = Library().Run("a " + switchText + " " + level + " \"" + archive_ +
                                        "\" \"" + scratch_.Folder() + "\" big.txt");
            ASSERT_EQ(packed.code, 0) << switchText << level << packed.text;
            const auto entries = Entries(archive_);
            ASSERT_EQ(entries.size(), 1u);
            EXPECT_EQ(entries[0].method, method) << switchText << level;
            const std::string out = scratch_.Folder() + "out/";
            std::filesystem::remove_all(out);
            ASSERT_EQ(Library().Run("x \"" + archive_ + "\" \"" + out + "\"").code, 0);
            EXPECT_EQ(ReadFile(out + "big.txt"), Text(200000)) << switchText << level;
        }
    }
}

TEST_F(PackTest, EmptyOneByteRandomAndJapaneseNamesRoundTrip) {
    const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/\xE8\xA1\xA8.txt";
    const std::string accented = "caf\xC3\xA9.txt";
    std::map<std::string, std::string> files = {{"empty", ""},
                                                {"one", "x"},
                                                {"random.bin", RandomBytes(300000, 7)},
                                                {japanese, "nihongo"},
                                                {accented, "unicode name"}};
    for (const auto& [name, content] : files) {
        scratch_.Write("in/" + name, content);
    }
    ASSERT_EQ(Library().Run("a \"" + archive_ + "\" \"" + scratch_.Folder() + "in/\" *").code, 0);
    const std::string out = scratch_.Folder() + "out/";
    auto result = Library().Run("x \"" + archive_ + "\" \"" + out + "\"");
    ASSERT_EQ(result.code, 0) << result.text;
    for (const auto& [name, content] : files) {
        EXPECT_EQ(ReadFile(out + name), content) << name;
    }
}

// Any name a Linux folder can hold comes back byte for byte through our own archives: '\\'
// and ':' are characters in Unix names, and bytes valid in no code page stay those bytes
// (their Unicode headers read them as Latin-1), at every header level.
TEST_F(PackTest, EveryLinuxNameComesBackAsItWas) {
    const std::vector<std::string> names = {"back\\slash.txt",     "a:b.txt",
                                            "C:\\x.txt",           "dir\\/in.txt",
                                            "caf\xE9.txt",         "\xFF\xE9\x41/x.txt",
                                            "\xE6\x97\xA5\xE9.txt"};
    for (const std::string& name : names) {
        scratch_.Write("names/" + name, name);
    }
    for (const char* level : {"-h0", "-h1", "-h2"}) {
        const std::string archive = scratch_.Folder() + level + ".lzh";
        auto packed = Library().Run("a " + std::string(level) + " \"" + archive + "\" \"" +
                                    scratch_.Folder() + "names/\" *");
        ASSERT_EQ(packed.code, 0) << packed.text;
        const std::string out = scratch_.Folder() + "out" + level + "/";
        auto result = Library().Run("x \"" + archive + "\" \"" + out + "\"");
        ASSERT_EQ(result.code, 0) << level << result.text;
        EXPECT_EQ(Tree(out), Tree(scratch_.Folder() + "names/")) << level;
        for (const std::string& name : names) {
            EXPECT_EQ(ReadFile(out + name), name) << level << " " << name;
        }
    }
}

TEST_F(PackTest, ReadOnlyFoldersGetTheirModeAfterTheirMembers) {
    scratch_.Write("ro/locked/inside.txt", "inside");
    ASSERT_EQ(chmod((scratch_.Folder() + "ro/locked").c_str(), 0555), 0);
    ASSERT_EQ(Library().Run("a \"" + archive_ + "\" \"" + scratch_.Folder() + "ro/\" locked").code,
              0);
    ASSERT_EQ(chmod((scratch_.Folder() + "ro/locked").c_str(), 0755), 0);
    const std::string out = scratch_.Folder() + "out/";
    auto result = Library().Run("x \"" + archive_ + "\" \"" + out + "\"");
    ASSERT_EQ(result.code, 0) << result.text;
    EXPECT_EQ(ReadFile(out + "locked/inside.txt"), "inside");
    struct stat info {};
    ASSERT_EQ(stat((out + "locked").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0555u & ~common::ProcessUmask());
    chmod((out + "locked").c_str(), 0755);  // so that the scratch folder can be removed
}

TEST_F(PackTest, OnlyRegularFilesAndFoldersAreRead) {
    const std::string fifo = scratch_.Folder() + "base/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A FIFO would block an open for reading; it must be refused before that.
    auto result = Library().Run("a \"" + archive_ + "\" \"" + fifo + "\"");
    EXPECT_EQ(result.code, ARC_ERROR_NOT_REGULAR);
    EXPECT_THAT(result.text, HasSubstr("pipe"));
    EXPECT_FALSE(std::filesystem::exists(archive_));
    // Inside a folder too.
    EXPECT_EQ(Library().Run("a \"" + archive_ + "\" \"" + scratch_.Folder() + "base\"").code,
              ARC_ERROR_NOT_REGULAR);
    EXPECT_EQ(Library().Run("a \"" + archive_ + "\" /dev/null").code, ARC_ERROR_NOT_REGULAR);
}

// A symbolic link named for packing is its target's content, as other LHA tools take it; one
// that leads nowhere fails by its own reason. Links met inside a folder stay links.
TEST_F(PackTest, LinksNamedForPackingAreTheirTargetsContent) {
    const std::string base = scratch_.Folder() + "base/";
    ASSERT_EQ(symlink("top.txt", (base + "link.txt").c_str()), 0);
    ASSERT_EQ(symlink("missing.txt", (base + "dangling.txt").c_str()), 0);
    ASSERT_EQ(symlink("top.txt", (base + "sub/inner-link").c_str()), 0);
    ASSERT_EQ(Library().Run("a \"" + archive_ + "\" \"" + base + "\" link.txt sub").code, 0);
    EXPECT_NE(Entries(archive_)[0].method, "-lhd-");
    const std::string out = scratch_.Folder() + "out/";
    auto result = Library().Run("x \"" + archive_ + "\" \"" + out + "\"");
    ASSERT_EQ(result.code, 0) << result.text;
    EXPECT_EQ(ReadFile(out + "link.txt"), "top");
    EXPECT_FALSE(std::filesystem::is_symlink(out + "link.txt"));
    EXPECT_TRUE(std::filesystem::is_symlink(out + "sub/inner-link"));

    const std::string other = scratch_.Folder() + "other.lzh";
    result = Library().Run("a \"" + other + "\" \"" + base + "dangling.txt\"");
    EXPECT_EQ(result.code, ARC_ERROR_CANNOT_READ);
    EXPECT_THAT(result.text, HasSubstr("dangling.txt: the symbolic link leads nowhere"));
    EXPECT_FALSE(std::filesystem::exists(other));
}

// Files of proc report the size 0 and are read to their end all the same.
TEST_F(PackTest, FilesWhoseSizeStatCannotTellAreReadToTheEnd) {
    const std::string expected = ReadFile("/proc/version");
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(std::filesystem::file_size("/proc/version"), 0u);
    auto result = Library().Run("a \"" + archive_ + "\" /proc/version");
    ASSERT_EQ(result.code, 0) << result.text;
    const std::string out = scratch_.Folder() + "out/";
    ASSERT_EQ(Library().Run("x \"" + archive_ + "\" \"" + out + "\"").code, 0);
    EXPECT_EQ(ReadFile(out + "version"), expected);
}

// A file past 4 GiB keeps its whole size (64-bit sizes in a level 2 header, even under -h1),
// and its data checks out. The file is sparse: zeros that take no disk space and compress to
// a few kilobytes.
TEST_F(PackTest, FilesPast4GiBKeepTheirWholeSize) {
    const std::string huge = scratch_.Folder() + "huge.bin";
    constexpr std::uint64_t kSize = (std::uint64_t{1} << 32) + 5;
    {
        const int fd = open(huge.c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kSize - 5)), 0);
        ASSERT_EQ(pwrite(fd, "tail!", 5, static_cast<off_t>(kSize - 5)), 5);
        close(fd);
    }
    ASSERT_EQ(Library().Run("a -h1 \"" + archive_ + "\" \"" + huge + "\"").code, 0);
    EXPECT_LT(std::filesystem::file_size(archive_), 1u << 20);

    const HARC handle = Library().openArchive(0, archive_.c_str(), 0);
    ASSERT_NE(handle, 0u);
    ARCHIVE_ENTRY_RECORD record{};
    ASSERT_EQ(Library().findFirst(handle, "*", &record), 0);
    std::uint64_t size = 0;
    ASSERT_NE(Library().getOriginalSize(handle, &size), 0);
    EXPECT_EQ(size, kSize);
    Library().closeArchive(handle);

    EXPECT_EQ(Library().Run("t \"" + archive_ + "\"").code, 0);  // decodes it all, checks the CRC
}

TEST_F(PackTest, ExtractMemGivesOneMemberIntoTheBuffer) {
    scratch_.Write("base/big.bin", RandomBytes(5000, 3));
    ASSERT_EQ(
        Library()
            .Run("a \"" + archive_ + "\" \"" + scratch_.Folder() + "base/\" top.txt sub big.bin")
            .code,
        0);
    // The component's line: no command letter, starting with a blank.
    const std::string line = " -+ -jso1  \"" + archive_ + "\" \"sub/deep.txt\" ";
    std::vector<unsigned char> buffer(100, 0xEE);
    std::uint32_t written = 99;
    EXPECT_EQ(Library().extractMem(0, line.c_str(), buffer.data(), 100, nullptr, nullptr, &written),
              0);
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 4), "deep");
    EXPECT_EQ(buffer[4], 0xEE);

    const std::string bigLine = " -+ -jso1  \"" + archive_ + "\" \"big.bin\" ";
    EXPECT_EQ(
        Library().extractMem(0, bigLine.c_str(), buffer.data(), 100, nullptr, nullptr, &written),
        ARC_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(written, 100u);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), RandomBytes(5000, 3).substr(0, 100));

    const std::string missing = " -+ -jso1  \"" + archive_ + "\" \"nothing\" ";
    EXPECT_EQ(
        Library().extractMem(0, missing.c_str(), buffer.data(), 100, nullptr, nullptr, &written),
        ARC_ERROR_NO_FILES);
}

}  // namespace
}  // namespace zembrat::unlha32::testing
