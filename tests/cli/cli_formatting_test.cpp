// The argument rules and the terminal formatting, without running a program.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>

#include "archive_listing.h"
#include "cli_arguments.h"
#include "display_text.h"
#include "progress_bar.h"

namespace zembrat::cli {
namespace {

CliArguments Parse(std::vector<std::string_view> words) {
    return ParseArguments(words);
}

TEST(CliArguments, OptionsMayStandAnywhereAndTakeTheirValueEitherWay) {
    const CliArguments a = Parse({"compress", "a.txt", "-oOUT", "--sfx", "b.txt", "--upper",
                                  "--method=LH6", "--overwrite", "-v"});
    EXPECT_EQ(a.command, Command::kCompress);
    EXPECT_EQ(a.files, (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(a.outputFolder, "OUT");
    EXPECT_TRUE(a.selfExtracting && a.upperCaseExtension && a.overwrite && a.verbose);
    EXPECT_EQ(a.method, LhaMethod::kLh6);

    const CliArguments b = Parse({"-q", "decompress", "--output", "dir", "--", "-odd.lzh", "-v"});
    EXPECT_EQ(b.outputFolder, "dir");
    EXPECT_EQ(b.files, (std::vector<std::string>{"-odd.lzh", "-v"}));
    EXPECT_TRUE(b.quiet);
    EXPECT_FALSE(b.verbose);
    EXPECT_FALSE(b.method.has_value());

    EXPECT_EQ(Parse({"list", "x.lzh", "--help"}).command, Command::kHelp);
    EXPECT_EQ(Parse({"--version", "nonsense"}).command, Command::kVersion);
    EXPECT_EQ(Parse({"list", "--", "--help"}).files, std::vector<std::string>{"--help"});
    EXPECT_THROW(Parse({"compress", "--output", "a", "-o", "b", "x"}), UsageError);
    EXPECT_THROW(Parse({"compress", "--outputs=a", "x"}), UsageError);
    EXPECT_THROW(Parse({"compress", "-o", "", "x"}), UsageError);
}

TEST(CliArguments, EachFormatTakesItsOwnLevelAndSelfExtractor) {
    struct Case {
        std::vector<std::string_view> options;
        std::string error;  // empty: accepted
    };
    const std::vector<Case> cases = {
        {{"--format", "CAB", "--sfx"}, ""},
        {{"--format=gza", "--sfx", "--level", "9"}, ""},
        {{"--format", "bza", "--sfx", "--level=1"}, ""},
        {{"--format", "tar.bz2", "--level", "0"}, ""},
        {{"--format", "cab", "--level", "5"},
         "--level は zip, tgz, tar.gz, tar.bz2, gza, bza の書庫でだけ使えます (lzh では "
         "--method)。"},
        {{"--format", "tgz", "--sfx"}, ""},
        {{"--format", "tar.bz2", "--sfx"},
         "--sfx は lzh, zip, tar, tgz, tar.gz, cab, gza, bza の書庫でだけ使えます。"},
        {{"--format", "gza", "--method", "lh5"}, "--method は lzh の書庫でだけ使えます。"},
        {{"--format", "rar"},
         "--format には lzh, zip, tar, tgz, tar.gz, tar.bz2, cab, gza, bza "
         "のどれかを指定してください: "
         "rar"},
    };
    for (const Case& c : cases) {
        std::vector<std::string_view> words = {"compress", "-o", "out", "a.txt"};
        words.insert(words.end(), c.options.begin(), c.options.end());
        std::string error;
        try {
            Parse(words);
        } catch (const UsageError& refused) {
            error = refused.what();
        }
        EXPECT_EQ(error, c.error) << ::testing::PrintToString(c.options);
    }
    EXPECT_EQ(Parse({"compress", "-o", "out", "--format", "BZA", "a.txt"}).format, "bza");
}

class TerminalText : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr); }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(TerminalText, WidthCountsDoubleWidthCharactersAndEscapesControls) {
    EXPECT_EQ(DisplayWidth("abc"), 3u);
    EXPECT_EQ(DisplayWidth("日本語.txt"), 10u);
    EXPECT_EQ(FitToWidth("日本語.txt", 5), "日本");  // never half a character
    EXPECT_EQ(DisplayWidth("\xff\xfe"), 2u);         // bytes that are no character
    EXPECT_EQ(PadLeft("圧縮率", 8), "  圧縮率");
    EXPECT_EQ(EscapeControls("a\nb\x1b[2J\x7f"), "a\\x0Ab\\x1B[2J\\x7F");
    EXPECT_EQ(EscapeControls("ok a\nok b\r\n", true), "ok a\nok b\\x0D\n");
    EXPECT_EQ(FormatBytes(1023), "1023 B");
    EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
    EXPECT_EQ(FormatBytes(5u << 20), "5.0 MiB");
}

TEST_F(TerminalText, ProgressLineFitsTheTerminalWhateverTheName) {
    const std::string name = "とても長い日本語のファイル名がここに続きます\x1b.txt";
    for (std::size_t width : {10u, 40u, 60u, 80u, 200u}) {
        const std::string line = FormatProgressLine(3, 12, name, 512, 2048, width);
        EXPECT_LT(DisplayWidth(line), width) << line;
        EXPECT_EQ(line.find('\x1b'), std::string::npos);
    }
    EXPECT_EQ(FormatProgressLine(3, 12, "a.txt", 512, 2048, 80),
              "[3/12] [#####...............]  25% 512 B/2.0 KiB a.txt");
    // A file of no bytes is complete; a count beyond the size never overflows the bar.
    EXPECT_EQ(FormatProgressLine(1, 1, "e", 0, 0, 80),
              "[1/1] [####################] 100% 0 B/0 B e");
    EXPECT_EQ(FormatProgressLine(1, 1, "e", 9, 4, 80),
              "[1/1] [####################] 100% 4 B/4 B e");
}

TEST_F(TerminalText, ListingColumnsLineUp) {
    archives::TArchiveEntryInfo entry{};
    entry.originalSize = 108894;
    entry.compressedSize = 51747;
    std::strcpy(entry.record.method, "-lh7-");
    std::strcpy(entry.record.file_name, "sub/名前\n.txt");
    entry.lastWriteTime = 0;  // 1601: shown, not refused
    const std::string line = FormatEntryLine(entry);
    EXPECT_EQ(line.substr(0, 41), "      108894        51747  47.5% -lh7-   ");
    EXPECT_TRUE(line.ends_with(" sub/名前\\x0A.txt\n")) << line;
    // Every column of the heading ends where the rule's column ends.
    const std::string heading = ListingHeading();
    const std::string rule = ListingRule();
    EXPECT_EQ(DisplayWidth(heading.substr(0, heading.find("名前"))),
              DisplayWidth(rule.substr(0, rule.rfind(' ') + 1)));
    EXPECT_EQ(FormatTotalsLine(0, 0, 0).substr(0, 33), "           0            0      - ");
}

}  // namespace
}  // namespace zembrat::cli
