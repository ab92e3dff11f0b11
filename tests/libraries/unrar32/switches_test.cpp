// The RAR driver's lines as libunrar32.so reads them: the command switches, what -u, -y and
// -s do with existing files and names, the folder's delimiter, list files, ExtractMem.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <filesystem>

#include "fixtures_dir.h"
#include "unrar32_library.h"

namespace zembrat::unrar32::testing {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

// test.txt, testdir/test.txt (both 20 bytes, the same text), testemptydir, testlink -> test.txt
const std::string kArchive = kFixtures + "read_format_rar.rar";
constexpr std::uintmax_t kTextSize = 20;

struct LineCase {
    const char* title;
    std::string switches;
    std::string items;
    int code;
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

TEST(Unrar32Switches, CommandSwitchesAndNamesChooseWhatIsWritten) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    const LineCase cases[] = {
        {"-x keeps folders", "-x -u", "", 0, {"test.txt", "testdir/test.txt", "testemptydir"}, {}},
        {"-e puts every file in the folder",
         "-e -u",
         "",
         0,
         {"test.txt", "testlink"},
         {"testdir", "testemptydir"}},
        {"-t writes nothing", "-t", "", 0, {}, {"test.txt", "testdir"}},
        {"a name matches the file-name part",
         "-x -u",
         "\"test.txt\"",
         0,
         {"test.txt", "testdir/test.txt"},
         {"testlink"}},
        {"-s matches the whole path only",
         "-x -u -s",
         "\"test.txt\"",
         0,
         {"test.txt"},
         {"testdir", "testlink"}},
        {"a folder's name selects what is in it",
         "-x -u -s",
         "\"testdir\"",
         0,
         {"testdir/test.txt"},
         {"test.txt"}},
        {"a Windows delimiter in a name",
         "-x -u -s",
         "\"testdir\\test.txt\"",
         0,
         {"testdir/test.txt"},
         {"test.txt"}},
        {"no member matches", "-x -u", "\"nothing.txt\"", ARC_ERROR_NO_FILES, {}, {"test.txt"}},
        {"an unknown switch", "-x -q", "", ARC_ERROR_BAD_COMMAND, {}, {"test.txt"}},
        {"no command switch", "-u -y", "", ARC_ERROR_BAD_COMMAND, {}, {"test.txt"}},
        {"two command switches", "-x -e", "", ARC_ERROR_BAD_COMMAND, {}, {"test.txt"}},
    };
    for (const LineCase& test : cases) {
        SCOPED_TRACE(test.title);
        TempFolder scratch;
        const std::string out = scratch.Folder() + "out/";
        const auto result = Library().Run(ExtractLine(kArchive, out, test.switches, test.items));
        EXPECT_EQ(result.code, test.code) << result.text;
        if (test.code == ARC_ERROR_BAD_COMMAND) {
            EXPECT_FALSE(result.text.empty()) << "a refusal without its reason";
        }
        for (const std::string& name : test.present) {
            EXPECT_TRUE(fs::exists(fs::symlink_status(out + name))) << name;
        }
        for (const std::string& name : test.absent) {
            EXPECT_FALSE(fs::exists(fs::symlink_status(out + name))) << name;
        }
    }
}

TEST(Unrar32Switches, TheFolderMayEndInEitherDelimiter) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    TempFolder scratch;
    const std::string folder = scratch / "out";
    const auto result = Library().Run("-x -u  " + Quoted(kArchive) + " \"" + folder + "\\\" ");
    EXPECT_EQ(result.code, 0) << result.text;
    EXPECT_EQ(fs::file_size(folder + "/testdir/test.txt"), kTextSize);
}

TEST(Unrar32Switches, AListFileNamesTheMembers) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    TempFolder scratch;
    const std::string list = scratch.Write("names.txt", "\"testdir/test.txt\"\r\n");
    const std::string out = scratch.Folder() + "out/";
    const auto result = Library().Run(ExtractLine(kArchive, out, "-x -u -s", "@" + list));
    EXPECT_EQ(result.code, 0) << result.text;
    EXPECT_TRUE(fs::exists(out + "testdir/test.txt"));
    EXPECT_FALSE(fs::exists(out + "test.txt"));
}

