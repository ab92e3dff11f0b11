// zembrat-cli end to end, through the real LHA library beside it in bin/.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "cli_test_support.h"
#include "fixtures_dir.h"

namespace zembrat::testing {
namespace {

namespace fs = std::filesystem;

const std::string kCli = ZEMBRAT_CLI_PATH;
constexpr const char* kCancelled = "処理を中断しました　";

std::string Escaped(const std::string& text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

ProgramRun Cli(std::vector<std::string> arguments, const RunOptions& options = {}) {
    arguments.insert(arguments.begin(), kCli);
    return RunProgram(arguments, options);
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(In("notes.txt"), SampleText(40000, 1));
        WriteFile(In("data.bin"), SampleBinary(70000, 2));
        WriteFile(In("日本語の名前.txt"), SampleText(9000, 3));
        WriteFile(In("sub/nested.txt"), SampleText(3000, 4));
    }
    std::string In(const std::string& name) const { return work_ / ("in/" + name); }
    std::string Out(const std::string& name = "") const { return work_ / ("out/" + name); }
    std::vector<std::string> Samples() const {
        return {In("notes.txt"), In("data.bin"), In("日本語の名前.txt"), In("sub/nested.txt")};
    }
    // The folder for temporary archives, so that leftovers can be seen.
    RunOptions PrivateTemp() const { return WithEnvironment({"TMPDIR=" + tmp_.Path().string()}); }

    TempFolder work_;
    TempFolder tmp_;
};

TEST_F(CliTest, CompressListTestDecompressRoundTrip) {
    std::vector<std::string> compress = {"compress", "-o", Out()};
    for (const auto& file : Samples())
        compress.push_back(file);
    const ProgramRun packed = Cli(compress);
    ASSERT_EQ(packed.status, 0) << packed.err;
    EXPECT_EQ(FolderContents(Out()), (std::vector<std::string>{"data.lzh", "nested.lzh",
                                                               "notes.lzh", "日本語の名前.lzh"}));
    EXPECT_NE(packed.out.find("4個のファイルを処理しました"), std::string::npos);
    EXPECT_EQ(packed.err, "");

    const std::vector<std::string> archives = {Out("notes.lzh"), Out("data.lzh"),
                                               Out("日本語の名前.lzh"), Out("nested.lzh")};
    std::vector<std::string> list = {"list"};
    list.insert(list.end(), archives.begin(), archives.end());
    const ProgramRun listed = Cli(list);
    ASSERT_EQ(listed.status, 0) << listed.err;
    // Only the file name is stored, as the window stores it; sizes and methods are shown.
    EXPECT_TRUE(std::regex_search(
        listed.out,
        std::regex(R"( 40000 +\d+ +\d+\.\d% -lh7- +\d{4}-\d\d-\d\d \d\d:\d\d:\d\d notes\.txt\n)")));
    EXPECT_TRUE(
        std::regex_search(listed.out, std::regex(R"( 70000 +\d+ +\d+\.\d% -lh0- .* data\.bin\n)")));
    EXPECT_NE(listed.out.find(" 日本語の名前.txt\n"), std::string::npos);
    EXPECT_NE(listed.out.find(" nested.txt\n"), std::string::npos);

    std::vector<std::string> test = {"test"};
    test.insert(test.end(), archives.begin(), archives.end());
    const ProgramRun tested = Cli(test);
    EXPECT_EQ(tested.status, 0) << tested.err;
    EXPECT_NE(tested.out.find("4 個の書庫を検査しました"), std::string::npos);

    std::vector<std::string> decompress = {"decompress", "-o", work_ / "back"};
    decompress.insert(decompress.end(), archives.begin(), archives.end());
    const ProgramRun unpacked = Cli(decompress);
    ASSERT_EQ(unpacked.status, 0) << unpacked.err;
    for (const char* name : {"notes.txt", "data.bin", "日本語の名前.txt"}) {
        EXPECT_EQ(ReadFile(work_ / ("back/" + std::string(name))), ReadFile(In(name))) << name;
    }
    EXPECT_EQ(ReadFile(work_ / "back/nested.txt"), ReadFile(In("sub/nested.txt")));
}

TEST_F(CliTest, SelfExtractingUpperCaseRunsAndLeavesNoTemporaryArchive) {
    const ProgramRun packed =
        Cli({"compress", "--sfx", "--upper", "-o", Out(), In("notes.txt")}, PrivateTemp());
    ASSERT_EQ(packed.status, 0) << packed.err;
    EXPECT_EQ(FolderContents(Out()), std::vector<std::string>{"notes.EXE"});
    EXPECT_EQ(FolderContents(tmp_.Path()), std::vector<std::string>{});
    struct stat info {};
    ASSERT_EQ(::stat(Out("notes.EXE").c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IXUSR, 0u);

    EXPECT_EQ(Cli({"list", Out("notes.EXE")}).status, 0);
    EXPECT_EQ(Cli({"test", Out("notes.EXE")}).status, 0);
    fs::create_directories(work_ / "run");
    const ProgramRun ran = RunProgram({Out("notes.EXE")}, InFolder(work_ / "run"));
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ReadFile(work_ / "run/notes.txt"), ReadFile(In("notes.txt")));
    const ProgramRun unpacked = Cli({"decompress", "-o", work_ / "back", Out("notes.EXE")});
    ASSERT_EQ(unpacked.status, 0) << unpacked.err;
    EXPECT_EQ(ReadFile(work_ / "back/notes.txt"), ReadFile(In("notes.txt")));
}

// The verbose line is the LHA driver's line exactly: the command, the batch switches, the
// doubled blank of the empty user options, the quoted archive (made in the run's staging
// folder), the quoted file, and a trailing blank; alone on its line, the library text after.
TEST_F(CliTest, VerbosePrintsTheDriversCommandLinesAlone) {
    const ProgramRun plain = Cli({"-v", "compress", "-o", Out(), In("notes.txt")});
    ASSERT_EQ(plain.status, 0) << plain.err;
    const std::string out = Escaped(Out());
    const std::regex packLine("(^|\n)u -\\+ -m2 -n1 -p1 -y1 -jse1 -jso1 -gw2  \"" + out +
                              "\\.zembrat-[A-Za-z0-9]{6}/notes\\.lzh\" \"" +
                              Escaped(In("notes.txt")) + "\" \nadded notes\\.txt\n");
    EXPECT_TRUE(std::regex_search(plain.out, packLine)) << plain.out;

    const ProgramRun sfx =
        Cli({"--verbose", "compress", "--sfx", "--method", "lh5", "-o", Out(), In("data.bin")},
            PrivateTemp());
    ASSERT_EQ(sfx.status, 0) << sfx.err;
    const std::string temp = Escaped(tmp_ / "");
    EXPECT_TRUE(std::regex_search(
        sfx.out,
        std::regex("(^|\n)u -\\+ -m2 -n1 -p1 -y1 -jm5 -jse1 -jso1 -gw2  \"" + temp +
                   "zembrat-[A-Za-z0-9]{6}/data\\.lzh\" \"" + Escaped(In("data.bin")) + "\" \n")))
        << sfx.out;
    EXPECT_TRUE(
        std::regex_search(sfx.out, std::regex("\ns -\\+ -m2 -n1 -y1 -jm5 -jse1 -jso1 -gw2  \"" +
                                              temp + "zembrat-[A-Za-z0-9]{6}/data\\.lzh\" \"" +
                                              out + "\\.zembrat-[A-Za-z0-9]{6}/\" \nmade ")))
        << sfx.out;

    // With --overwrite the line is the window's.
    const ProgramRun unpacked =
        Cli({"-v", "decompress", "--overwrite", "-o", work_ / "back", Out("notes.lzh")});
    ASSERT_EQ(unpacked.status, 0) << unpacked.err;
    EXPECT_EQ(unpacked.out.substr(0, unpacked.out.find('\n') + 1),
              "x -+ -m2 -n1 -y1 -jse1 -jso1 -gw2  \"" + Out("notes.lzh") + "\" \"" +
                  (work_ / "back/") + "\" \n");
}

TEST_F(CliTest, VerboseKeepsTheLibrarysLinesAndListShowsEveryMember) {
    const std::string archive =
        ::zembrat::testing::FixturesDir().string() + "/lha/regression/multiple.lzh";
    if (!fs::exists(archive)) {
        GTEST_SKIP() << "shared fixture missing: " << archive;
    }
    const ProgramRun unpacked = Cli({"-v", "decompress", "-o", Out(), archive});
    ASSERT_EQ(unpacked.status, 0) << unpacked.err;
    EXPECT_NE(
        unpacked.out.find("\" \nextracted file1.txt\nextracted file2-1.txt\nextracted "
                          "file2-2.txt\nextracted file3.txt\nextracted file4.txt\n展開しました"),
        std::string::npos)
        << unpacked.out;
    const ProgramRun listed = Cli({"list", archive});
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.out.find("5 個のファイル"), std::string::npos) << listed.out;
}

TEST_F(CliTest, MethodOptionChoosesTheLhaMethod) {
    for (const auto& [option, method] : std::vector<std::pair<std::string, std::string>>{
             {"lh0", "-lh0-"}, {"lh5", "-lh5-"}, {"LH6", "-lh6-"}, {"lh7", "-lh7-"}}) {
        const std::string folder = work_ / option;
        ASSERT_EQ(Cli({"compress", "--method=" + option, "-o", folder, In("notes.txt")}).status, 0);
        const ProgramRun listed = Cli({"list", folder + "/notes.lzh"});
        EXPECT_NE(listed.out.find(" " + method + " "), std::string::npos) << option;
    }
    // Without the option no method switch is sent: the library's default applies.
    const ProgramRun plain = Cli({"-v", "compress", "-o", Out(), In("notes.txt")});
    EXPECT_EQ(plain.out.find("-jm"), std::string::npos);
}

TEST_F(CliTest, ExistingOutputIsSkippedUnlessOverwriteIsGiven) {
    WriteFile(Out("notes.lzh"), "not an archive");
    const ProgramRun skipped = Cli({"compress", "-o", Out(), In("notes.txt"), In("data.bin")});
    EXPECT_EQ(skipped.status, 0) << skipped.err;
    EXPECT_EQ(ReadFile(Out("notes.lzh")), "not an archive");
    EXPECT_NE(skipped.out.find("飛ばしました"), std::string::npos);
    EXPECT_NE(skipped.out.find("2個のファイルを処理しました"), std::string::npos);

    ASSERT_EQ(Cli({"compress", "--overwrite", "-o", Out(), In("notes.txt")}).status, 0);
    EXPECT_EQ(Cli({"test", Out("notes.lzh")}).status, 0);
}

TEST_F(CliTest, AFailedFileGivesOneAndTheOthersAreStillHandled) {
    ASSERT_EQ(Cli({"compress", "-o", Out(), In("notes.txt"), In("data.bin")}).status, 0);
    const std::string good = ReadFile(Out("data.lzh"));
    WriteFile(Out("cut.lzh"), good.substr(0, good.size() / 2));

    const ProgramRun unpacked = Cli(
        {"decompress", "-o", work_ / "back", Out("notes.lzh"), Out("cut.lzh"), Out("data.lzh")});
    EXPECT_EQ(unpacked.status, 1);
    EXPECT_NE(unpacked.err.find("cut.lzh"), std::string::npos);
    EXPECT_NE(unpacked.out.find("次のファイルは処理できませんでした"), std::string::npos);
    EXPECT_EQ(ReadFile(work_ / "back/notes.txt"), ReadFile(In("notes.txt")));
    EXPECT_EQ(ReadFile(work_ / "back/data.bin"), ReadFile(In("data.bin")));

    const ProgramRun tested = Cli({"test", Out("notes.lzh"), Out("cut.lzh"), Out("data.lzh")});
    EXPECT_EQ(tested.status, 1);
    EXPECT_NE(tested.out.find("正常: " + Out("data.lzh")), std::string::npos);
    EXPECT_NE(tested.err.find("異常: " + Out("cut.lzh")), std::string::npos);
    EXPECT_EQ(Cli({"list", Out("cut.lzh"), Out("notes.lzh")}).status, 1);

    const ProgramRun missing =
        Cli({"compress", "-o", Out("more"), In("absent.txt"), In("notes.txt")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("ファイルが見つかりません"), std::string::npos);
    EXPECT_NE(Cli({"compress", "-o", Out("more"), In("sub")}).err.find("フォルダです"),
              std::string::npos);
    EXPECT_EQ(FolderContents(Out("more")), std::vector<std::string>{"notes.lzh"});
}

TEST_F(CliTest, AnUnknownKindFailsAloneAndAMissingLibraryEndsTheRunWithThree) {
    ASSERT_EQ(Cli({"compress", "-o", Out(), In("notes.txt"), In("data.bin")}).status, 0);
    WriteFile(Out("kind.gca"), "whatever");
    const ProgramRun run = Cli(
        {"decompress", "-o", work_ / "back", Out("notes.lzh"), Out("kind.gca"), Out("data.lzh")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("kind.gca (書庫の形式を特定できませんでした。)"), std::string::npos)
        << run.err;
    EXPECT_EQ(FolderContents(work_ / "back"), (std::vector<std::string>{"data.bin", "notes.txt"}));

    // Without its library beside it (nor in ../lib/zembrat) the program cannot start a run.
    const fs::path alone = work_ / "alone";
    fs::create_directories(alone);
    fs::copy_file(kCli, alone / "zembrat-cli");
    fs::copy_file(fs::path(kCli).parent_path() / "libzembrat_platform.so",
                  alone / "libzembrat_platform.so");
    const ProgramRun noLibrary =
        RunProgram({(alone / "zembrat-cli").string(), "list", Out("notes.lzh")});
    EXPECT_EQ(noLibrary.status, 3);
    EXPECT_NE(noLibrary.err.find("UNLHA32.DLL"), std::string::npos) << noLibrary.err;
}

TEST_F(CliTest, UsageErrorsGiveTwoAndHelpIsJapanese) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"pack", "-o", Out(), In("notes.txt")},
        {"compress", In("notes.txt")},
        {"compress", "-o", Out()},
        {"compress", "--level", "9", "-o", Out(), In("notes.txt")},
        {"compress", "--format", "rar", "-o", Out(), In("notes.txt")},
        {"compress", "--format", "zip", "--method", "lh5", "-o", Out(), In("notes.txt")},
        {"compress", "--format=zip", "--level", "10", "-o", Out(), In("notes.txt")},
        {"list", "--format", "zip", In("notes.txt")},
        {"compress", "--method", "lh9", "-o", Out(), In("notes.txt")},
        {"compress", "--method"},
        {"compress", "-v", "-q", "-o", Out(), In("notes.txt")},
        {"list", "--sfx", In("notes.txt")},
        {"list", "-o", Out(), In("notes.txt")},
        {"list", "--overwrite", In("notes.txt")},
    };
    for (const auto& arguments : wrong) {
        const ProgramRun run = Cli(arguments);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(arguments);
        EXPECT_NE(run.err.find("zembrat-cli --help"), std::string::npos);
        EXPECT_EQ(run.out, "");
    }
    EXPECT_FALSE(fs::exists(Out()));

