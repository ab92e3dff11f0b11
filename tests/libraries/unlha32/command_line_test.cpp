// The command lines the utility itself sends, through the loaded library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "unlha32_library.h"

namespace zembrat::unlha32::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(UtilityLines, PackExtractAndMakeSelfExtracting) {
    REQUIRE_LIBRARY();
    TempFolder scratch;
    const std::string content = Text(100000);
    const std::string source = scratch.Write("dir/file.txt", content);
    std::filesystem::create_directories(scratch.Folder() + "out");
    const std::string archive = scratch.Folder() + "out/file.lzh";

    auto packed = Library().Run("u -+ -m2 -n1 -p1 -y1 -jse1 -jso1 -gw2  \"" + archive + "\" \"" +
                                source + "\" ");
    ASSERT_EQ(packed.code, 0) << packed.text;
    EXPECT_THAT(Library().Names(archive), ElementsAre("file.txt"));

    const std::string out = scratch.Folder() + "unpacked/";
    auto unpacked =
        Library().Run("x -+ -m2 -n1 -y1 -jse1 -jso1 -gw2  \"" + archive + "\" \"" + out + "\" ");
    ASSERT_EQ(unpacked.code, 0) << unpacked.text;
    EXPECT_EQ(ReadFile(out + "file.txt"), content);

    const std::string sfxFolder = scratch.Folder() + "sfx/";
    std::filesystem::create_directories(sfxFolder);
    auto made = Library().Run("s -+ -m2 -n1 -y1 -jse1 -jso1 -gw2  \"" + archive + "\" \"" +
                              sfxFolder + "\" ");
    ASSERT_EQ(made.code, 0) << made.text;
    EXPECT_THAT(Tree(sfxFolder), ElementsAre("file.exe"));
    struct stat info {};
    ASSERT_EQ(stat((sfxFolder + "file.exe").c_str(), &info), 0);
    EXPECT_TRUE(info.st_mode & S_IXUSR);

    // Upper-case extension in, upper-case extension out.
    std::filesystem::copy_file(archive, scratch.Folder() + "out/LOUD.LZH");
    made = Library().Run("s -+ -m2 -n1 -y1 -jse1 -jso1 -gw2  \"" + scratch.Folder() +
                         "out/LOUD.LZH\" \"" + sfxFolder + "\" ");
    ASSERT_EQ(made.code, 0) << made.text;
    EXPECT_THAT(Tree(sfxFolder), ElementsAre("LOUD.EXE", "file.exe"));
}

TEST(UtilityLines, ExtractionKeepsFoldersAndExistingFilesOnlyWithoutM) {
    REQUIRE_LIBRARY();
    TempFolder scratch;
    scratch.Write("src/a.txt", "new a");
    scratch.Write("src/sub/b.txt", "new b");
    const std::string archive = scratch.Folder() + "a.lzh";
    ASSERT_EQ(
        Library().Run("a \"" + archive + "\" \"" + scratch.Folder() + "src/\" a.txt sub").code, 0);

    const std::string out = scratch.Folder() + "out/";
    scratch.Write("out/a.txt", "old a");
    auto kept = Library().Run("x \"" + archive + "\" \"" + out + "\"");
    EXPECT_EQ(kept.code, ARC_WARNING_SKIPPED);
    EXPECT_THAT(kept.text, HasSubstr("a.txt"));
    EXPECT_EQ(ReadFile(out + "a.txt"), "old a");
    EXPECT_EQ(ReadFile(out + "sub/b.txt"), "new b");

    auto replaced = Library().Run("x -m1 \"" + archive + "\" \"" + out + "\"");
    EXPECT_EQ(replaced.code, 0) << replaced.text;
    EXPECT_EQ(ReadFile(out + "a.txt"), "new a");

    // e drops the folders.
    const std::string flat = scratch.Folder() + "flat/";
    ASSERT_EQ(Library().Run("e \"" + archive + "\" \"" + flat + "\"").code, 0);
    EXPECT_THAT(Tree(flat), ElementsAre("a.txt", "b.txt"));
}

