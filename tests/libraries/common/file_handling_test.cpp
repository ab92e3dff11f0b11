// The three pieces every library's file handling goes through: the source it packs, the
// member file it extracts and the archive file it writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "archiver_api.h"
#include "common/archive_output.h"
#include "common/failure.h"
#include "common/member_file.h"
#include "common/source_file.h"
#include "temp_folder.h"

namespace zembrat::common {
namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::span<const std::byte> Bytes(const std::string& text) {
    return std::as_bytes(std::span(text.data(), text.size()));
}

std::vector<std::string> Names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadAll(SourceFile& source) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const std::size_t got = source.Read(std::as_writable_bytes(std::span(buffer)));
        if (got == 0) {
            return text;
        }
        text.append(buffer, got);
    }
}

// The body's exit status in a forked child with writes limited to limit bytes per file, the
// way a full disk refuses them.
int WithFileSizeLimit(rlim_t limit, const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit cap{limit, limit};
        setrlimit(RLIMIT_FSIZE, &cap);
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(SourceFile, ReadsWhatStatCannotTellAndRefusesWhatIsNotAFile) {
    SourceFile status("/proc/self/status");
    EXPECT_GT(status.Size(), 0u);
    EXPECT_NE(ReadAll(status).find("Pid:"), std::string::npos);

    testing::TempFolder folder;
    ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
    try {
        SourceFile fifo(folder / "fifo");  // would block forever if opened to read
        FAIL() << "a FIFO was taken for a file";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.Code(), ARC_ERROR_NOT_REGULAR);
    }
    std::filesystem::create_symlink(folder / "fifo", folder / "link");
    EXPECT_THROW(SourceFile(folder / "link"), Failure);
}

TEST(SourceFile, AFileThatChangesWhileReadFails) {
    testing::TempFolder folder;
    const std::string path = folder.Write("grows.txt", std::string(10000, 'a'));
    struct Case {
        const char* what;
        std::function<void()> change;
    };
    const Case cases[] = {
        {"grown", [&] { std::ofstream(path, std::ios::app) << "more"; }},
        {"shrunk", [&] { std::filesystem::resize_file(path, 5000); }},
        {"rewritten", [&] { std::ofstream(path, std::ios::in | std::ios::out) << "b"; }},
    };
    for (const Case& change : cases) {
        folder.Write("grows.txt", std::string(10000, 'a'));
        SourceFile source(path);
        change.change();
        EXPECT_THROW(
            {
                ReadAll(source);
                source.RequireUnchanged();
            },
            Failure)
            << change.what;
    }
}

TEST(MemberFile, PlacesWithoutReplacingUnlessAskedAndNeverWithSetIdBits) {
    testing::TempFolder folder;
    const std::string path = folder / "member.txt";
    {
        MemberFile file(path, false);
        file.Write(Bytes("first"));
        // Another program makes the file meanwhile: it stays.
        folder.Write("member.txt", "theirs");
        EXPECT_EQ(file.Place(0644, std::nullopt), Placement::kKept);
    }
    EXPECT_EQ(Read(path), "theirs");
    {
        MemberFile file(path, true);
        file.Write(Bytes("second"));
        EXPECT_EQ(file.Place(06755, 1'000'000'000'000'000'000), Placement::kReplaced);
    }
    EXPECT_EQ(Read(path), "second");
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    EXPECT_EQ(info.st_mtime, 1'000'000'000);
    {
        MemberFile file(folder / "new.txt", false);
        EXPECT_EQ(file.Place(01777, std::nullopt), Placement::kNew);
    }
    ASSERT_EQ(stat((folder / "new.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07000, 0u);
    EXPECT_EQ(Names(folder.Path()),
              (std::vector<std::string>{"member.txt", "new.txt"}));  // no staging file left
}

TEST(ArchiveOutputAndMemberFile, AFullDiskFailsAndLeavesWhatWasThere) {
    testing::TempFolder folder;
    const std::string archive = folder.Write("old.zip", "the old archive");
    const std::string big(1 << 20, 'x');
    EXPECT_EQ(WithFileSizeLimit(64 << 10,
                                [&] {
                                    try {
                                        ArchiveOutput output(archive);
                                        output.Write(Bytes(big));
                                        output.Commit(0644);
                                        return 0;
                                    } catch (const Failure& failure) {
                                        return failure.Code() == ARC_ERROR_CANNOT_WRITE ? 1 : 2;
                                    }
                                }),
              1);
    EXPECT_EQ(WithFileSizeLimit(64 << 10,
                                [&] {
                                    try {
                                        MemberFile file(archive, true);
                                        file.Write(Bytes(big));
                                        file.Place(0644, std::nullopt);
                                        return 0;
                                    } catch (const Failure& failure) {
                                        return failure.Code() == ARC_ERROR_CANNOT_WRITE ? 1 : 2;
                                    }
                                }),
              1);
    EXPECT_EQ(Read(archive), "the old archive");
    EXPECT_EQ(Names(folder.Path()), std::vector<std::string>{"old.zip"});

    ArchiveOutput output(archive);
    output.Write(Bytes("new"));
    output.WriteAt(Bytes("N"), 0);
    output.Commit(ArchiveOutput::ModeFor(archive));
    EXPECT_EQ(Read(archive), "New");
}

}  // namespace
}  // namespace zembrat::common