    const ProgramRun help = Cli({"compress", "-h"});
    EXPECT_EQ(help.status, 0);
    for (const char* text : {"使い方", "--sfx", "--overwrite", "--upper", "--method", "-o",
                             "--verbose", "--quiet", "--version", "終了ステータス"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
    const ProgramRun version = Cli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("zembrat-cli \\d+\\.\\d+\\.\\d+\n")));
}

TEST_F(CliTest, ProgressBarOnlyOnATerminalAndNotWhenQuiet) {
    const std::vector<std::string> compress = {"compress", "-o", Out(), In("notes.txt"),
                                               In("data.bin")};
    const ProgramRun piped = Cli(compress);
    ASSERT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(piped.out.find('\r'), std::string::npos);

    std::vector<std::string> again = compress;
    again.insert(again.begin() + 1, "--overwrite");
    const ProgramRun terminal = Cli(again, OnTerminal());
    ASSERT_EQ(terminal.status, 0) << terminal.err;
    EXPECT_TRUE(
        std::regex_search(terminal.err, std::regex(R"(\[1/2\] \[[#.]{20}\] +\d+% .*notes\.txt)")))
        << terminal.err;
    EXPECT_NE(terminal.err.find("[2/2] [####################] 100% 68.4 KiB/68.4 KiB data.bin"),
              std::string::npos);
    EXPECT_NE(terminal.err.find("\r\x1b[K"), std::string::npos);

    again.insert(again.begin() + 1, "-q");
    const ProgramRun quiet = Cli(again, OnTerminal());
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(quiet.out, "");
}

