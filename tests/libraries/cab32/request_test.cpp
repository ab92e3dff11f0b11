// The command lines of libcab32.so as the CAB driver writes them, and the ones it refuses.
#include <gtest/gtest.h>

#include "archiver_api.h"
#include "cab32/request.h"
#include "common/failure.h"

namespace zembrat::cab32 {
namespace {

TEST(Cab32Request, TheDriversLinesParse) {
    const Request request = ParseLine(
        "-x -o -i -r \"-h/tmp/work\\\" -j -q -m0 \"/data/in.cab\" \"/out\\\" a\\b.txt c.txt",
        false);
    EXPECT_EQ(request.command, Command::kExtract);
    EXPECT_TRUE(request.overwrite && request.progress && request.recurse &&
                request.withoutFolders && request.quiet && request.stored);
    EXPECT_EQ(request.workFolder, "/tmp/work/");
    EXPECT_EQ(request.archive, "/data/in.cab");
    EXPECT_EQ(request.folder, "/out/");
    EXPECT_EQ(request.names, (std::vector<std::string>{"a/b.txt", "c.txt"}));

    const Request bare = ParseLine("-a \"x.cab\" ", false);
    EXPECT_EQ(bare.command, Command::kAdd);
    EXPECT_FALSE(bare.overwrite || bare.progress || bare.recurse || bare.quiet || bare.stored);
    EXPECT_TRUE(bare.folder.empty());

    const Request memory = ParseLine(" \"x.cab\" \"dir\\m.txt\"", true);
    EXPECT_EQ(memory.command, Command::kMemory);
    EXPECT_EQ(memory.names, std::vector<std::string>{"dir/m.txt"});
}

TEST(Cab32Request, UnknownCommandsAndSwitchesAreRefusedWithTheirReason) {
    const struct {
        const char* line;
        const char* reason;
    } cases[] = {
        {"-z \"a.cab\"", "unknown command"}, {"", "empty"},     {"-x -k \"a.cab\"", "-k"},
        {"-a -m7 \"a.cab\" x", "-m7"},       {"-x", "archive"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.line);
        try {
            ParseLine(test.line, false);
            ADD_FAILURE() << "accepted";
        } catch (const common::Failure& failure) {
            EXPECT_EQ(failure.Code(), ARC_ERROR_BAD_COMMAND);
            EXPECT_NE(std::string(failure.what()).find(test.reason), std::string::npos)
                << failure.what();
        }
    }
}

TEST(Cab32Request, SelfExtractingNamesKeepTheCallersCase) {
    const struct {
        const char* archive;
        const char* folder;
        const char* sfx;
    } cases[] = {
        {"/a/setup.cab", "", "/a/setup.exe"}, {"/a/SETUP.CAB", "", "/a/SETUP.EXE"},
        {"/a/Setup.Cab", "", "/a/Setup.exe"}, {"/a/pack", "", "/a/pack.exe"},
        {"/a.b/pack", "", "/a.b/pack.exe"},   {"/a/setup.cab", "/out/", "/out/setup.exe"},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(SfxName(test.archive, test.folder), test.sfx) << test.archive;
    }
}

TEST(Cab32Request, NamesSelectByPatternOrFolder) {
    Request request;
    request.names = {"*.txt", "sub"};
    EXPECT_TRUE(Selected("a.txt", request));
    EXPECT_TRUE(Selected("sub/deep/x.bin", request));
    EXPECT_FALSE(Selected("subway.bin", request));
    EXPECT_FALSE(Selected("a.bin", request));
    EXPECT_TRUE(Selected("anything", Request{}));
}

}  // namespace
}  // namespace zembrat::cab32
