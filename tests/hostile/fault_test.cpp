// Faults while the library works: an output folder it may not write, a full disk while
// packing and extracting, input files that vanish or change, the process killed in the
// middle of an update. The old archive survives intact, nothing half-written appears under
// a final name, and the failure is reported.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "unlha32_library.h"

namespace zembrat::hostile {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
// The loaded library, the temporary folder and the file helpers.
using namespace unlha32::testing;

// Runs the function in a forked child and returns its exit status (-signal when killed).
// The child holds the library the parent loaded; it leaves with _exit so that nothing of the
// parent's test state runs twice.
int InChild(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// The library's result squeezed into an exit status (its codes are 0x80xx).
int ExitCodeOf(int result) {
    return result == 0 ? 0 : (result & 0xFF) + 1;
}

bool HasTemporaries(const std::string& folder) {
    for (const auto& name : Tree(folder)) {
        if (name.find(".zembrat-") != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Whether the process has its new archive open in the folder: a temporary name, or a file
// with no name yet (shown by the kernel as "<folder>/#<inode> (deleted)").
bool IsWritingInto(pid_t process, const std::string& folder) {
    std::error_code error;
    for (const auto& fd :
         std::filesystem::directory_iterator("/proc/" + std::to_string(process) + "/fd", error)) {
        const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
        if (target.rfind(folder, 0) == 0 &&
            (target.find(".zembrat-") != std::string::npos || target.ends_with(" (deleted)"))) {
            return true;
        }
    }
    return false;
}

class FaultTest : public ::testing::Test {
  protected:
    void SetUp() override { REQUIRE_LIBRARY(); }

    std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

    // Runs an archiving command on a.lzh with the named files of in/.
    Unlha32Library::Result Pack(const std::string& command, const std::string& names) {
        return Library().Run(command + " " + Quoted(archive_) + " " +
                             Quoted(scratch_.Folder() + "in/") + " " + names);
    }

    TempFolder scratch_;
    const std::string archive_ = scratch_.Folder() + "a.lzh";
};

TEST_F(FaultTest, OutputFolderNotWritable) {
    scratch_.Write("in/a.txt", Text(5000));
    ASSERT_EQ(Pack("a", "a.txt").code, 0);
    const std::string locked = scratch_.Folder() + "locked/";
    std::filesystem::create_directories(locked);
    ::chmod(scratch_.Folder().c_str(), 0755);
    ::chmod(locked.c_str(), 0555);
    ::chmod(archive_.c_str(), 0644);
    // Root writes anywhere: the attempts run as nobody.
    const auto asNobody = [](const std::function<int()>& body) {
        return InChild([&] {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
                return 100;
            }
            return body();
        });
    };
    EXPECT_EQ(
        asNobody([&] {
            return ExitCodeOf(Library().Run("x " + Quoted(archive_) + " " + Quoted(locked)).code);
        }),
        ExitCodeOf(ARC_ERROR_CANNOT_WRITE));
    EXPECT_TRUE(Tree(locked).empty());
    // Packing into a folder that may not be written: the archive is not made.
    EXPECT_EQ(asNobody([&] {
                  return ExitCodeOf(Library()
                                        .Run("a " + Quoted(locked + "new.lzh") + " " +
                                             Quoted(scratch_.Folder() + "in/a.txt"))
                                        .code);
              }),
              ExitCodeOf(ARC_ERROR_CANNOT_WRITE));
    EXPECT_TRUE(Tree(locked).empty());
}

TEST_F(FaultTest, DiskFullWhilePackingLeavesTheOldArchive) {
    scratch_.Write("in/small.txt", "small");
    ASSERT_EQ(Library()
                  .Run("a " + Quoted(archive_) + " " + Quoted(scratch_.Folder() + "in/small.txt"))
                  .code,
              0);
    const std::string before = ReadFile(archive_);
    scratch_.Write("in/big.bin", RandomBytes(2 << 20, 7));  // does not compress
    const int status = InChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
        const rlimit limit{512 << 10, 512 << 10};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return ExitCodeOf(
            Library()
                .Run("a " + Quoted(archive_) + " " + Quoted(scratch_.Folder() + "in/big.bin"))
                .code);
    });
    EXPECT_EQ(status, ExitCodeOf(ARC_ERROR_CANNOT_WRITE));
    EXPECT_EQ(ReadFile(archive_), before);
    EXPECT_FALSE(HasTemporaries(scratch_.Folder()));
}

TEST_F(FaultTest, DiskFullWhileExtractingLeavesNoPartialFile) {
    scratch_.Write("in/first.txt", "first");
    scratch_.Write("in/big.bin", RandomBytes(2 << 20, 9));
    scratch_.Write("in/last.txt", "last");
    ASSERT_EQ(Pack("a -jm0", "first.txt big.bin last.txt").code, 0);
    const std::string out = scratch_.Folder() + "out/";
    const int status = InChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{512 << 10, 512 << 10};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return ExitCodeOf(Library().Run("x " + Quoted(archive_) + " " + Quoted(out)).code);
    });
    EXPECT_EQ(status, ExitCodeOf(ARC_ERROR_CANNOT_WRITE));
    EXPECT_EQ(ReadFile(out + "first.txt"), "first");
    EXPECT_EQ(ReadFile(out + "last.txt"), "last");  // the batch of members goes on
    EXPECT_FALSE(std::filesystem::exists(out + "big.bin"));
    EXPECT_FALSE(HasTemporaries(out));
}

