// The self-extracting stub for tar and tar.gz: small, free of our libraries, and safe on
// crafted archives appended to it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tar32_library.h"
#include "ustar.h"

namespace zembrat::tar32::testing {
namespace {

namespace fs = std::filesystem;

class TarSfxTest : public ::testing::Test {
  protected:
    // Runs the stub with archive appended, in a folder of its own; its exit status.
    int Run(const std::string& archive, const std::string& arguments = "out") {
        const std::string program = scratch_ / "x.exe";
        fs::copy_file(ZEMBRAT_TARSFX_PATH, program, fs::copy_options::overwrite_existing);
        std::ofstream(program, std::ios::binary | std::ios::app) << archive;
        fs::remove_all(scratch_ / "work");
        fs::create_directories(scratch_ / "work/out");
        const int status = std::system(("cd '" + scratch_ / "work" + "' && '" + program + "' " +
                                        arguments + " >/dev/null 2>&1")
                                           .c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Out(const std::string& name) const { return scratch_ / ("work/out/" + name); }

    TempFolder scratch_;
};

TEST_F(TarSfxTest, SmallAndStandingAlone) {
#ifndef ZEMBRAT_SANITIZED
    EXPECT_LE(fs::file_size(ZEMBRAT_TARSFX_PATH), ZEMBRAT_TARSFX_SIZE_LIMIT);
    // Nothing but the C library: a self-extracting file is copied anywhere.
    const std::string libraries = scratch_ / "needed";
    ASSERT_EQ(std::system(("objdump -p '" + std::string(ZEMBRAT_TARSFX_PATH) +
                           "' | grep NEEDED > '" + libraries + "'")
                              .c_str()),
              0);
    std::ifstream in(libraries);
    for (std::string line; std::getline(in, line);) {
        EXPECT_TRUE(line.find("libc.so") != std::string::npos ||
                    line.find("ld-linux") != std::string::npos)
            << line;
    }
#endif
    EXPECT_NE(Run(""), 0);  // no archive attached
}

TEST_F(TarSfxTest, ExtractsPlainAndCompressedArchives) {
    const std::string tar = Ustar({{"dir/", '5', ""},
                                   {"dir/a.txt", '0', "alpha"},
                                   {"dir/hard", '1', "dir/a.txt"},
                                   {"dir/link", '2', "a.txt"}});
    // gzip members one after another read as one stream, as gzip readers take them.
    const std::string split = Gzip(tar.substr(0, 1024)) + Gzip(tar.substr(1024));
    for (const std::string& archive : {tar, Gzip(tar), split}) {
        ASSERT_EQ(Run(archive), 0);
        EXPECT_EQ(ReadFile(Out("dir/a.txt")), "alpha");
        EXPECT_TRUE(fs::equivalent(Out("dir/a.txt"), Out("dir/hard")));
        EXPECT_EQ(fs::read_symlink(Out("dir/link")), "a.txt");
        EXPECT_EQ(Run(archive, "-t"), 0);
    }
}

TEST_F(TarSfxTest, RefusesEveryWayOutAndDamage) {
    const TarMember good{"ok.txt", '0', "fine"};
    struct Case {
        const char* name;
        std::string archive;
        const char* absent;  // relative to the work folder: must not exist afterwards
    };
    std::string badChecksum = Ustar({good, {"bad.txt", '0', "x"}});
    badChecksum[1024] = 'c';  // the second header's name, after the first member's two blocks
    const std::string tar = Ustar({{"t.txt", '0', std::string(5000, 't')}});
    const std::string gz = Gzip(tar);
    const Case cases[] = {
        {"dot-dot", Ustar({{"../escaped.txt", '0', "x"}, good}), "escaped.txt"},
        {"absolute", Ustar({{"/tmp/zembrat-sfx-escaped", '0', "x"}, good}), nullptr},
        {"link out, then through it",
         Ustar({{"up", '2', ".."}, {"up/escaped.txt", '0', "x"}, good}), "escaped.txt"},
        {"hard link to a file outside", Ustar({{"h", '1', "../victim"}, good}), "out/h"},
        {"device", Ustar({{"dev", '3', ""}, good}), "out/dev"},
        {"fifo", Ustar({{"fifo", '6', ""}, good}), "out/fifo"},
        {"bad checksum", badChecksum, "out/bad.txt"},
        {"truncated data", tar.substr(0, 1024), "out/t.txt"},
        {"truncated gzip", gz.substr(0, gz.size() - 12), "out/t.txt"},
        // The check comes at the very end, after the members: the run fails all the same.
        {"gzip with a bad crc",
         gz.substr(0, gz.size() - 8) + std::string(4, '\x55') + gz.substr(gz.size() - 4), nullptr},
    };
    std::ofstream(scratch_ / "victim") << "secret";
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(Run(test.archive), 1);
        if (test.absent) {
            EXPECT_FALSE(
                fs::exists(fs::symlink_status(scratch_ / ("work/" + std::string(test.absent)))));
        }
        EXPECT_FALSE(fs::exists("/tmp/zembrat-sfx-escaped"));
        if (test.archive.find("ok.txt") != std::string::npos) {
            EXPECT_EQ(ReadFile(Out("ok.txt")), "fine");  // the sound members still come out
        }
    }
}

}  // namespace
}  // namespace zembrat::tar32::testing

namespace zembrat::tar32::testing {
namespace {

// A self-extracting file read through the library: the archive behind the stub is the
// archive; any other program is none.
TEST(TarSfxThroughLibrary, ReadsTheArchiveBehindTheStubOnly) {
    ASSERT_NE(Library().command, nullptr) << "libtar32.so did not load";
    const std::string tar = Ustar({{"dir/", '5', ""}, {"dir/a.txt", '0', "alpha"}});
    const std::string stub = ReadFile(ZEMBRAT_TARSFX_PATH);
    const std::string program = ReadFile("/bin/true");
    struct Case {
        const char* name;
        std::string file;
        int type;  // the archive type: 1 tar, 2 tar in gzip, 0 not an archive of ours
    };
    const Case cases[] = {
        {"tar behind the stub", stub + tar, 1},
        {"tar.gz behind the stub", stub + Gzip(tar), 2},
        {"a plain program", program, 0},
        {"a program with text behind it", program + std::string(2048, 'x'), 0},
        {"a program with zeros behind it", program + std::string(2048, '\0'), 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TempFolder scratch;
        const std::string path = scratch.Folder() + "f.exe";
        std::ofstream(path, std::ios::binary) << test.file;
        const std::string out = scratch.Folder() + "out/";
        EXPECT_EQ(Library().getArchiveType(path.c_str()), test.type);
        const bool taken = test.type != 0;
        EXPECT_EQ(Library().checkArchive(path.c_str(), ARC_CHECK_FULL) != 0, taken);
        EXPECT_EQ(Library().Run("t -f " + Quoted(path)).code == 0, taken);
        const auto listing = Library().Run("l -f " + Quoted(path));
        EXPECT_EQ(listing.code == 0, taken) << listing.text;
        EXPECT_EQ(Library().Names(path).size(), taken ? 2u : 0u);
        EXPECT_EQ(Library().Run(ExtractLine(path, out)).code == 0, taken);
        EXPECT_EQ(ReadFile(out + "dir/a.txt"), taken ? "alpha" : "");
        std::string memory(16, '\0');
        std::uint32_t written = 0;
        const int code = Library().extractMem(0, ("-f " + Quoted(path) + " dir/a.txt").c_str(),
                                              reinterpret_cast<unsigned char*>(memory.data()),
                                              static_cast<std::uint32_t>(memory.size()), nullptr,
                                              nullptr, &written);
        EXPECT_EQ(code == 0, taken);
        EXPECT_EQ(memory.substr(0, written), taken ? "alpha" : "");
    }
}

}  // namespace
}  // namespace zembrat::tar32::testing
