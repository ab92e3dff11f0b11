// What libtar32.so writes and reads from disk when the disk misbehaves: a full disk fails the
// archive and keeps the old one, for every compressor; staging files a killed run of ours left
// are removed, those of a live run are not. (/proc files and changing sources: the promises
// suite, end to end.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <random>

#include "tar32_library.h"

namespace zembrat::tar32::testing {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

std::string Noise(std::size_t size) {
    std::mt19937 random(5);
    std::string data(size, '\0');
    for (char& c : data) {
        c = static_cast<char>(random());
    }
    return data;
}

// Runs line in a child whose files may grow to limit bytes (a full disk where a tmpfs cannot
// be mounted); the child's result code, or -1.
int RunWithFileLimit(const std::string& line, rlim_t limit) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit files{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &files);
        ::_exit(Library().Run(line).code == ARC_ERROR_CANNOT_WRITE ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ARC_ERROR_CANNOT_WRITE : -1;
}

TEST(Tar32Output, AFullDiskFailsTheArchiveAndKeepsTheOldOne) {
    ASSERT_NE(Library().command, nullptr);
    TempFolder scratch;
    scratch.Write("src/big.bin", Noise(3 << 20));
    const std::string disk = scratch.Folder() + "disk/";
    fs::create_directories(disk);
    const bool mounted = ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") == 0;
    for (const char* compression : {"", "-z", "-z1", "-B"}) {
        SCOPED_TRACE(compression);
        const std::string archive = disk + "a.tar";
        scratch.Write("disk/a.tar", "the good archive");
        const std::string line = std::string("c ") + compression + " -f " + Quoted(archive) +
                                 " -o " + Quoted(scratch.Folder() + "src/") + " big.bin";
        if (mounted) {
            const auto result = Library().Run(line);
            EXPECT_EQ(result.code, ARC_ERROR_CANNOT_WRITE) << result.text;
            EXPECT_THAT(result.text, HasSubstr("No space left on device"));
        } else {
            EXPECT_EQ(RunWithFileLimit(line, 1 << 20), ARC_ERROR_CANNOT_WRITE);
        }
        EXPECT_EQ(ReadFile(archive), "the good archive");
        EXPECT_EQ(::zembrat::testing::Tree(disk), std::vector<std::string>{"a.tar"});
    }
    if (mounted) {
        ::umount2(disk.c_str(), MNT_DETACH);
    } else {
        std::cout << "[ NOTE ] no tmpfs could be mounted here; a file size limit stood in\n";
    }
}

TEST(Tar32Output, StagingFilesOfKilledRunsGoThoseOfLiveRunsStay) {
    TempFolder scratch;
    scratch.Write("src/f.txt", "data");
    const std::string archive = scratch.Folder() + "a.tar";
    ASSERT_EQ(
        Library()
            .Run("c -f " + Quoted(archive) + " -o " + Quoted(scratch.Folder() + "src/") + " f.txt")
            .code,
        0);
    const pid_t dead = ::fork();
    if (dead == 0) {
        ::_exit(0);
    }
    ::waitpid(dead, nullptr, 0);
    const std::string out = scratch.Folder() + "out/";
    const std::string left = ".zembrat-" + std::to_string(dead) + "-0";
    const std::string live = ".zembrat-" + std::to_string(::getppid()) + "-0";
    const std::string notOurs = ".zembrat-" + std::to_string(dead) + "-notes";
    for (const std::string& name : {left, live, notOurs}) {
        scratch.Write("out/" + name, "half");
        fs::permissions(out + name, fs::perms::owner_read | fs::perms::owner_write);
    }
    ASSERT_EQ(Library().Run(ExtractLine(archive, out)).code, 0);
    std::vector<std::string> kept = {live, notOurs, "f.txt"};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(::zembrat::testing::Tree(out), kept);
}

}  // namespace
}  // namespace zembrat::tar32::testing
