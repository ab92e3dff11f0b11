// The switch table and the layout of a command line, below the C entry.
#include "unlha32/request.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "archiver_api.h"

namespace zembrat::unlha32 {
namespace {

using ::testing::ElementsAre;

TEST(Request, EverySwitchTheDriverWritesIsAccepted) {
    const std::string line =
        "u -+ -a1 -c1 -e1 -f1 -h1 -i1 -l1 -m2 -n1 -o1 -p1 -r0 -s1 -t1 -u1 \"-w/tmp/\" -x1 -y1 -z1 "
        "-jc1 -jd1 -je1 -jf1 -jh1 -ji1 -jm5 -jn1 \"-jo\" \"-jobtext\" -jp1 -jr1 -jsb1 -jsc1 -jsd1 "
        "-jse1 -jsf1 -jsl1 -jso1 -jss1 -jst1 -jsv1 -jsz1 -jw1 \"-jx*.bak\" -jyc1 -jyd1 -jyk1 "
        "-jyn1 -jyo1 \"-jztext\" -ga1 -gd1 -ge1 -gf1 -gj1 -gm1 -gn1 -go1 -gp1 \"-grtext\" -gs1 "
        "-gu1 "
        "-gw2  \"/out/a.lzh\" \"/src/\" \"a.txt\" ";
    const Request request = ParseCommandLine(line, true);
    EXPECT_EQ(request.command, 'u');
    EXPECT_EQ(request.archive, "/out/a.lzh");
    EXPECT_EQ(request.folder, "/src/");
    EXPECT_THAT(request.names, ElementsAre("a.txt"));
    EXPECT_EQ(request.options.method, "-lh5-");
    EXPECT_EQ(request.options.headerLevel, 1);
    EXPECT_TRUE(request.options.overwrite);
    EXPECT_FALSE(request.options.recursive);
    EXPECT_THAT(request.options.excludes, ElementsAre("*.bak"));
}

TEST(Request, DefaultsAndTheNamesAfterTheArchive) {
    const Request request = ParseCommandLine("X \"a.lzh\" -notaswitch \"dir/\"", true);
    EXPECT_EQ(request.command, 'x');
    EXPECT_EQ(request.folder, "");
    EXPECT_THAT(request.names, ElementsAre("-notaswitch", "dir/"));
    EXPECT_EQ(request.options.method, "-lh7-");
    EXPECT_EQ(request.options.headerLevel, 2);
    EXPECT_FALSE(request.options.overwrite);
    EXPECT_EQ(request.options.pathMode, PathMode::kRelative);
}

TEST(Request, ExtractMemLinesCarryNoCommand) {
    const Request request = ParseCommandLine(" -+ -jso1  \"/a.lzh\" \"dir/b.txt\" ", false);
    EXPECT_EQ(request.command, 0);
    EXPECT_EQ(request.archive, "/a.lzh");
    EXPECT_THAT(request.names, ElementsAre("dir/b.txt"));
}

TEST(Request, DeleteTakesNoFolder) {
    const Request request = ParseCommandLine("d \"/a.lzh\" \"sub/\" \"x.txt\"", true);
    EXPECT_EQ(request.folder, "");
    EXPECT_THAT(request.names, ElementsAre("sub/", "x.txt"));
}

TEST(Request, MethodLevels) {
    EXPECT_EQ(MethodForLevel(0), "-lh0-");
    EXPECT_EQ(MethodForLevel(1), "-lh5-");
    EXPECT_EQ(MethodForLevel(5), "-lh5-");
    EXPECT_EQ(MethodForLevel(6), "-lh6-");
    EXPECT_EQ(MethodForLevel(7), "-lh7-");
    EXPECT_EQ(MethodForLevel(8), "-lh7-");
}

TEST(Request, MalformedLines) {
    for (const char* line : {"", "   ", "z a.lzh", "x", "x -m2", "x -mm a.lzh", "x -h3 a.lzh",
                             "x -jq1 a.lzh", "\"x\" a.lzh"}) {
        try {
            ParseCommandLine(line, true);
            ADD_FAILURE() << line;
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.Code(), ARC_ERROR_BAD_COMMAND) << line;
        }
    }
}

}  // namespace
}  // namespace zembrat::unlha32
