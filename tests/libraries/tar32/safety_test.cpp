// Crafted tar archives through libtar32.so: links and names that would lead outside, device
// files, hard links, the driver's switches, and the archive-type codes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "fixtures_dir.h"
#include "tar32_library.h"
#include "ustar.h"

namespace zembrat::tar32::testing {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

class Tar32SafetyTest : public ::testing::Test {
  protected:
    std::string WriteArchive(const std::vector<TarMember>& members) {
        std::ofstream(archive_, std::ios::binary) << Ustar(members);
        return archive_;
    }

    TempFolder scratch_;
    std::string archive_ = scratch_.Folder() + "t.tar";
    std::string destination_ = scratch_.Folder() + "out/";
};

TEST_F(Tar32SafetyTest, NothingLeadsOutsideTheDestination) {
    ASSERT_NE(Library().command, nullptr);
    scratch_.Write("out/victim", "before");
    struct Case {
        const char* what;
        std::vector<TarMember> members;
        int code;
    };
    const Case cases[] = {
        {"a name with ..", {{"../outside", '0', "x"}}, ARC_ERROR_UNSAFE_PATH},
        {"an absolute name", {{"/tmp/zembrat-tar-outside", '0', "x"}}, ARC_ERROR_UNSAFE_PATH},
        {"through an absolute symbolic link",
         {{"link", '2', scratch_.Folder()}, {"link/outside", '0', "x"}},
         ARC_ERROR_UNSAFE_PATH},
        {"through a symbolic link made here",
         {{"up", '2', "."}, {"up/outside", '0', "x"}},
         ARC_ERROR_UNSAFE_PATH},
        {"a symbolic link upwards", {{"up", '2', "../"}}, ARC_ERROR_UNSAFE_PATH},
        {"a hard link upwards", {{"hard", '1', "../outside"}}, ARC_ERROR_UNSAFE_PATH},
        {"a hard link to a file that was already there",
         {{"hard", '1', "victim"}},
         ARC_ERROR_UNSAFE_PATH},
        {"a FIFO and a device", {{"fifo", '6', ""}, {"tty", '3', ""}}, ARC_ERROR_NOT_REGULAR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteArchive(c.members);
        const auto result = Library().Run(ExtractLine(archive_, destination_));
        EXPECT_EQ(result.code, c.code) << result.text;
        EXPECT_FALSE(fs::exists(scratch_.Folder() + "outside"));
        EXPECT_FALSE(fs::exists(destination_ + "outside"));
        EXPECT_FALSE(fs::exists(destination_ + "fifo"));
        EXPECT_FALSE(fs::exists("/tmp/zembrat-tar-outside"));
        EXPECT_EQ(ReadFile(destination_ + "victim"), "before");
        fs::remove_all(destination_ + "link");
        fs::remove_all(destination_ + "up");
    }
}

TEST_F(Tar32SafetyTest, HardLinksShareTheFileAndLaterMembersReplaceEarlierOnes) {
    ASSERT_NE(Library().command, nullptr);
    WriteArchive({{"a", '0', "first"}, {"a", '0', "second"}, {"b", '1', "a"}});
    const auto result = Library().Run(ExtractLine(archive_, destination_));
    ASSERT_EQ(result.code, 0) << result.text;
    EXPECT_EQ(ReadFile(destination_ + "b"), "second");
    EXPECT_TRUE(fs::equivalent(destination_ + "a", destination_ + "b"));
    // An existing file is kept without -g and replaced with it.
    WriteArchive({{"a", '0', "third"}});
    EXPECT_EQ(Library().Run(ExtractLine(archive_, destination_)).code, ARC_WARNING_SKIPPED);
    EXPECT_EQ(ReadFile(destination_ + "a"), "second");
    EXPECT_EQ(Library().Run(ExtractLine(archive_, destination_, "-AH -g")).code, 0);
    EXPECT_EQ(ReadFile(destination_ + "a"), "third");
}

TEST_F(Tar32SafetyTest, TheDriversSwitches) {
    ASSERT_NE(Library().command, nullptr);
    WriteArchive({{"d/", '5', ""}, {"d/f.txt", '0', "text"}, {"d/g.bin", '0', "bin"}});
    // The whole line the driver writes, with the switches it may add.
    auto result = Library().Run("x -I --display-dialog=0 --check-all-path=0 --use-directory=0 -f " +
                                Quoted(archive_) + " -o " + Quoted(destination_) + " \"f.txt\" ");
    ASSERT_EQ(result.code, 0) << result.text;
    EXPECT_EQ(ReadFile(destination_ + "f.txt"), "text");
    EXPECT_FALSE(fs::exists(destination_ + "g.bin"));
    EXPECT_FALSE(fs::exists(destination_ + "d"));

    struct Refused {
        std::string line;
        const char* reason;
    };
    const Refused refused[] = {
        {"x -Q -f " + Quoted(archive_), "unknown switch -Q"},
        {"x -f", "needs a value"},
        {"q -f " + Quoted(archive_), "unknown command q"},
        {"x -z12 -f " + Quoted(archive_), "out of range"},
        {"x -o " + Quoted(destination_), "no archive"},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.line);
        result = Library().Run(r.line);
        EXPECT_EQ(result.code, ARC_ERROR_BAD_COMMAND);
        EXPECT_THAT(result.text, HasSubstr(r.reason));
    }
}

TEST_F(Tar32SafetyTest, ArchiveTypesAndLoneCompressedFiles) {
    ASSERT_NE(Library().command, nullptr);
    if (std::system("command -v gzip >/dev/null && command -v bzip2 >/dev/null") != 0) {
        GTEST_SKIP() << "gzip or bzip2 is not installed";
    }
    WriteArchive({{"f.txt", '0', "text"}});
    const std::string folder = scratch_.Folder();
    scratch_.Write("plain.txt", "just text, not an archive");
    scratch_.Write("note.txt", "a lone compressed file");
    ASSERT_EQ(
        std::system(("cd '" + folder + "' && gzip -c t.tar > t.tgz && bzip2 -c t.tar > t.tbz" +
                     " && gzip -c note.txt > renamed.gz && bzip2 -k note.txt")
                        .c_str()),
        0);
    struct Case {
        const char* file;
        int type;
    };
    const Case cases[] = {{"t.tar", 1},        {"t.tgz", 2},     {"renamed.gz", 3}, {"t.tbz", 6},
                          {"note.txt.bz2", 7}, {"plain.txt", 0}, {"missing.tar", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(Library().getArchiveType((folder + c.file).c_str()), c.type);
    }
    // The lone member is named from the gzip header, else from the file without ".bz2".
    for (const char* lone : {"renamed.gz", "note.txt.bz2"}) {
        SCOPED_TRACE(lone);
        EXPECT_THAT(Library().Names(folder + lone), ::testing::ElementsAre("note.txt"));
        fs::remove_all(destination_);
        ASSERT_EQ(Library().Run(ExtractLine(folder + lone, destination_)).code, 0);
        EXPECT_EQ(ReadFile(destination_ + "note.txt"), "a lone compressed file");
    }
    // A plain file is no archive of ours.
    EXPECT_EQ(Library().Run(ExtractLine(folder + "plain.txt", destination_)).code,
              ARC_ERROR_BROKEN_ARCHIVE);
}

// A tar is told by a header with a sound checksum, or by the zero blocks that end an empty one:
// data that merely starts with a zero block (a disk image), or a large file of zeros, is a
// lone file, or no archive when it is not compressed either.
TEST_F(Tar32SafetyTest, ZerosAloneNeverMakeATar) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    if (std::system("command -v gzip >/dev/null && command -v bzip2 >/dev/null") != 0) {
        GTEST_SKIP() << "gzip or bzip2 is not installed";
    }
    const std::string folder = scratch_.Folder();
    const std::string image = std::string(512, '\0') + "hi\n";
    scratch_.Write("image", image);
    ASSERT_EQ(std::system(("cd '" + folder + "' && gzip -nc image > image.gz && " +
                           "bzip2 -c image > image.bz2 && cp image image.tar && " +
                           "head -c 10240 /dev/zero | gzip > empty.tgz && " +
                           "head -c 2097152 /dev/zero | gzip > blank.gz && bzip2 -c '" + kFixtures +
                           "read_format_tar_empty_with_gnulabel.tar' > label.tbz")
                              .c_str()),
              0);
    struct Case {
        const char* file;
        int type;
        std::vector<std::string> names;
        std::string content;
    };
    const Case cases[] = {{"image.gz", 3, {"image"}, image},
                          {"image.bz2", 7, {"image"}, image},
                          {"blank.gz", 3, {"blank"}, std::string(2 << 20, '\0')},
                          {"empty.tgz", 2, {}, ""},
                          {"label.tbz", 6, {}, ""},
                          {"image.tar", 0, {}, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(Library().getArchiveType((folder + c.file).c_str()), c.type);
        EXPECT_EQ(Library().Names(folder + c.file), c.names);
        fs::remove_all(destination_);
        const auto result = Library().Run(ExtractLine(folder + c.file, destination_));
        EXPECT_EQ(result.code, c.type == 0 ? ARC_ERROR_BROKEN_ARCHIVE : 0) << result.text;
        if (!c.names.empty()) {
            EXPECT_TRUE(ReadFile(destination_ + c.names[0]) == c.content);
        }
    }
}

// A lone .gz lists the size its trailer tells when that is certain (one member) and its
// header's time; otherwise (several members, bzip2) the size is unknown: all ones.
TEST_F(Tar32SafetyTest, LoneFilesListTheSizeTheirWrapperTells) {
    if (std::system("command -v gzip >/dev/null && command -v bzip2 >/dev/null") != 0) {
        GTEST_SKIP() << "gzip or bzip2 is not installed";
    }
    const std::string folder = scratch_.Folder();
    scratch_.Write("seq.txt", std::string(100000, 's'));
    ASSERT_EQ(std::system(("cd '" + folder + "' && touch -d @1700000000 seq.txt && " +
                           "gzip -c seq.txt > one.gz && bzip2 -c seq.txt > one.bz2 && " +
                           "(gzip -c seq.txt; gzip -c seq.txt) > two.gz")
                              .c_str()),
              0);
    constexpr std::uint64_t kUnknown = ~std::uint64_t{0};
    const struct {
        const char* file;
        std::uint64_t size;
    } cases[] = {{"one.gz", 100000}, {"one.bz2", kUnknown}, {"two.gz", kUnknown}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const HARC handle = Library().openArchive(0, (folder + c.file).c_str(), 0);
        ASSERT_NE(handle, 0u);
        ARCHIVE_ENTRY_RECORD record{};
        ASSERT_EQ(Library().findFirst(handle, "*", &record), 0);
        std::uint64_t size = 0;
        std::uint64_t time = 0;
        EXPECT_TRUE(Library().getOriginalSize(handle, &size));
        EXPECT_EQ(size, c.size);
        EXPECT_EQ(record.original_size, static_cast<std::uint32_t>(c.size));
        if (std::string(c.file) == "one.gz") {
            EXPECT_TRUE(Library().getWriteTime(handle, &time));
            EXPECT_EQ(time, (1700000000ull + 11644473600ull) * 10000000ull);
        }
        Library().closeArchive(handle);
    }
}

// What the owner's progress procedure hears, and when it asks to stop.
struct HeardProgress {
    std::vector<std::string> reports;  // "STATE name written/size"
    unsigned stopAt = ~0u;             // the state whose report answers 1
};
HeardProgress heard;

int HearProgress(ARC_HWND, unsigned, unsigned state, LPEXTRACTINGINFOEX record) {
    heard.reports.push_back(std::to_string(state) + " " + record->source_file_name + " " +
                            std::to_string(record->write_size) + "/" +
                            std::to_string(record->file_size));
    return state == heard.stopAt ? 1 : 0;
}

// Each member's progress: BEGIN, an UPDATE every 64 KiB, END however it ends; an answer of 1
// stops the extraction and leaves no file of the member behind.
TEST_F(Tar32SafetyTest, ProgressReachesTheOwnerAndItsAnswerStops) {
    ASSERT_NE(Library().setOwnerWindow, nullptr);
    WriteArchive({{"big.bin", '0', std::string(200 * 1024, 'b')}, {"small.txt", '0', "s"}});
    const struct {
        unsigned stopAt;
        int code;
        std::vector<std::string> reports;
        std::vector<std::string> files;
    } cases[] = {
        {~0u,
         0,
         {"0 big.bin 0/204800", "1 big.bin 65536/204800", "1 big.bin 131072/204800",
          "1 big.bin 196608/204800", "2 big.bin 204800/204800", "0 small.txt 0/1",
          "2 small.txt 1/1"},
         {"big.bin", "small.txt"}},
        {ARC_PROGRESS_UPDATE,
         ARC_ERROR_ABORTED,
         {"0 big.bin 0/204800", "1 big.bin 65536/204800", "2 big.bin 65536/204800"},
         {}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.stopAt);
        heard = {{}, test.stopAt};
        fs::remove_all(destination_);
        ASSERT_NE(Library().setOwnerWindow(0, HearProgress), 0);
        const auto result = Library().Run(ExtractLine(archive_, destination_));
        Library().killOwnerWindow(0);
        EXPECT_EQ(result.code, test.code) << result.text;
        EXPECT_EQ(heard.reports, test.reports);
        EXPECT_EQ(::zembrat::testing::Tree(destination_), test.files);
    }
}

// Packing reports each file's bytes read the same way, and a stop leaves no archive.
TEST_F(Tar32SafetyTest, PackingReportsProgressAndItsAnswerStops) {
    ASSERT_NE(Library().setOwnerWindow, nullptr);
    scratch_.Write("src/big.bin", std::string(200 * 1024, 'b'));
    const std::string archive = scratch_.Folder() + "made.tgz";
    const std::string line =
        "c -z -f " + Quoted(archive) + " -o " + Quoted(scratch_.Folder() + "src/") + " big.bin";
    for (const unsigned stopAt : {~0u, unsigned{ARC_PROGRESS_UPDATE}}) {
        SCOPED_TRACE(stopAt);
        heard = {{}, stopAt};
        ASSERT_NE(Library().setOwnerWindow(0, HearProgress), 0);
        const auto result = Library().Run(line);
        Library().killOwnerWindow(0);
        if (stopAt == ~0u) {
            EXPECT_EQ(result.code, 0) << result.text;
            EXPECT_EQ(heard.reports,
                      (std::vector<std::string>{
                          "0 big.bin 0/204800", "1 big.bin 65536/204800", "1 big.bin 131072/204800",
                          "1 big.bin 196608/204800", "2 big.bin 204800/204800"}));
            EXPECT_TRUE(fs::exists(archive));
            fs::remove(archive);
        } else {
            EXPECT_EQ(result.code, ARC_ERROR_ABORTED) << result.text;
            EXPECT_FALSE(fs::exists(archive));
            EXPECT_EQ(::zembrat::testing::Tree(scratch_.Folder() + "src/"),
                      std::vector<std::string>{"big.bin"});
        }
    }
}

}  // namespace
}  // namespace zembrat::tar32::testing