// An existing test.txt, older or newer than the member (stored 2011), meets each switch set.
TEST(Unrar32Switches, ExistingFilesAreReplacedOnlyAsTheSwitchesSay) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    constexpr time_t kOlder = 315532800;   // 1980
    constexpr time_t kNewer = 4102444800;  // 2100
    struct Case {
        const char* switches;
        time_t existingTime;
        int code;
        bool replaced;
    } const cases[] = {
        {"-x", kOlder, ARC_WARNING_SKIPPED, false},  // no -y: kept, whatever its age
        {"-x -u", kOlder, ARC_WARNING_SKIPPED, false},
        {"-x -y", kNewer, 0, true},  // -y without -u: replaced, whatever its age
        {"-x -u -y", kOlder, 0, true},
        {"-x -u -y", kNewer, ARC_WARNING_SKIPPED, false},  // newer than the member: kept
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::string(test.switches) + " " + std::to_string(test.existingTime));
        TempFolder scratch;
        const std::string existing = scratch.Write("out/test.txt", "mine");
        const utimbuf times{test.existingTime, test.existingTime};
        ASSERT_EQ(::utime(existing.c_str(), &times), 0);
        const auto result = Library().Run(
            ExtractLine(kArchive, scratch.Folder() + "out/", test.switches, "\"test.txt\" -s"));
        EXPECT_EQ(result.code, test.code) << result.text;
        EXPECT_EQ(ReadFile(existing) != "mine", test.replaced) << result.text;
        if (!test.replaced) {
            // The line names the switch that would have replaced it, when that was not given.
            const bool withY = std::string_view(test.switches).find("-y") != std::string_view::npos;
            EXPECT_THAT(result.text, HasSubstr(withY ? "kept the existing file, which is newer"
                                                     : "kept the existing file (-y overwrites)"));
        }
    }
}

TEST(Unrar32Memory, OneNamedMemberGoesIntoTheCallersBuffer) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    struct Case {
        const char* title;
        std::string line;
        std::uint32_t bufferSize;
        int code;
        std::uint32_t written;
    } const cases[] = {
        // The driver's ExtractMem line: no command, switches, archive, the member name.
        {"the member", " -u  " + Quoted(kArchive) + " \"testdir/test.txt\" ", 64, 0, 20},
        {"a buffer too small", " -u  " + Quoted(kArchive) + " \"test.txt\" ", 8,
         ARC_ERROR_BUFFER_TOO_SMALL, 8},
        {"no such member", " -u  " + Quoted(kArchive) + " \"none.txt\" ", 64, ARC_ERROR_NO_FILES,
         0},
        {"no member named", " -u  " + Quoted(kArchive) + " ", 64, ARC_ERROR_BAD_COMMAND, 0},
        {"a command switch", "-x -u  " + Quoted(kArchive) + " \"test.txt\" ", 64,
         ARC_ERROR_BAD_COMMAND, 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.title);
        std::vector<unsigned char> buffer(test.bufferSize, 0);
        std::uint32_t written = 0;
        const int code = Library().extractMem(0, test.line.c_str(), buffer.data(), test.bufferSize,
                                              nullptr, nullptr, &written);
        EXPECT_EQ(code, test.code);
        EXPECT_EQ(written, test.written);
        if (test.written > 0) {
            const std::string expected = "test text document\r\n";
            EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + test.written),
                      expected.substr(0, test.written));
        }
    }
}

TEST(Unrar32Listing, TheProbeOpensRarArchivesOnly) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    EXPECT_EQ(Library().Names(kArchive, "*", kProbeMode).size(), 5u);
    EXPECT_EQ(Library().Names(kArchive, "testdir/*", kProbeMode).size(), 1u);
    EXPECT_EQ(Library().Names(kFixtures + "read_format_rar_sfx.exe", "*", kProbeMode).size(), 5u);
    // A ZIP, a tar and a text file are not RAR archives: the probe's handle is 0.
    for (const std::string& other :
         {::zembrat::testing::FixturesDir().string() + "/zip/compat_zip_1.zip",
          ::zembrat::testing::FixturesDir().string() + "/tar/compat_gtar_2.tar",
          kFixtures + "manifest.tsv"}) {
        SCOPED_TRACE(other);
        EXPECT_EQ(Library().openArchive(0, other.c_str(), 0x00800002), 0u);
    }
}

}  // namespace
}  // namespace zembrat::unrar32::testing