// The front end sends -m0 where it sends -m2 when the user did not ask to overwrite: every
// existing file and folder stays as it was, each kept file gets its own line, and the result
// is the warning alone.
TEST(UtilityLines, MZeroKeepsEveryExistingFileWithOneLineEach) {
    REQUIRE_LIBRARY();
    TempFolder scratch;
    for (const char* name : {"src/a.txt", "src/new.txt", "src/sub/b.txt", "src/sub/c.txt"}) {
        scratch.Write(name, "new");
    }
    const std::string archive = scratch.Folder() + "a.lzh";
    ASSERT_EQ(Library()
                  .Run("a \"" + archive + "\" \"" + scratch.Folder() + "src/\" a.txt new.txt sub")
                  .code,
              0);
    const std::string out = scratch.Folder() + "out/";
    scratch.Write("out/a.txt", "old");
    scratch.Write("out/sub/b.txt", "old");
    ASSERT_EQ(chmod((out + "sub").c_str(), 0700), 0);

    auto kept = Library().Run("x -+ -m0 -n1 -p1 -y1 -jse1 -jso1 -gw2  \"" + archive + "\" \"" +
                              out + "\" ");
    EXPECT_EQ(kept.code, ARC_WARNING_SKIPPED);
    EXPECT_EQ(kept.text,
              "a.txt: kept the existing file (-m1 overwrites)\n"
              "extracted new.txt\n"
              "extracted sub\n"
              "sub/b.txt: kept the existing file (-m1 overwrites)\n"
              "extracted sub/c.txt\n");
    for (const char* name : {"a.txt", "sub/b.txt"}) {
        EXPECT_EQ(ReadFile(out + name), "old") << name;
    }
    EXPECT_EQ(ReadFile(out + "sub/c.txt"), "new");
    struct stat folder {};
    ASSERT_EQ(stat((out + "sub").c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
}

TEST(OutputBuffer, UnknownSwitchGivesItsReasonAndNeverOverflows) {
    REQUIRE_LIBRARY();
    auto result = Library().Run("x -+ -q7 \"/tmp/none.lzh\" \"/tmp/\"");
    EXPECT_EQ(result.code, ARC_ERROR_BAD_COMMAND);
    EXPECT_THAT(result.text, HasSubstr("unknown switch: -q7"));

    EXPECT_EQ(Library().Run("q \"/tmp/a.lzh\"").code, ARC_ERROR_BAD_COMMAND);
    EXPECT_EQ(Library().Run("").code, ARC_ERROR_BAD_COMMAND);
    EXPECT_EQ(Library().Run("x -h3 \"/tmp/a.lzh\"").code, ARC_ERROR_BAD_COMMAND);

    char small[8];
    std::memset(small, '#', sizeof small);
    EXPECT_EQ(Library().command(0, "x -zz1 a.lzh", small, 5), ARC_ERROR_BAD_COMMAND);
    EXPECT_EQ(small[4], '\0');
    EXPECT_EQ(small[5], '#');
    EXPECT_EQ(Library().command(0, "x -zz1 a.lzh", nullptr, 0), ARC_ERROR_BAD_COMMAND);
    EXPECT_EQ(Library().command(0, nullptr, nullptr, 0), ARC_ERROR_BAD_COMMAND);
}

TEST(OutputBuffer, MissingArchiveAndListFile) {
    REQUIRE_LIBRARY();
    TempFolder scratch;
    auto missing = Library().Run("x \"" + scratch.Folder() + "none.lzh\"");
    EXPECT_EQ(missing.code, ARC_ERROR_CANNOT_READ);
    EXPECT_THAT(missing.text, HasSubstr("none.lzh"));
    const std::string notArchive = scratch.Write("text.lzh", "just some text, no archive here");
    EXPECT_EQ(Library().Run("l \"" + notArchive + "\"").code, ARC_ERROR_NOT_ARCHIVE);
    auto list =
        Library().Run("a \"" + scratch.Folder() + "a.lzh\" @" + scratch.Folder() + "nolist");
    EXPECT_EQ(list.code, ARC_ERROR_CANNOT_READ);
}

TEST(Exports, ExactlyTheContractEntries) {
    REQUIRE_LIBRARY();
    std::unique_ptr<FILE, decltype(&pclose)> pipe(
        popen("nm -D --defined-only " ZEMBRAT_UNLHA32_PATH " 2>/dev/null", "r"), &pclose);
    ASSERT_TRUE(pipe);
    std::vector<std::string> symbols;
    char line[512];
    while (std::fgets(line, sizeof line, pipe.get())) {
        std::string text(line);
        const std::size_t space = text.find_last_of(' ');
        std::string name = text.substr(space + 1);
        name.erase(name.find_last_not_of("\n") + 1);
        if (text.find(" T ") != std::string::npos || text.find(" D ") != std::string::npos ||
            text.find(" B ") != std::string::npos || text.find(" W ") != std::string::npos ||
            text.find(" V ") != std::string::npos || text.find(" u ") != std::string::npos) {
            symbols.push_back(name);
        }
    }
    if (symbols.empty()) {
        GTEST_SKIP() << "nm is not installed";
    }
    std::sort(symbols.begin(), symbols.end());
    EXPECT_THAT(symbols,
                ElementsAre("Unlha", "UnlhaCheckArchive", "UnlhaCloseArchive", "UnlhaExtractMem",
                            "UnlhaFindFirst", "UnlhaFindNext", "UnlhaGetAccessTimeEx",
                            "UnlhaGetCompressedSizeEx", "UnlhaGetCreateTimeEx",
                            "UnlhaGetOriginalSizeEx", "UnlhaGetWriteTimeEx",
                            "UnlhaKillOwnerWindowEx", "UnlhaOpenArchive", "UnlhaSetOwnerWindowEx"));
}

}  // namespace
}  // namespace zembrat::unlha32::testing
