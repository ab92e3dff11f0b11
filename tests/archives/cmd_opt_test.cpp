#include "archives/cmd_opt.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <sstream>

#include "archives/archiver_errors.h"
#include "archives/archiver_types.h"
#include "component_test_support.h"

namespace zembrat::archives {
namespace {

using platform::PathSyntax;

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

TEST(CmdOpt, ItemsAreEachPrecededByOneBlank) {
    TCmdOpt builder;
    EXPECT_EQ(builder.Text, "");
    builder.Add("-x");
    builder.Add("");
    EXPECT_EQ(builder.Text, " -x ");
    builder.AddSwitch("r", false);
    builder.AddSwitch("r", true);
    builder.AddNumber("l", -1);
    builder.AddNumber("l", 0);
    EXPECT_EQ(builder.Text, " -x  -r -l0");
}

TEST(CmdOpt, QuotedValuesAndNoValue) {
    TCmdOpt inside;
    inside.AddQuoted("w", NoValue);
    EXPECT_EQ(inside.Text, "");
    inside.AddQuoted("w", "");
    inside.AddQuoted("", "");
    inside.AddQuoted("jo", "240101");
    EXPECT_EQ(inside.Text, R"( "-w" "" "-jo240101")");

    TCmdOpt outside;
    outside.QuoteSwitch = true;
    outside.AddQuoted("f", "a b");
    outside.AddQuoted(" --name", "v");
    outside.AddQuoted("", "plain");
    EXPECT_EQ(outside.Text, R"( -f "a b" --name "v" "plain")");
}

TEST(CmdOpt, FoldersEndInOneDelimiter) {
    TCmdOpt windows(PathSyntax::Windows());
    windows.AddFolder("", "C:\\OUT");
    windows.AddFolder("", "C:\\OUT\\");
    windows.AddFolder("", "");
    windows.AddFolder("", NoValue);
    // A Shift-JIS character whose second byte is 0x5C is no delimiter.
    windows.AddFolder("", "C:\\\x95\x5C");
    EXPECT_EQ(windows.Text, " \"C:\\OUT\\\" \"C:\\OUT\\\" \"C:\\\x95\x5C\\\"");

    TCmdOpt host;
    host.AddFolder("w", "/tmp");
    host.AddFolder("w", "/tmp/");
    EXPECT_EQ(host.Text, R"( "-w/tmp/" "-w/tmp/")");
}

TEST(CmdOpt, FileListsExpandEveryItemKindAndDropEmptyNames) {
    const StringList lines{"a", "", "b"};
    const char* names[] = {"c", "", "d", nullptr};
    Variant array;
    array.isArray = true;
    array.array = {std::string("e"), std::int64_t{7}, std::monostate{}};
    const std::array<FileItem, 6> items{
        FileItem(std::cref(lines)), FileItem("f"),   FileItem(CStringArray{names}),
        FileItem(CStringArray{}),   FileItem(array), FileItem(Variant{true, {}, false})};

    TCmdOpt builder;
    builder.FileNameHook = [](const std::string& name) { return name + "!"; };
    EXPECT_EQ(builder.AddFiles("", items), 8);
    EXPECT_EQ(builder.Text, R"( "a!" "b!" "f!" "c!" "d!" "e!" "7!" "True!")");
}

TEST(CmdOpt, ListFileHoldsQuotedCrLfLinesAndIsNamedWithAt) {
    testing::TempFolder folder;
    const std::string listFile = folder / "list.txt";
    const StringList names{"a", "b"};
    const std::array<FileItem, 1> items{FileItem(std::cref(names))};

    TCmdOpt builder;
    EXPECT_EQ(builder.WriteListFile(items, listFile), 2);
    EXPECT_EQ(ReadBytes(listFile), "\"a\"\r\n\"b\"\r\n");
    EXPECT_EQ(builder.Text, " \"@" + listFile + "\"");

    TCmdOpt empty;
    EXPECT_EQ(empty.WriteListFile({}, listFile), 0);
    EXPECT_EQ(ReadBytes(listFile), "");
}

TEST(CmdOpt, UnwritableListFileRaisesAndLeavesTextAlone) {
    const StringList names{"a"};
    const std::array<FileItem, 1> items{FileItem(std::cref(names))};
    TCmdOpt builder;
    builder.Add("-x");
    EXPECT_THROW(builder.WriteListFile(items, "/nonexistent-folder/list.txt"), EStreamError);
    EXPECT_EQ(builder.Text, " -x");
}

// A double quote or a line break in a name would split it into other names on the quoted
// line: such a name never reaches a library inline. A list file holds one name per line
// between the line's first and last quote, so only a line break is refused there.
TEST(CmdOpt, NamesTheQuotingCannotCarryAreRefused) {
    testing::TempFolder folder;
    for (const std::string bad : {"x\" \"y", "line\nbreak", "carriage\rreturn"}) {
        const StringList names{"good", bad};
        const std::array<FileItem, 1> items{FileItem(std::cref(names))};
        const bool lineBreak = bad.find_first_of("\r\n") != std::string::npos;

        TCmdOpt inline_;
        EXPECT_THROW(inline_.AddFiles("", items), EArchiver);
        EXPECT_EQ(inline_.Text, "") << "no name of a refused list is added";

        TCmdOpt listed;
        const std::string listFile = folder / "list.txt";
        if (lineBreak) {
            EXPECT_THROW(listed.WriteListFile(items, listFile), EArchiver);
            EXPECT_FALSE(std::filesystem::exists(listFile));
        } else {
            EXPECT_EQ(listed.WriteListFile(items, listFile), 2);
            EXPECT_EQ(ReadBytes(listFile), "\"good\"\r\n\"" + bad + "\"\r\n");
            std::filesystem::remove(listFile);
        }

        TCmdOpt folderItem;
        EXPECT_THROW(folderItem.AddFolder("", bad), EArchiver);
    }
    try {
        TCmdOpt builder;
        builder.AddValue("", "a\nb");
        FAIL();
    } catch (const EArchiver& error) {
        EXPECT_NE(std::string(error.what()).find("a\\nb"), std::string::npos)
            << "the message names the file with its line break shown escaped";
    }
}

}  // namespace
}  // namespace zembrat::archives