// Unpacking in a terminal keeps existing files unless --overwrite is given, and says which
// it kept.
TEST_F(CliTest, DecompressKeepsExistingFilesUnlessOverwriteIsGiven) {
    ASSERT_EQ(Cli({"compress", "-o", Out(), In("notes.txt")}).status, 0);
    const fs::path back = work_ / "back";
    WriteFile(back / "notes.txt", "mine");
    const ProgramRun kept = Cli({"decompress", "-v", "-o", back, Out("notes.lzh")});
    EXPECT_EQ(kept.status, 0) << kept.err;
    EXPECT_EQ(ReadFile(back / "notes.txt"), "mine");
    EXPECT_NE(kept.out.find(" -m0 "), std::string::npos) << kept.out;
    EXPECT_NE(kept.out.find("  notes.txt: kept the existing file"), std::string::npos) << kept.out;

    const ProgramRun replaced = Cli({"decompress", "--overwrite", "-o", back, Out("notes.lzh")});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(ReadFile(back / "notes.txt"), ReadFile(In("notes.txt")));
}

// ZIP through the same batch: --format zip makes one archive per file (read back by unzip),
// list, test and decompress take them, existing files are kept unless --overwrite, and --sfx
// makes a program that extracts by itself.
TEST_F(CliTest, ZipArchivesThroughTheSameBatch) {
    const ProgramRun packed = Cli({"compress", "--format", "zip", "--level", "9", "-o", Out(),
                                   In("notes.txt"), In("日本語の名前.txt")});
    ASSERT_EQ(packed.status, 0) << packed.err;
    EXPECT_EQ(FolderContents(Out()), (std::vector<std::string>{"notes.zip", "日本語の名前.zip"}));
    EXPECT_EQ(RunProgram({"/usr/bin/unzip", "-p", Out("日本語の名前.zip")}).out,
              ReadFile(In("日本語の名前.txt")));
    EXPECT_EQ(Cli({"test", Out("notes.zip"), Out("日本語の名前.zip")}).status, 0);
    EXPECT_NE(Cli({"list", Out("notes.zip")}).out.find("notes.txt"), std::string::npos);

    const fs::path back = work_ / "back";
    WriteFile(back / "notes.txt", "mine");
    const ProgramRun kept =
        Cli({"decompress", "-o", back, Out("notes.zip"), Out("日本語の名前.zip")});
    EXPECT_EQ(kept.status, 0) << kept.err;
    EXPECT_EQ(ReadFile(back / "notes.txt"), "mine");
    EXPECT_NE(kept.out.find("notes.txt: kept the existing file"), std::string::npos) << kept.out;
    EXPECT_EQ(ReadFile(back / "日本語の名前.txt"), ReadFile(In("日本語の名前.txt")));
    ASSERT_EQ(Cli({"decompress", "--overwrite", "-o", back, Out("notes.zip")}).status, 0);
    EXPECT_EQ(ReadFile(back / "notes.txt"), ReadFile(In("notes.txt")));

    const ProgramRun sfx =
        Cli({"compress", "--format", "zip", "--sfx", "-o", work_ / "sfx", In("data.bin")},
            PrivateTemp());
    ASSERT_EQ(sfx.status, 0) << sfx.err;
    const fs::path unpacked = work_ / "unpacked";
    fs::create_directories(unpacked);
    EXPECT_EQ(RunProgram({work_ / "sfx/data.exe", unpacked.string()}).status, 0);
    EXPECT_EQ(ReadFile(unpacked / "data.bin"), ReadFile(In("data.bin")));
    EXPECT_EQ(FolderContents(tmp_.Path()), std::vector<std::string>{});
}

