#include "common/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "common/switches.h"
#include "temp_folder.h"

namespace zembrat::common {
namespace {

using ::testing::ElementsAre;

std::vector<std::string> Texts(std::string_view line) {
    std::vector<std::string> texts;
    for (const Token& token : Tokenize(line)) {
        texts.push_back(token.text);
    }
    return texts;
}

TEST(Tokenize, TheUtilityPackLineWithDoubledAndTrailingBlanks) {
    EXPECT_THAT(
        Texts("u -+ -m2 -n1 -p1 -y1 -jse1 -jso1 -gw2  \"/out/file.lzh\" \"/dir/file.txt\" "),
        ElementsAre("u", "-+", "-m2", "-n1", "-p1", "-y1", "-jse1", "-jso1", "-gw2",
                    "/out/file.lzh", "/dir/file.txt"));
}

TEST(Tokenize, QuotesGroupBlanksAndAreRemovedWherever) {
    EXPECT_THAT(Texts("x \"/my docs/a b.lzh\" \"-w/tmp/x y/\" ab\"c d\"e"),
                ElementsAre("x", "/my docs/a b.lzh", "-w/tmp/x y/", "abc de"));
    const auto tokens = Tokenize("a \"\" b\t\tc");
    ASSERT_EQ(tokens.size(), 4u);
    EXPECT_EQ(tokens[1].text, "");
    EXPECT_TRUE(tokens[1].quoted);
    EXPECT_FALSE(tokens[2].quoted);
    EXPECT_THAT(Texts("   "), ElementsAre());
    // An unclosed quote runs to the end of the line.
    EXPECT_THAT(Texts("a \"b c"), ElementsAre("a", "b c"));
}

TEST(ListFile, QuotedNamesWithCrLfOrLfAndBlankLines) {
    EXPECT_THAT(ParseListFile("\"a b.txt\"\r\n\"dir/c.txt\"\n\r\n\"last\""),
                ElementsAre("a b.txt", "dir/c.txt", "last"));
    EXPECT_THAT(ParseListFile("plain name \n\n"), ElementsAre("plain name"));
    EXPECT_THAT(ParseListFile(""), ElementsAre());
    // A name holding quotes of its own: the line's first and last quote enclose it.
    EXPECT_THAT(ParseListFile("\"say \"hi\".txt\"\r\n\"x\" \"y\"\r\n"),
                ElementsAre("say \"hi\".txt", "x\" \"y"));
}

TEST(ListFile, ReadFromDiskOrNothingWhenMissing) {
    testing::TempFolder folder;
    const std::string path =
        folder.Write("list.txt", "\"\xE6\x97\xA5\xE6\x9C\xAC.txt\"\r\n\"x\"\r\n");
    const auto names = ReadListFile(path);
    ASSERT_TRUE(names);
    EXPECT_THAT(*names, ElementsAre("\xE6\x97\xA5\xE6\x9C\xAC.txt", "x"));
    EXPECT_FALSE(ReadListFile(folder.Folder() + "missing.txt"));
}

constexpr std::array kKnown = {
    SwitchSpec{"+", SwitchKind::kFlag},    SwitchSpec{"m", SwitchKind::kNumber},
    SwitchSpec{"jo", SwitchKind::kText},   SwitchSpec{"job", SwitchKind::kText},
    SwitchSpec{"js", SwitchKind::kNumber}, SwitchSpec{"jso", SwitchKind::kNumber},
    SwitchSpec{"jx", SwitchKind::kText},
};

TEST(Switches, LongestNameWhoseRemainderFits) {
    SwitchSet set(kKnown);
    EXPECT_FALSE(set.Parse("-+"));
    EXPECT_FALSE(set.Parse("-m2"));
    EXPECT_FALSE(set.Parse("-jso1"));
    EXPECT_FALSE(set.Parse("-js7"));
    EXPECT_FALSE(set.Parse("-jobxyz"));
    EXPECT_FALSE(set.Parse("-jo"));
    EXPECT_FALSE(set.Parse("-jx*.bak"));
    EXPECT_FALSE(set.Parse("-jx*.tmp"));
    EXPECT_EQ(set.Number("m", -1), 2);
    EXPECT_EQ(set.Number("jso", -1), 1);
    EXPECT_EQ(set.Number("js", -1), 7);
    EXPECT_TRUE(set.Has("+"));
    EXPECT_THAT(set.Texts("job"), ElementsAre("xyz"));
    EXPECT_THAT(set.Texts("jo"), ElementsAre(""));
    EXPECT_THAT(set.Texts("jx"), ElementsAre("*.bak", "*.tmp"));
    EXPECT_EQ(set.Number("absent", 42), 42);
}

TEST(Switches, NameAloneMeansOneAndLastValueWins) {
    SwitchSet set(kKnown);
    EXPECT_FALSE(set.Parse("-m"));
    EXPECT_EQ(set.Number("m", 0), 1);
    EXPECT_FALSE(set.Parse("-m0"));
    EXPECT_EQ(set.Number("m", 9), 0);
}

TEST(Switches, UnknownOrMalformedGiveTheirReason) {
    SwitchSet set(kKnown);
    const auto unknown = set.Parse("-q1");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(*unknown, "unknown switch: -q1");
    EXPECT_TRUE(set.Parse("-mx"));  // a number switch with letters after it
    EXPECT_TRUE(set.Parse("-+1"));  // a flag takes no value
    EXPECT_TRUE(set.Parse("-"));
    const auto control = set.Parse("-z\x1b[2J");
    ASSERT_TRUE(control);
    EXPECT_EQ(control->find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace zembrat::common
