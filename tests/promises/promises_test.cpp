// The promises every kind keeps, whichever library writes or reads it: an archive is reported
// as made only when it is whole, an existing archive survives a failed run, a changing or
// made-up source is never stored cut, a file is replaced only when the user said so (also a
// file another run made meanwhile), no set-id bit comes out of an archive, a signal stops the
// run at once leaving nothing, and a name comes back exactly or is refused with a reason.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "cli_test_support.h"

namespace zembrat::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kCli = ZEMBRAT_CLI_PATH;
constexpr const char* kMade = "作成しました: ";

ProgramRun Cli(std::vector<std::string> arguments, const RunOptions& options = {}) {
    arguments.insert(arguments.begin(), kCli);
    return RunProgram(arguments, options);
}

// A kind zembrat-cli writes: its --format value, the archive's extension, whether --sfx makes
// a program of it, and whether a Linux name holding '\' can be stored as it is.
struct WriterKind {
    const char* format;
    const char* extension;
    bool sfx;
    bool storesBackslash;
};

const WriterKind kWriters[] = {
    {"lzh", ".lzh", true, true},       {"zip", ".zip", true, true},
    {"tar", ".tar", true, true},       {"tgz", ".tgz", true, true},
    {"tar.gz", ".tar.gz", true, true}, {"tar.bz2", ".tar.bz2", false, true},
    {"cab", ".cab", true, false},      {"gza", ".gza", true, false},
    {"bza", ".bza", true, false},
};

void PrintTo(const WriterKind& kind, std::ostream* out) {
    *out << kind.format;
}

std::string KindName(const ::testing::TestParamInfo<WriterKind>& info) {
    std::string name = info.param.format;
    std::replace(name.begin(), name.end(), '.', '_');
    return name;
}

class WriterPromises : public ::testing::TestWithParam<WriterKind> {
  protected:
    std::string In(const std::string& name) const { return work_ / ("in/" + name); }
    std::string Out(const std::string& name = "") const { return work_ / ("out/" + name); }
    // The archive made of the file named name (extension replaced, as the batch names it).
    std::string ArchiveOf(const std::string& folder, const std::string& name) const {
        return (fs::path(folder) / fs::path(name).stem()).string() + GetParam().extension;
    }
    ProgramRun Compress(const std::vector<std::string>& files, const std::string& folder,
                        std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {"compress", "--format", GetParam().format, "-o",
                                              folder};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.insert(arguments.end(), files.begin(), files.end());
        return Cli(arguments);
    }
    // Unpacks archive into a fresh folder and returns the content of member name there.
    std::string RoundTrip(const std::string& archive, const std::string& name) {
        const std::string back = work_ / "back";
        fs::remove_all(back);
        const ProgramRun run = Cli({"decompress", "-o", back, archive});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        return ReadFile(fs::path(back) / name);
    }

    TempFolder work_;
};

// A small file system that fills up: a real tmpfs where the test may mount one.
class SmallDisk {
  public:
    explicit SmallDisk(const fs::path& where, std::size_t bytes) : path_(where) {
        fs::create_directories(path_);
        const std::string options = "size=" + std::to_string(bytes);
        mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) {
            ::umount2(path_.c_str(), MNT_DETACH);
        }
    }
    bool Mounted() const { return mounted_; }
    // Takes all the room that is left.
    void Fill() const {
        std::ofstream filler(path_ / "filler", std::ios::binary);
        const std::string block(1 << 16, 'f');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
        }
    }

  private:
    fs::path path_;
    bool mounted_ = false;
};