// The tar family through the same batch: each kind made, read back by GNU tar, and unpacked.
TEST_F(CliTest, TarArchivesThroughTheSameBatch) {
    for (const std::string format : {"tar", "tgz", "tar.gz", "tar.bz2"}) {
        SCOPED_TRACE(format);
        const fs::path out = work_ / ("out-" + format);
        const ProgramRun packed =
            Cli({"compress", "--format", format, "-o", out, In("日本語の名前.txt")});
        ASSERT_EQ(packed.status, 0) << packed.err;
        const std::string archive = (out / ("日本語の名前." + format)).string();
        EXPECT_EQ(RunProgram({"/usr/bin/tar", "-xOf", archive}).out,
                  ReadFile(In("日本語の名前.txt")));
        const fs::path back = work_ / ("back-" + format);
        ASSERT_EQ(Cli({"decompress", "-o", back, archive}).status, 0);
        EXPECT_EQ(ReadFile(back / "日本語の名前.txt"), ReadFile(In("日本語の名前.txt")));
    }
}

// A batch given every volume of a RAR set, as "*.rar" gives them: the first volume extracts
// (or tests) the set, each later one is reported as skipped, not as unpacked or tested, and
// the run succeeds. Without the first volume each later one fails alone, naming the missing
// first volume.
TEST_F(CliTest, LaterRarVolumesOfASetInTheBatchAreSkipped) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    const struct {
        const char* prefix;  // NAME.part in the fixtures' multivolume folder
        int volumes;
        int width;
    } cases[] = {{"rar_multivolume_multiple_files.part", 6, 1},
                 {"read_format_rar5_multiarchive.part", 8, 2}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.prefix);
        const fs::path folder = work_ / test.prefix;
        std::vector<std::string> names;
        std::vector<std::string> arguments = {"decompress", "-o", Out(test.prefix)};
        for (int number = 1; number <= test.volumes; ++number) {
            const std::string digits = std::to_string(number);
            names.push_back(test.prefix + std::string(test.width - digits.size(), '0') + digits +
                            ".rar");
            fs::create_directories(folder);
            fs::copy_file(::zembrat::testing::FixturesDir() / "rar/multivolume" / names.back(),
                          folder / names.back());
            arguments.push_back(folder / names.back());
        }
        const ProgramRun run = Cli(arguments);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_FALSE(FolderContents(arguments[2]).empty());
        EXPECT_NE(run.out.find(std::to_string(names.size()) + "個のファイルを処理しました"),
                  std::string::npos);
        EXPECT_NE(run.out.find("展開しました: " + arguments[3] + "\n"), std::string::npos)
            << run.out;
        EXPECT_EQ(run.out.find("展開しました: " + arguments[4]), std::string::npos) << run.out;

        // Into the folder that holds the set: the volumes are still found beside each other.
        std::vector<std::string> intoItsFolder = arguments;
        intoItsFolder[2] = folder;
        const ProgramRun beside = Cli(intoItsFolder);
        EXPECT_EQ(beside.status, 0) << beside.err;
        EXPECT_EQ(FolderContents(folder).size(),
                  names.size() + FolderContents(arguments[2]).size());
        // With the last volume gone, the message names it where the user looks, not in the
        // run's staging copy of the folder (gone when the run ends).
        const fs::path last = folder / names.back();
        fs::rename(last, work_ / names.back());
        intoItsFolder.pop_back();
        const ProgramRun incomplete = Cli(intoItsFolder);
        // test names the missing volume too, not a damaged archive.
        const ProgramRun testedIncomplete = Cli({"test", intoItsFolder[3]});
        fs::rename(work_ / names.back(), last);
        EXPECT_EQ(testedIncomplete.status, 1);
        EXPECT_NE(testedIncomplete.err.find("異常: " + intoItsFolder[3] + " (the volume " +
                                            last.string() + " is missing"),
                  std::string::npos)
            << testedIncomplete.err;
        EXPECT_EQ(incomplete.status, 1);
        EXPECT_NE(incomplete.err.find("the volume " + last.string() + " is missing"),
                  std::string::npos)
            << incomplete.err;
        EXPECT_EQ((incomplete.out + incomplete.err).find(".zembrat-"), std::string::npos)
            << incomplete.out << incomplete.err;

        // test: the set once, from its first volume; a later volume alone tests its set.
        std::vector<std::string> testing = {"test"};
        testing.insert(testing.end(), arguments.begin() + 3, arguments.end());
        std::string expected = "正常: " + arguments[3] + "\n";
        for (std::size_t at = 4; at < arguments.size(); ++at) {
            expected += "スキップしました（分割書庫の続き）: " + arguments[at] + "\n";
        }
        EXPECT_EQ(Cli(testing).out, expected + "1 個の書庫を検査しました。異常はありません\n");
        EXPECT_EQ(Cli({"test", arguments.back()}).out,
                  "正常: " + arguments.back() + "\n1 個の書庫を検査しました。異常はありません\n");

        fs::remove(folder / names[0]);
        arguments.erase(arguments.begin() + 3);
        const ProgramRun orphans = Cli(arguments);
        EXPECT_EQ(orphans.status, 1);
        for (std::size_t at = 1; at < names.size(); ++at) {
            const std::string volume = names[at] + " is volume " + std::to_string(at + 1);
            EXPECT_NE(run.out.find(
                          "スキップしました（分割書庫の続き）: " + (folder / names[at]).string() +
                          "\n  " + names[at] + ": volume " + std::to_string(at + 1) +
                          " of the set that " + names[0] + " extracts; skipped"),
                      std::string::npos)
                << run.out;
            EXPECT_NE(orphans.err.find("the first volume " + (folder / names[0]).string() +
                                       " is missing (" + volume),
                      std::string::npos)
                << orphans.err;
        }
    }
}

