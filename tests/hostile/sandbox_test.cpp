// The helper's lock, put on in a forked child as the helper puts it on: every way out of the
// process fails there (an error, or the process ended by SIGSYS), while the descriptors it
// already holds still read and write; and the real helper, while it parses, shows the lock
// in /proc; a helper without part of its lock reads on and says so.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "archive_host/client.h"
#include "archive_host/sandbox.h"
#include "temp_folder.h"

namespace zembrat::archive_host {
namespace {

constexpr int kSucceeded = 10;
constexpr int kFailed = 11;

// What the body returned in a locked child, or 128 + the signal that ended it.
int Locked(const std::function<bool()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        if (!LockDown().seccomp) {
            _exit(2);
        }
        _exit(body() ? kSucceeded : kFailed);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Sandbox, EveryWayOutFailsAndTheHeldDescriptorsStillWork) {
    testing::TempFolder folder;
    const std::string file = folder.Write("secret.txt", "secret");
    const std::string other = folder / "other";
    struct Case {
        const char* what;
        std::function<bool()> attempt;  // true when the call did what it asks
    };
    const Case cases[] = {
        {"open", [&] { return open(file.c_str(), O_RDONLY) >= 0; }},
        {"openat", [&] { return openat(AT_FDCWD, file.c_str(), O_RDONLY) >= 0; }},
        {"open to write", [&] { return open(other.c_str(), O_WRONLY | O_CREAT, 0600) >= 0; }},
        {"socket", [] { return socket(AF_INET, SOCK_STREAM, 0) >= 0; }},
        {"connect",
         [] {
             const sockaddr address{AF_UNIX, {}};
             return connect(0, &address, sizeof address) == 0;
         }},
        {"execve",
         [] {
             char* const argv[] = {const_cast<char*>("/bin/true"), nullptr};
             return execve("/bin/true", argv, nullptr) == 0;
         }},
        {"fork", [] { return fork() >= 0; }},
        {"unlink", [&] { return unlink(file.c_str()) == 0; }},
        {"rename", [&] { return rename(file.c_str(), other.c_str()) == 0; }},
        {"symlink", [&] { return symlink(file.c_str(), other.c_str()) == 0; }},
        {"mkdir", [&] { return mkdir(other.c_str(), 0700) == 0; }},
        {"chmod", [&] { return chmod(file.c_str(), 0777) == 0; }},
    };
    for (const Case& attempt : cases) {
        const int result = Locked(attempt.attempt);
        EXPECT_TRUE(result == kFailed || result == 128 + SIGSYS)
            << attempt.what << " was let through (" << result << ")";
    }
    std::ifstream left(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(left), {}), "secret");

    // The descriptors held before the lock: a file read and read at an offset, a pipe written.
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const int held = open(file.c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    EXPECT_EQ(Locked([&] {
                  char buffer[6];
                  return read(held, buffer, 6) == 6 && pread(held, buffer, 3, 3) == 3 &&
                         lseek(held, 0, SEEK_SET) == 0 && write(pipe[1], "ok", 2) == 2;
              }),
              kSucceeded);
    char written[2];
    EXPECT_EQ(read(pipe[0], written, 2), 2);
    close(held);
    close(pipe[0]);
    close(pipe[1]);
}

TEST(Sandbox, TheLockShowsInProc) {
    int toParent[2], toChild[2];
    ASSERT_EQ(pipe(toParent), 0);
    ASSERT_EQ(pipe(toChild), 0);
    int ends[2] = {toChild[0], toParent[1]};
    std::string status;
    const pid_t child = fork();
    if (child == 0) {
        const SandboxState state = LockDown();
        const char ready = state.seccomp ? 'r' : 'x';
        if (write(ends[1], &ready, 1) != 1) {
            _exit(3);
        }
        char go;
        _exit(read(ends[0], &go, 1) == 1 ? 0 : 3);
    }
    char ready = 0;
    ASSERT_EQ(read(toParent[0], &ready, 1), 1);
    ASSERT_EQ(ready, 'r');
    std::ifstream proc("/proc/" + std::to_string(child) + "/status");
    status.assign(std::istreambuf_iterator<char>(proc), {});
    ASSERT_EQ(write(toChild[1], "g", 1), 1);
    int exitStatus = 0;
    waitpid(child, &exitStatus, 0);
    EXPECT_NE(status.find("NoNewPrivs:\t1"), std::string::npos) << status;
    EXPECT_NE(status.find("Seccomp:\t2"), std::string::npos) << status;
}

// A kernel without Landlock, played by a filter on the test's child that the helper inherits:
// the helper still reads the archive, and the library is told once why it is less locked.
TEST(Sandbox, AHelperWithoutPartOfItsLockReadsOnAndSaysSo) {
    testing::TempFolder scratch;
    scratch.Write("a.txt", "alpha");
    const std::string archive = scratch.Folder() + "a.tar";
    ASSERT_EQ(
        std::system(("tar -cf '" + archive + "' -C '" + scratch.Folder() + "' a.txt").c_str()), 0);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const pid_t child = fork();
    if (child == 0) {
        scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
        if (filter == nullptr ||
            seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SYS_landlock_create_ruleset, 0) != 0 ||
            seccomp_load(filter) != 0) {
            _exit(2);
        }
        std::string heard;
        HostOptions options;
        options.helperPath = ZEMBRAT_ARCHIVE_HOST_PATH;
        options.note = [&heard](const std::string& text) { heard += text + "\n"; };
        int members = 0;
        try {
            ArchiveHost host(archive, "tar", options);
            while (host.Next()) {
                ++members;
            }
        } catch (const std::exception& error) {
            heard += error.what();
        }
        heard += "members: " + std::to_string(members);
        _exit(write(ends[1], heard.data(), heard.size()) == static_cast<ssize_t>(heard.size()) ? 0
                                                                                               : 3);
    }
    ::close(ends[1]);
    std::string heard;
    char piece[256];
    for (ssize_t got; (got = read(ends[0], piece, sizeof piece)) > 0;) {
        heard.append(piece, static_cast<std::size_t>(got));
    }
    ::close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(heard.find("members: 1"), std::string::npos) << heard;
    EXPECT_NE(heard.find("without part of its sandbox (Landlock: Function not implemented)\n"),
              std::string::npos)
        << heard;
    EXPECT_EQ(heard.find("sandbox"), heard.rfind("sandbox")) << "said more than once: " << heard;
}

}  // namespace
}  // namespace zembrat::archive_host