TEST_P(WriterPromises, AFullDiskNeverGivesAnArchiveReportedAsMade) {
    SmallDisk disk(work_ / "full", 2 << 20);
    if (!disk.Mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    }
    WriteFile(In("r.bin"), SampleBinary(5 << 20, 1));  // does not fit
    WriteFile(In("見積書.txt"), SampleText(3000, 2));  // fits
    const std::string full = (work_ / "full");
    ProgramRun run = Compress({In("r.bin"), In("見積書.txt")}, full);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_EQ(run.out.find(std::string(kMade) + ArchiveOf(full, "r.bin")), std::string::npos)
        << run.out;
    EXPECT_FALSE(fs::exists(ArchiveOf(full, "r.bin")));
    EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
    const std::string good = ArchiveOf(full, "見積書.txt");
    ASSERT_TRUE(fs::exists(good)) << run.out << run.err;
    const std::string before = ReadFile(good);

    // Now nothing fits: the good archive survives --overwrite.
    disk.Fill();
    WriteFile(In("見積書.txt"), SampleBinary(64 << 10, 3));
    run = Compress({In("見積書.txt")}, full, {"--overwrite"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_EQ(ReadFile(good), before);
    for (const auto& name : FolderContents(full)) {
        EXPECT_EQ(name.find(".zembrat-"), std::string::npos) << name << " left behind";
    }
}

TEST_P(WriterPromises, AFullDiskWhileUnpackingLeavesNoPartialFile) {
    WriteFile(In("big.bin"), SampleBinary(3 << 20, 4));
    ASSERT_EQ(Compress({In("big.bin")}, Out()).status, 0);
    SmallDisk disk(work_ / "full", 1 << 20);
    if (!disk.Mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    }
    const ProgramRun run = Cli({"decompress", "-o", (work_ / "full"), ArchiveOf(Out(), "big.bin")});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find("No space left on device"), std::string::npos)
        << run.out << run.err;
    EXPECT_EQ(FolderContents(work_ / "full"), std::vector<std::string>{}) << run.out;
}

TEST_P(WriterPromises, MadeUpAndChangingSourcesAreNeverStoredCut) {
    const std::string version = ReadFile("/proc/version");
    ProgramRun run = Compress({"/proc/version"}, Out());
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(RoundTrip(ArchiveOf(Out(), "version"), "version"), version);

    // A file appended to all the while it is packed fails, and leaves no archive.
    const std::string growing = In("growing.log");
    WriteFile(growing, SampleText(24 << 20, 5));
    std::atomic<bool> done{false};
    std::thread appender([&] {
        std::ofstream log(growing, std::ios::app | std::ios::binary);
        while (!done) {
            log << "another line\n" << std::flush;
            std::this_thread::sleep_for(1ms);
        }
    });
    run = Compress({growing}, Out());
    done = true;
    appender.join();
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("changed while it was being read"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(ArchiveOf(Out(), "growing.log")));
}

TEST_P(WriterPromises, ASignalStopsTheRunAtOnceAndLeavesNothing) {
    WriteFile(In("large.txt"), SampleText(96 << 20, 6));
    for (const int signal : {SIGTERM, SIGINT}) {
        const auto started = std::chrono::steady_clock::now();
        const pid_t child = StartProgram(
            {kCli, "compress", "--format", GetParam().format, "-o", Out(), In("large.txt")},
            work_ / "stdout", work_ / "stderr");
        // Once the run has begun writing (its staging folder is there), well before the end.
        while (FolderContents(Out()).empty() && std::chrono::steady_clock::now() - started < 10s) {
            std::this_thread::sleep_for(1ms);
        }
        std::this_thread::sleep_for(30ms);
        ::kill(child, signal);
        const auto signalled = std::chrono::steady_clock::now();
        const int status = WaitForExit(child);
        const auto stopped = std::chrono::steady_clock::now();
        EXPECT_EQ(status, 128 + signal) << ReadFile(work_ / "stdout") << ReadFile(work_ / "stderr");
        EXPECT_LT(stopped - signalled, 3s) << "after " << (signalled - started) / 1ms << " ms";
        EXPECT_EQ(FolderContents(Out()), std::vector<std::string>{});
    }
}

TEST_P(WriterPromises, NamesComeBackExactlyOrAreRefusedWithTheirReason) {
    const std::string odd = "back\\slash 'q' [1] ~名前.txt";
    WriteFile(In(odd), "odd name\n");
    const ProgramRun run = Compress({In(odd)}, Out());
    if (GetParam().storesBackslash) {
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_EQ(RoundTrip(ArchiveOf(Out(), odd), odd), "odd name\n");
        EXPECT_EQ(FolderContents(work_ / "back"), std::vector<std::string>{odd});
    } else {
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_NE(run.err.find("\\"), std::string::npos) << run.err;
        EXPECT_EQ(FolderContents(Out()), std::vector<std::string>{});
    }
}

TEST_P(WriterPromises, SelfExtractingProgramsKeepThePromisesToo) {
    if (!GetParam().sfx) {
        GTEST_SKIP() << GetParam().format << " makes no self-extracting program";
    }
    WriteFile(In("data.txt"), SampleText(100000, 7));
    WriteFile(Out("data.exe"), "an older program");
    ProgramRun run = Compress({In("data.txt")}, Out(), {"--sfx"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadFile(Out("data.exe")), "an older program");  // kept without --overwrite
    run = Compress({In("data.txt")}, Out(), {"--sfx", "--overwrite"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const ProgramRun unpacked = RunProgram({Out("data.exe"), (work_ / "sfx")});
    EXPECT_EQ(unpacked.status, 0) << unpacked.out << unpacked.err;
    EXPECT_TRUE(ReadFile(work_ / "sfx/data.txt") == SampleText(100000, 7));
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, WriterPromises, ::testing::ValuesIn(kWriters), KindName);

// ---- What every reader promises, with archives our writers make of the same files ----

class ReaderPromises : public WriterPromises {
  protected:
    // An archive of one file named name holding content, with the given mode.
    std::string Made(const std::string& name, const std::string& content, unsigned mode = 0644) {
        const std::string source = work_ / ("src/" + name);
        WriteFile(source, content);
        fs::permissions(source, static_cast<fs::perms>(mode));
        const std::string folder = work_ / ("made-" + std::to_string(made_++));
        const ProgramRun run = Compress({source}, folder);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        return ArchiveOf(folder, name);
    }
    int made_ = 0;
};

TEST_P(ReaderPromises, ExistingFilesAreReplacedOnlyWhenAsked) {
    const std::string archive = Made("notes.txt", "from the archive\n");
    WriteFile(Out("notes.txt"), "mine\n");
    ProgramRun run = Cli({"decompress", "-o", Out(), archive});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadFile(Out("notes.txt")), "mine\n");
    EXPECT_NE(run.out.find("--overwrite"), std::string::npos) << run.out;
    run = Cli({"decompress", "--overwrite", "-o", Out(), archive});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadFile(Out("notes.txt")), "from the archive\n");
}

TEST_P(ReaderPromises, TwoRunsIntoOneFolderNeverBothPlaceAFile) {
    // Two archives of the same names, different data, unpacked at the same time: each file is
    // placed by one run and reported as kept by the other.
    std::vector<std::string> archives;
    for (int run = 0; run < 2; ++run) {
        const std::string folder = work_ / ("set" + std::to_string(run));
        std::vector<std::string> files;
        for (int i = 0; i < 40; ++i) {
            files.push_back(folder + "/f" + std::to_string(i) + ".txt");
            WriteFile(files.back(), SampleText(20000, static_cast<unsigned>(run * 100 + i)));
        }
        // One archive per file is how the batch works: unpack all of one set per run.
        ASSERT_EQ(Compress(files, folder + "/arc").status, 0);
        for (int i = 0; i < 40; ++i) {
            archives.push_back(ArchiveOf(folder + "/arc", "f" + std::to_string(i) + ".txt"));
        }
    }
    std::vector<std::string> first = {kCli, "decompress", "-o", Out()};
    std::vector<std::string> second = first;
    first.insert(first.end(), archives.begin(), archives.begin() + 40);
    second.insert(second.end(), archives.begin() + 40, archives.end());
    const pid_t a = StartProgram(first, work_ / "a.out", work_ / "a.err");
    const pid_t b = StartProgram(second, work_ / "b.out", work_ / "b.err");
    WaitForExit(a);
    WaitForExit(b);
    const std::string reports = ReadFile(work_ / "a.out") + ReadFile(work_ / "b.out");
    for (int i = 0; i < 40; ++i) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        const std::string content = ReadFile(Out(name));
        EXPECT_TRUE(content == SampleText(20000, static_cast<unsigned>(i)) ||
                    content == SampleText(20000, static_cast<unsigned>(100 + i)))
            << name << " is torn";
        std::size_t kept = 0;
        for (std::size_t at = reports.find("  " + name + ": kept"); at != std::string::npos;
             at = reports.find("  " + name + ": kept", at + 1)) {
            ++kept;
        }
        EXPECT_EQ(kept, 1u) << name << " was placed by both runs or by none:\n" << reports;
    }
}

TEST_P(ReaderPromises, NoSetIdOrStickyBitComesOutOfAnArchive) {
    const std::string archive = Made("tool", "#!/bin/sh\n", 06755);
    const ProgramRun run = Cli({"decompress", "-o", Out(), archive});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    struct stat info {};
    ASSERT_EQ(::stat(Out("tool").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07000, 0u) << std::oct << info.st_mode;
}

TEST_P(ReaderPromises, StagingFilesOfAKilledRunGoBeforeTheNextRunWrites) {
    const std::string archive = Made("notes.txt", "from the archive\n");
    const pid_t gone = fork();
    if (gone == 0) {
        _exit(0);
    }
    WaitForExit(gone);
    // A killed run's staging file goes; one of a live process, or one we did not make with
    // the staging mode, stays.
    const std::string stale = Out(".zembrat-" + std::to_string(gone) + "-1");
    const std::string live = Out(".zembrat-" + std::to_string(::getpid()) + "-1");
    const std::string notOurs = Out(".zembrat-" + std::to_string(gone) + "-2");
    for (const std::string& file : {stale, live, notOurs}) {
        WriteFile(file, "partial");
        fs::permissions(file, static_cast<fs::perms>(file == notOurs ? 0644 : 0600));
    }
    const ProgramRun run = Cli({"decompress", "-o", Out(), archive});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadFile(Out("notes.txt")), "from the archive\n");
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_TRUE(fs::exists(notOurs));
}

INSTANTIATE_TEST_SUITE_P(EveryReader, ReaderPromises, ::testing::ValuesIn(kWriters), KindName);

}  // namespace
}  // namespace zembrat::testing