// Output that cannot be written (a full disk) is a failure, not a silent success.
TEST_F(CliTest, AFailedWriteToStandardOutputIsAnError) {
    ASSERT_EQ(Cli({"compress", "-o", Out(), In("notes.txt")}).status, 0);
    for (const char* command : {"list", "test"}) {
        const int status = std::system(("'" + std::string(kCli) + "' " + command + " '" +
                                        Out("notes.lzh") + "' > /dev/full 2>/dev/null")
                                           .c_str());
        EXPECT_EQ(WEXITSTATUS(status), 1) << command;
    }
}

// Ctrl-C in the middle of a large file: the library is told to stop at its next progress
// report, no archive appears under its final name, nothing is left behind, the files after
// it are not touched, and the run ends with the cancelled message and 130.
TEST_F(CliTest, InterruptLeavesNoPartialArchive) {
    WriteFile(In("large.txt"), SampleText(24u << 20, 5));
    // Ctrl-C on a plain archive; the terminal closing (SIGHUP) on a self-extracting one.
    for (const bool selfExtracting : {false, true}) {
        SCOPED_TRACE(selfExtracting ? "sfx" : "lzh");
        const int signalNumber = selfExtracting ? SIGHUP : SIGINT;
        const std::string out = work_ / (selfExtracting ? "out-sfx" : "out-lzh");
        std::vector<std::string> arguments = {kCli, "compress",      "-o",
                                              out,  In("large.txt"), In("notes.txt")};
        if (selfExtracting) {
            arguments.insert(arguments.begin() + 2, "--sfx");
        }
        const pid_t child = StartProgram(arguments, work_ / "stdout", work_ / "stderr",
                                         {"TMPDIR=" + tmp_.Path().string()});
        // The run's staging folder appears just before the library starts writing.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (FolderContents(out).empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_EQ(::kill(child, signalNumber), 0);
        EXPECT_EQ(WaitForExit(child), 128 + signalNumber);
        const std::string err = ReadFile(work_ / "stderr");
        EXPECT_NE(err.find(kCancelled), std::string::npos) << err;
        EXPECT_EQ(FolderContents(out), std::vector<std::string>{});
        EXPECT_EQ(FolderContents(tmp_.Path()), std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace zembrat::testing
