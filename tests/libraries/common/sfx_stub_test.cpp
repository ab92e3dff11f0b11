#include "common/sfx_stub.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fixture_files.h"
#include "temp_folder.h"

namespace zembrat::common {
namespace {

// Every self-extracting program reads its command line the same way; only the overwrite
// switch differs.
TEST(StubArguments, ModeSwitchAndFolder) {
    struct Case {
        const char* name;
        const char* overwriteSwitch;
        std::vector<std::string> arguments;
        std::optional<int> status;  // set: the program ends with it
        char mode;
        bool overwrite;
        std::string folder;
    };
    const std::optional<int> go;
    const Case cases[] = {
        {"nothing given extracts here", "-f", {}, go, 'x', false, ""},
        {"list", "-f", {"-l"}, go, 'l', false, ""},
        {"test into a folder", "-f", {"-t", "out"}, go, 't', false, "out/"},
        {"the later mode wins", "-f", {"-l", "-t"}, go, 't', false, ""},
        {"a folder keeps its one slash", "-f", {"out/"}, go, 'x', false, "out/"},
        {"overwrite", "-f", {"-f", "dir"}, go, 'x', true, "dir/"},
        {"the library's own overwrite switch", "-o", {"-o"}, go, 'x', true, ""},
        {"another stub's switch is unknown", "-o", {"-f"}, 2, 'x', false, ""},
        {"unknown option", "-f", {"-x"}, 2, 'x', false, ""},
        {"help", "-f", {"--help"}, 0, 'x', false, ""},
        {"two folders", "-f", {"a", "b"}, 2, 'x', false, ""},
        // Would otherwise name the folder "/", the root.
        {"an empty folder name", "-f", {""}, 2, 'x', false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> storage = {"stub"};
        storage.insert(storage.end(), c.arguments.begin(), c.arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : storage) {
            argv.push_back(argument.data());
        }
        StubRequest request;
        const auto status = ParseStubArguments(static_cast<int>(argv.size()), argv.data(),
                                               {c.overwriteSwitch, "archive"}, request);
        EXPECT_EQ(status, c.status);
        if (!c.status) {
            EXPECT_EQ(request.mode, c.mode);
            EXPECT_EQ(request.overwrite, c.overwrite);
            EXPECT_EQ(request.folder, c.folder);
        }
    }
}

// What follows the image is the attached archive: the image's end is exactly where the
// program's own bytes stop, whatever is appended; a file that is no 64-bit ELF image has none.
TEST(StubImage, EndsWhereTheProgramStops) {
    testing::TempFolder scratch;
    const std::string program = testing::ReadFile(OwnExecutablePath());
    ASSERT_GT(program.size(), 64u);
    struct Case {
        const char* name;
        std::string content;
        std::uint64_t end;
    };
    const Case cases[] = {
        {"the program alone", program, program.size()},
        {"an archive appended", program + std::string(5000, 'z'), program.size()},
        {"not an image", "PK\x03\x04" + std::string(200, '\0'), 0},
        {"a header cut short", program.substr(0, 20), 0},
        {"empty", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = scratch.Write("file", c.content);
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(ElfImageEnd(fd), c.end);
        close(fd);
    }
}

}  // namespace
}  // namespace zembrat::common
