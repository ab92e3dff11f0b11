// The installed tree: `cmake --install` into a temporary DESTDIR, then the installed CLI
// run from there end to end with no library path set.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace zembrat::testing {
namespace {

namespace fs = std::filesystem;

TEST(InstalledTree, HoldsEverythingAndTheCliWorksFromIt) {
    TempFolder destination;
    const std::string prefix = "/opt/zembrat";
    const ProgramRun install =
        RunProgram({ZEMBRAT_CMAKE_COMMAND, "--install", ZEMBRAT_BUILD_DIR, "--prefix", prefix},
                   WithEnvironment({"DESTDIR=" + destination.Path().string()}));
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    const fs::path root = destination.Path().string() + prefix;
    for (const char* file :
         {"bin/zembrat", "bin/zembrat-cli", "lib/zembrat/libunlha32.so",
          "lib/zembrat/libzembrat_platform.so", "lib/zembrat/zembrat-sfx",
          "share/applications/zembrat.desktop", "share/icons/hicolor/scalable/apps/zembrat.svg",
          "share/man/man1/zembrat.1", "share/man/man1/zembrat-cli.1", "share/doc/zembrat/README.md",
          "share/doc/zembrat/cli.md"}) {
        EXPECT_TRUE(fs::is_regular_file(root / file)) << file;
    }
    // Both programs resolve every library they need from the tree (or the system).
    for (const char* program : {"bin/zembrat", "bin/zembrat-cli"}) {
        const ProgramRun ldd = RunProgram({"/usr/bin/ldd", (root / program).string()});
        EXPECT_EQ(ldd.out.find("not found"), std::string::npos) << ldd.out;
        const std::string platform =
            "libzembrat_platform.so => " + root.string() + "/bin/../lib/zembrat/";
        EXPECT_NE(ldd.out.find(platform), std::string::npos) << ldd.out;
    }

    TempFolder work;
    WriteFile(work / "in/readme.txt", SampleText(30000, 7));
    WriteFile(work / "in/日本語.bin", SampleBinary(5000, 8));
    const std::string cli = (root / "bin/zembrat-cli").string();
    const ProgramRun packed = RunProgram(
        {cli, "compress", "-o", work / "out", work / "in/readme.txt", work / "in/日本語.bin"});
    ASSERT_EQ(packed.status, 0) << packed.err;
    const ProgramRun sfx =
        RunProgram({cli, "compress", "--sfx", "-o", work / "out", work / "in/readme.txt"});
    ASSERT_EQ(sfx.status, 0) << sfx.err;
    const ProgramRun listed = RunProgram(
        {cli, "list", work / "out/readme.lzh", work / "out/日本語.lzh", work / "out/readme.exe"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find(" 日本語.bin\n"), std::string::npos);
    const ProgramRun tested = RunProgram(
        {cli, "test", work / "out/readme.lzh", work / "out/日本語.lzh", work / "out/readme.exe"});
    EXPECT_EQ(tested.status, 0) << tested.err;
    const ProgramRun unpacked = RunProgram(
        {cli, "decompress", "-o", work / "back", work / "out/readme.lzh", work / "out/日本語.lzh"});
    ASSERT_EQ(unpacked.status, 0) << unpacked.err;
    EXPECT_EQ(ReadFile(work / "back/readme.txt"), ReadFile(work / "in/readme.txt"));
    EXPECT_EQ(ReadFile(work / "back/日本語.bin"), ReadFile(work / "in/日本語.bin"));

    // The self-extracting file made by the installed tree carries the installed stub.
    fs::create_directories(work / "run");
    const ProgramRun ran = RunProgram({work / "out/readme.exe"}, InFolder(work / "run"));
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ReadFile(work / "run/readme.txt"), ReadFile(work / "in/readme.txt"));

    // Every other kind the command line writes, plain and self-extracting, from the installed
    // tree alone: one mixed batch unpacks the plain ones, each program unpacks itself.
    for (const std::string format : {"zip", "tgz", "tar.gz", "cab", "gza", "bza"}) {
        SCOPED_TRACE(format);
        const fs::path kind = work / ("kinds/" + format);
        for (const bool sfx : {false, true}) {
            std::vector<std::string> args{
                cli,    "compress", "-q",          "--format",
                format, "-o",       kind.string(), work / "in/日本語.bin"};
            if (sfx) {
                args.insert(args.begin() + 2, "--sfx");
            }
            ASSERT_EQ(RunProgram(args).status, 0);
        }
        fs::create_directories(kind / "run");
        const ProgramRun selfRun = RunProgram({kind / "日本語.exe"}, InFolder(kind / "run"));
        EXPECT_EQ(selfRun.status, 0) << selfRun.out << selfRun.err;
        EXPECT_EQ(ReadFile(kind / "run/日本語.bin"), ReadFile(work / "in/日本語.bin"));
        const ProgramRun mixed = RunProgram({cli, "decompress", "-q", "-o", kind / "back",
                                             kind / ("日本語." + format), kind / "日本語.exe"});
        EXPECT_EQ(mixed.status, 0) << mixed.out << mixed.err;
        EXPECT_EQ(ReadFile(kind / "back/日本語.bin"), ReadFile(work / "in/日本語.bin"));
    }
}

}  // namespace
}  // namespace zembrat::testing