// The progress procedure runs on the library's thread, between reads: the test changes the
// file being packed at that moment.
std::function<void(const EXTRACTINGINFOEX&, unsigned)> g_onProgress;

int ProgressProcedure(ARC_HWND, unsigned, unsigned state, LPEXTRACTINGINFOEX record) {
    if (g_onProgress && record != nullptr) {
        g_onProgress(*record, state);
    }
    return 0;
}

// A file that vanishes before its turn, or grows, shrinks or is rewritten while it is being
// read, fails the command with its reason: an old archive stays as it was, and a new one is
// not made.
TEST_F(FaultTest, InputChangedOrRemovedDuringPacking) {
    const std::string in = scratch_.Folder() + "in/";
    constexpr ARC_HWND kWindow = 0x5151;
    struct Change {
        const char* file;
        const char* during;  // the file being packed when the change happens
        unsigned state;
        std::function<void()> act;
        const char* reason;
    };
    const char* const changed = "file changed while it was being read";
    const std::vector<Change> changes = {
        {"vanishes.txt", "a.txt", ARC_PROGRESS_BEGIN,
         [&] { std::filesystem::remove(in + "vanishes.txt"); }, "No such file"},
        {"shrinks.txt", "shrinks.txt", ARC_PROGRESS_UPDATE,
         [&] { std::filesystem::resize_file(in + "shrinks.txt", 1000); }, changed},
        {"grows.txt", "grows.txt", ARC_PROGRESS_UPDATE,
         [&] { std::ofstream(in + "grows.txt", std::ios::app) << Text(100000); }, changed},
        {"rewritten.txt", "rewritten.txt", ARC_PROGRESS_UPDATE,
         [&] {
             std::fstream file(in + "rewritten.txt", std::ios::in | std::ios::out);
             file.seekp(500000);
             file << "torn";
         },
         changed},
    };
    for (const Change& change : changes) {
        for (const bool oldArchive : {true, false}) {
            SCOPED_TRACE(std::string(change.file) + (oldArchive ? " into an old archive" : ""));
            std::filesystem::remove_all(in);
            std::filesystem::remove(archive_);
            scratch_.Write("in/old.txt", "old");
            if (oldArchive) {
                ASSERT_EQ(Pack("a", "old.txt").code, 0);
            }
            const std::string before = ReadFile(archive_);
            scratch_.Write("in/a.txt", Text(300000));
            const std::string path =
                scratch_.Write(std::string("in/") + change.file, RandomBytes(600000, 3));
            // An old time, so that a rewrite within the same clock tick still shows.
            const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
            ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), past, 0), 0);
            bool done = false;
            g_onProgress = [&](const EXTRACTINGINFOEX& record, unsigned state) {
                if (!done && state == change.state &&
                    std::string(record.source_file_name).ends_with(change.during)) {
                    change.act();
                    done = true;
                }
            };
            Library().setOwnerWindow(kWindow, &ProgressProcedure);
            const auto result = Pack("a", std::string("a.txt ") + change.file);
            Library().killOwnerWindow(kWindow);
            g_onProgress = nullptr;
            EXPECT_TRUE(done);
            EXPECT_NE(result.code, 0) << result.text;
            EXPECT_THAT(result.text, HasSubstr(change.file));
            EXPECT_THAT(result.text, HasSubstr(change.reason));
            EXPECT_EQ(std::filesystem::exists(archive_), oldArchive);
            EXPECT_EQ(ReadFile(archive_), before);
            EXPECT_FALSE(HasTemporaries(scratch_.Folder()));
        }
    }
}

TEST_F(FaultTest, KilledDuringAnUpdateLeavesTheOldArchiveAndNoTemporary) {
    scratch_.Write("in/old.txt", Text(10000));
    ASSERT_EQ(Pack("a", "old.txt").code, 0);
    const std::string before = ReadFile(archive_);
    scratch_.Write("in/big.bin", RandomBytes(48 << 20, 11));
    const pid_t child = ::fork();
    if (child == 0) {
        Pack("u -jm7", "big.bin");
        ::_exit(0);
    }
    // Kill it once it is writing its new archive.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!IsWritingInto(child, scratch_.Folder()) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the update finished before it could be killed";
    EXPECT_EQ(ReadFile(archive_), before);
    EXPECT_EQ(Library().Run("t " + Quoted(archive_)).code, 0);
    // The new archive had no name yet: nothing is left behind.
    EXPECT_FALSE(HasTemporaries(scratch_.Folder()));
    EXPECT_EQ(Pack("u", "old.txt").code, 0);
    EXPECT_EQ(ReadFile(archive_), before);
}

}  // namespace
}  // namespace zembrat::hostile
