// Self-extracting files made by the s command run on their own, away from the build and with
// nothing of ours on the library path.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "bga32_library.h"
#include "shell_run.h"

namespace zembrat::bga32::testing {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

using ::zembrat::testing::Shell;
using ::zembrat::testing::ShellRun;

TEST(BgaStub, TheProgramExtractsListsAndTestsItsArchiveOnItsOwn) {
    for (const char* kind : {"gza", "BZA"}) {
        TempFolder scratch;
        const std::string text = Text(150000);
        scratch.Write("src/readme.txt", text);
        scratch.Write("src/docs/guide.txt", "guide");
        const std::string archive = scratch.Folder() + "pack." + kind;
        ASSERT_EQ(
            Library()
                .Run("a -n -r \"" + archive + "\" \"" + scratch.Folder() + "src/\" readme.txt docs")
                .code,
            0);
        const auto made = Library().Run("s -n  " + Quoted(archive) + " " +
                                        Quoted(scratch.Folder() + "bin/") + " ");
        ASSERT_EQ(made.code, 0) << made.text;
        const std::string program =
            scratch.Folder() + "bin/pack." + (std::string(kind) == "gza" ? "exe" : "EXE");
        struct stat info {};
        ASSERT_EQ(stat(program.c_str(), &info), 0) << made.text;
        EXPECT_TRUE(info.st_mode & S_IXUSR);
#ifdef ZEMBRAT_BGA_SFX_SIZE_LIMIT
        EXPECT_LT(static_cast<std::size_t>(info.st_size),
                  ReadFile(archive).size() + ZEMBRAT_BGA_SFX_SIZE_LIMIT);
#endif

        // Copied away and run with an empty environment.
        const std::string copy = scratch.Folder() + "away/x.exe";
        fs::create_directories(scratch.Folder() + "away");
        fs::copy_file(program, copy);
        const ShellRun listed = Shell("env -i " + Quoted(copy) + " -l");
        EXPECT_EQ(listed.status, 0) << listed.output;
        EXPECT_THAT(listed.output, HasSubstr("docs/guide.txt"));
        const ShellRun tested = Shell("env -i " + Quoted(copy) + " -t");
        EXPECT_EQ(tested.status, 0) << tested.output;
        const ShellRun extracted =
            Shell("cd " + Quoted(scratch.Folder() + "away") + " && env -i ./x.exe out");
        EXPECT_EQ(extracted.status, 0) << extracted.output;
        EXPECT_EQ(ReadFile(scratch.Folder() + "away/out/readme.txt"), text);
        EXPECT_EQ(ReadFile(scratch.Folder() + "away/out/docs/guide.txt"), "guide");
        // An existing file is kept and named with -f; -f replaces it, and so does the -o older
        // programs of this kind took.
        for (const auto& [option, replaced] : {std::pair{"", false}, {"-f", true}, {"-o", true}}) {
            SCOPED_TRACE(option);
            scratch.Write("away/out/docs/guide.txt", "mine");
            const ShellRun again = Shell("cd " + Quoted(scratch.Folder() + "away") +
                                         " && env -i ./x.exe " + option + " out");
            EXPECT_EQ(ReadFile(scratch.Folder() + "away/out/docs/guide.txt"),
                      replaced ? "guide" : "mine");
            if (!replaced) {
                EXPECT_THAT(again.output, HasSubstr("kept the existing file (-f overwrites)"));
            }
        }
        // The library reads the archive inside the program as well.
        EXPECT_EQ(Library().Names(program).size(), 3u);
    }
}

}  // namespace
}  // namespace zembrat::bga32::testing
