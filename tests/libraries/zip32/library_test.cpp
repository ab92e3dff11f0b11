// The three ZIP libraries through their C entries: round trips, kept files, changes to an
// existing archive, salvage, names with the driver's escapes, unsafe members, switches.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "zip/zip.h"
#include "zip32_library.h"

namespace zembrat::zip32::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

#define REQUIRE_LIBRARIES()                                                 \
    if (!Unzip32().Loaded() || !Zip32j().Loaded() || !Lmzip32().Loaded()) { \
        GTEST_FAIL() << "the ZIP libraries did not load";                   \
    }

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator() % 7);  // compressible, but not trivially
    }
    return bytes;
}

class ZipLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_LIBRARIES();
        scratch_.Write("src/文書/報告書.txt", "報告の本文\n");
        scratch_.Write("src/empty.txt", "");
        scratch_.Write("src/folder/sub/deep.bin", RandomBytes(200000, 1));
        std::filesystem::create_directories(scratch_ / "src/folder/空");
    }

    // Packs the sample tree through zip32j.
    void PackSample() {
        const auto packed = Zip32j().Zip(" -r " + Quoted(archive_) + " " + Quoted(source_) +
                                         " \"文書\" \"empty.txt\" \"folder\"");
        ASSERT_EQ(packed.code, 0) << packed.text;
    }

    TempFolder scratch_;
    std::string source_ = scratch_.Folder() + "src/";
    std::string archive_ = scratch_.Folder() + "t.zip";
    std::string destination_ = scratch_.Folder() + "out/";
};

const std::vector<std::string> kSampleTree = {"empty.txt",           "folder/",    "folder/sub/",
                                              "folder/sub/deep.bin", "folder/空/", "文書/",
                                              "文書/報告書.txt"};

struct RoundTrip {
    const char* name;
    const ZipLibrary& (*packer)();
    std::string packSwitches;  // the LMZIP line names no folder: names are given in full
    bool baseFolder;
    const ZipLibrary& (*reader)();
};

TEST_F(ZipLibraryTest, RoundTripThroughEachLibrary) {
    const RoundTrip cases[] = {
        {"zip32j packs, unzip32 reads", Zip32j, " -r", true, Unzip32},
        {"lmzip32 alone", Lmzip32, "-ru -o", false, Lmzip32},
    };
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(archive_);
        std::filesystem::remove_all(destination_);
        const std::string names =
            c.baseFolder ? Quoted(source_) + " \"文書\" \"empty.txt\" \"folder\""
                         : Quoted(source_ + "文書") + " " + Quoted(source_ + "empty.txt") + " " +
                               Quoted(source_ + "folder");
        const auto packed = c.packer().Zip(c.packSwitches + " " + Quoted(archive_) + " " + names);
        ASSERT_EQ(packed.code, 0) << packed.text;
        EXPECT_THAT(packed.text, HasSubstr("added 文書/報告書.txt\n"));

        // Listing through the packer's own entries: folders end in '/'.
        EXPECT_THAT(c.packer().Names(archive_),
                    UnorderedElementsAre("文書/", "文書/報告書.txt", "empty.txt", "folder/",
                                         "folder/sub/", "folder/sub/deep.bin", "folder/空/"));
        EXPECT_THAT(c.packer().Names(archive_, "*.txt"),
                    UnorderedElementsAre("文書/報告書.txt", "empty.txt"));
        EXPECT_NE(c.packer().checkArchive(archive_.c_str(), ARC_CHECK_FULL), 0);
        // The lower-case "UnzipGetWriteTimeEx": the file's time, in 100 ns since 1601.
        const HARC handle = c.packer().openArchive(0, archive_.c_str(), 0);
        ARCHIVE_ENTRY_RECORD record{};
        std::uint64_t written = 0;
        ASSERT_EQ(c.packer().findFirst(handle, "empty.txt", &record), 0);
        ASSERT_NE(c.packer().getWriteTime(handle, &written), 0);
        struct stat info {};
        stat((source_ + "empty.txt").c_str(), &info);
        EXPECT_EQ(written, (static_cast<std::uint64_t>(info.st_mtime) + 11644473600ull) * 10000000);
        c.packer().closeArchive(handle);

        const auto extracted =
            c.reader().Unzip("-x --i " + Quoted(archive_) + " " + Quoted(destination_));
        ASSERT_EQ(extracted.code, 0) << extracted.text;
        EXPECT_THAT(extracted.text, HasSubstr("extracted 文書/報告書.txt\n"));
        EXPECT_EQ(Tree(destination_), kSampleTree);
        EXPECT_EQ(ReadFile(destination_ + "folder/sub/deep.bin"), RandomBytes(200000, 1));
        EXPECT_EQ(ReadFile(destination_ + "文書/報告書.txt"), "報告の本文\n");

        const auto tested = c.reader().Unzip("-t " + Quoted(archive_));
        EXPECT_EQ(tested.code, 0) << tested.text;

        // ExtractMem: the member named (with the driver's escapes), into the buffer.
        std::string buffer(64, '\0');
        std::uint32_t copied = 0;
        EXPECT_EQ(
            c.reader().extractMem(0, (" --i " + Quoted(archive_) + " \"文書/報告書.txt\"").c_str(),
                                  reinterpret_cast<unsigned char*>(buffer.data()), 64, nullptr,
                                  nullptr, &copied),
            0);
        EXPECT_EQ(buffer.substr(0, copied), "報告の本文\n");
    }
}

TEST_F(ZipLibraryTest, ExistingFilesAreKeptUnlessOverwriting) {
    PackSample();
    const std::string line = Quoted(archive_) + " " + Quoted(destination_) + " \"文書/*\"";
    ASSERT_EQ(Unzip32().Unzip("-x " + line).code, 0);
    scratch_.Write("out/文書/報告書.txt", "mine");

    const auto kept = Unzip32().Unzip("-x --i " + line);
    EXPECT_EQ(kept.code, ARC_WARNING_SKIPPED);
    EXPECT_EQ(kept.text, "文書/報告書.txt: kept the existing file (-o overwrites)\n");
    EXPECT_EQ(ReadFile(destination_ + "文書/報告書.txt"), "mine");

    const auto overwritten = Unzip32().Unzip("-x -o " + line);
    EXPECT_EQ(overwritten.code, 0) << overwritten.text;
    EXPECT_EQ(ReadFile(destination_ + "文書/報告書.txt"), "報告の本文\n");
}

TEST_F(ZipLibraryTest, JunkedPathsAndEscapedNames) {
    scratch_.Write("src/-dash[1].txt", "dash");
    scratch_.Write("src/other.txt", "other");
    const auto packed = Zip32j().Zip(" -D " + Quoted(archive_) + " " + Quoted(source_) +
                                     " \"[-]dash[[]1].txt\" \"other.txt\" \"文書/報告書.txt\"");
    ASSERT_EQ(packed.code, 0) << packed.text;
    EXPECT_THAT(Zip32j().Names(archive_),
                ElementsAre("-dash[1].txt", "other.txt", "文書/報告書.txt"));  // -D: no folders

    const auto one = Unzip32().Unzip("-x -j " + Quoted(archive_) + " " + Quoted(destination_) +
                                     " \"[-]dash[[]1].txt\" \"文書/*\"");
    ASSERT_EQ(one.code, 0) << one.text;
    EXPECT_THAT(Tree(destination_), ElementsAre("-dash[1].txt", "報告書.txt"));
}

struct Stored {
    const char* switches;
    std::vector<std::string> names;
    std::vector<std::string> members;
};

TEST_F(ZipLibraryTest, SwitchesShapeWhatIsStored) {
    scratch_.Write("src/folder/.hidden", "h");
    scratch_.Write("src/long name+x.text", "l");
    scratch_.Write("src/star*.txt", "*");
    scratch_.Write("src/stars.txt", "s");
    const Stored cases[] = {
        {" -r", {"folder"}, {"folder/", "folder/sub/", "folder/sub/deep.bin", "folder/空/"}},
        {" -r -S",
         {"folder"},
         {"folder/", "folder/.hidden", "folder/sub/", "folder/sub/deep.bin", "folder/空/"}},
        {"", {"folder"}, {"folder/"}},  // without -r a folder is its own entry
        {" -r -D -j", {"folder"}, {"deep.bin"}},
        {" -D -k", {"long name+x.text", "文書/報告書.txt"}, {"LONG_NAM.TEX", "文書/報告書.TXT"}},
        {" -D", {"*.txt"}, {"empty.txt", "star*.txt", "stars.txt"}},
        {" -D", {"star*.txt"}, {"star*.txt"}},  // a name that exists is never a pattern
        {" -D", {"sta?s.txt"}, {"stars.txt"}},
        {" -D -S", {".*"}, {}},  // "." and ".." are never names
    };
    for (const Stored& c : cases) {
        SCOPED_TRACE(c.switches);
        std::filesystem::remove(archive_);
        std::string names;
        for (const std::string& name : c.names) {
            names += " " + Quoted(name);
        }
        const auto packed = Zip32j().Zip(std::string(c.switches) + " " + Quoted(archive_) + " " +
                                         Quoted(source_) + names);
        if (c.members.empty()) {
            EXPECT_EQ(packed.code, ARC_ERROR_NO_FILES) << packed.text;
            continue;
        }
        ASSERT_EQ(packed.code, 0) << packed.text;
        EXPECT_EQ(Zip32j().Names(archive_), c.members);
    }
}

TEST_F(ZipLibraryTest, NewestMemberTimeAndQuietOutput) {
    const std::string file = scratch_.Write("src/old.txt", "old");
    const timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
    utimensat(AT_FDCWD, file.c_str(), old, 0);
    const auto packed =
        Zip32j().Zip(" -q -o -D " + Quoted(archive_) + " " + Quoted(source_) + " old.txt");
    ASSERT_EQ(packed.code, 0);
    EXPECT_EQ(packed.text, "");
    EXPECT_EQ(std::filesystem::last_write_time(archive_), std::filesystem::last_write_time(file));
}

struct Change {
    const char* name;
    std::string line;  // before the archive
    std::vector<std::string> names;
    std::vector<std::string> members;
    std::string first;  // a.txt's content afterwards
};

TEST_F(ZipLibraryTest, UpdateFreshenAndDeleteCopyUnchangedMembers) {
    const Change changes[] = {
        {"add replaces and adds", " -D -0", {"a.txt", "c.txt"}, {"a.txt", "b.txt", "c.txt"}, "new"},
        {"update", " -u -D -0", {"a.txt", "c.txt"}, {"a.txt", "b.txt", "c.txt"}, "new"},
        {"freshen adds nothing", " -f -D -0", {"a.txt", "c.txt"}, {"a.txt", "b.txt"}, "new"},
        {"delete", "-d -D", {"a.txt"}, {"b.txt"}, ""},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        std::filesystem::remove(archive_);
        const std::string a = scratch_.Write("src/a.txt", "old " + RandomBytes(5000, 2));
        scratch_.Write("src/b.txt", RandomBytes(5000, 3));
        ASSERT_EQ(Zip32j()
                      .Zip(" -D -9 " + Quoted(archive_) + " " + Quoted(source_) + " a.txt b.txt")
                      .code,
                  0);
        scratch_.Write("src/a.txt", "new");
        scratch_.Write("src/c.txt", "c");
        const timespec later[2] = {{time(nullptr) + 60, 0}, {time(nullptr) + 60, 0}};
        utimensat(AT_FDCWD, a.c_str(), later, 0);

        std::string names;
        for (const std::string& name : change.names) {
            names += " " + Quoted(name);
        }
        const bool deleting = change.line.starts_with("-d");
        const auto changed = Zip32j().Zip(change.line + " " + Quoted(archive_) +
                                          (deleting ? "" : " " + Quoted(source_)) + names);
        ASSERT_EQ(changed.code, 0) << changed.text;
        EXPECT_EQ(Zip32j().Names(archive_), change.members);
        // b.txt was taken over as it was (deflated at -9), not packed again at -0.
        const HARC handle = Zip32j().openArchive(0, archive_.c_str(), 0);
        ARCHIVE_ENTRY_RECORD record{};
        ASSERT_EQ(Zip32j().findFirst(handle, "b.txt", &record), 0);
        EXPECT_STREQ(record.method, "deflate");
        Zip32j().closeArchive(handle);
        if (!change.first.empty()) {
            std::filesystem::remove_all(destination_);
            ASSERT_EQ(Unzip32().Unzip("-x " + Quoted(archive_) + " " + Quoted(destination_)).code,
                      0);
            EXPECT_EQ(ReadFile(destination_ + "a.txt"), change.first);
        }
    }
}

TEST_F(ZipLibraryTest, SalvageRebuildsAnArchiveWhoseDirectoryIsDamaged) {
    PackSample();
    // Every central header loses its signature: the directory cannot be read.
    std::string bytes = ReadFile(archive_);
    for (std::size_t at = bytes.find("PK\1\2"); at != std::string::npos;
         at = bytes.find("PK\1\2", at)) {
        bytes[at + 2] = 9;
    }
    std::ofstream(archive_, std::ios::binary | std::ios::trunc) << bytes;
    scratch_.Write("src/new.txt", "new");

    // Not an empty archive, and not a sound one.
    EXPECT_EQ(Unzip32().Unzip("-t " + Quoted(archive_)).code, ARC_ERROR_BROKEN_ARCHIVE);
    EXPECT_EQ(Unzip32().Unzip("-x " + Quoted(archive_) + " " + Quoted(destination_)).code,
              ARC_ERROR_BROKEN_ARCHIVE);
    EXPECT_THAT(Zip32j().Names(archive_), ::testing::Contains("folder/sub/deep.bin"));

    const auto refused =
        Zip32j().Zip(" -D " + Quoted(archive_) + " " + Quoted(source_) + " new.txt");
    EXPECT_EQ(refused.code, ARC_ERROR_BROKEN_ARCHIVE) << refused.text;
    EXPECT_THAT(refused.text, HasSubstr("-FF"));
    EXPECT_EQ(ReadFile(archive_), bytes);

    const auto salvaged =
        Zip32j().Zip(" -D -FF " + Quoted(archive_) + " " + Quoted(source_) + " new.txt");
    ASSERT_EQ(salvaged.code, 0) << salvaged.text;
    EXPECT_THAT(Zip32j().Names(archive_), ::testing::Contains("folder/sub/deep.bin"));
    EXPECT_THAT(Zip32j().Names(archive_), ::testing::Contains("new.txt"));
    EXPECT_EQ(Unzip32().Unzip("-t " + Quoted(archive_)).code, 0);
}

TEST_F(ZipLibraryTest, MembersOutsideTheDestinationAreRefused) {
    {
        const int fd = open(archive_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        zip::Writer writer(fd);
        for (const char* name : {"../evil.txt", "/etc/evil.txt", "fine.txt"}) {
            const std::string data = "x";
            zip::MemoryInput input(std::as_bytes(std::span(data.data(), data.size())));
            writer.AddFile({name}, input, data.size());
        }
        writer.Finish();
        close(fd);
    }
    const auto result = Unzip32().Unzip("-x " + Quoted(archive_) + " " + Quoted(destination_));
    EXPECT_EQ(result.code, ARC_ERROR_UNSAFE_PATH) << result.text;
    EXPECT_THAT(Tree(scratch_.Folder()),
                ElementsAre("out/", "out/fine.txt", "src/", "src/empty.txt", "src/folder/",
                            "src/folder/sub/", "src/folder/sub/deep.bin", "src/folder/空/",
                            "src/文書/", "src/文書/報告書.txt", "t.zip"));
}

struct BadLine {
    bool zipSide;
    std::string line;
    std::string reason;
};

TEST_F(ZipLibraryTest, UnknownSwitchesAreRefusedWithTheirReason) {
    const BadLine lines[] = {
        {false, "-x -Z \"a.zip\"", "unknown switch -Z"},
        {false, "--x \"a.zip\"", "unknown switch --x"},
        {false, "-x -l \"a.zip\"", "two commands"},
        {true, " -F \"a.zip\" \"f\"", "unknown switch -F"},
        {true, " -qA \"a.zip\" \"f\"", "-A stands alone"},
        {true, " -rZ \"a.zip\" \"f\"", "unknown switch -Z"},
        {true, "-d -u \"a.zip\" \"f\"", "two commands"},
        {true, "-A ", "-A needs"},
    };
    for (const BadLine& bad : lines) {
        SCOPED_TRACE(bad.line);
        const auto result = bad.zipSide ? Lmzip32().Zip(bad.line) : Lmzip32().Unzip(bad.line);
        EXPECT_EQ(result.code, ARC_ERROR_BAD_COMMAND);
        EXPECT_THAT(result.text, HasSubstr(bad.reason));
    }
}

}  // namespace
}  // namespace zembrat::zip32::testing

namespace zembrat::zip32::testing {
namespace {

// A '\\' in a name made on Unix is part of the name; from MS-DOS it separates folders. The
// reader says which for each member, in process.
TEST_F(ZipLibraryTest, WhereAMemberWasMadeDecidesWhatABackslashIs) {
    const std::string make =
        "python3 -c '\nimport sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], \"w\") as z:\n"
        "    for system, name in ((3, \"unix\\\\name.txt\"), "
        "(0, \"dos\\\\name.txt\")):\n"
        "        info = zipfile.ZipInfo(name)\n"
        "        info.create_system = system\n"
        "        info.external_attr = (0o100644 << 16) if system == 3 else 0\n"
        "        z.writestr(info, name)\n' " +
        Quoted(archive_);
    ASSERT_EQ(std::system(make.c_str()), 0);
    const auto result = Unzip32().Unzip("-x " + Quoted(archive_) + " " + Quoted(destination_));
    EXPECT_EQ(result.code, 0) << result.text;
    EXPECT_TRUE(std::filesystem::is_regular_file(destination_ + "unix\\name.txt"));
    EXPECT_TRUE(std::filesystem::is_regular_file(destination_ + "dos/name.txt"));
}

// A split set opens by its last part, through every entry that reads; the zip side leaves it
// as it is.
TEST_F(ZipLibraryTest, SplitSetsExtractListAndTestFromTheirLastPart) {
    const std::string set = scratch_.Folder() + "set.zip";
    ASSERT_EQ(std::system(("cd " + Quoted(source_) + " && zip -q -r -s 64k " + Quoted(set) +
                           " . >/dev/null")
                              .c_str()),
              0);
    ASSERT_TRUE(std::filesystem::exists(scratch_.Folder() + "set.z01"));
    const auto extracted = Lmzip32().Unzip("-x " + Quoted(set) + " " + Quoted(destination_));
    EXPECT_EQ(extracted.code, 0) << extracted.text;
    EXPECT_EQ(std::filesystem::file_size(destination_ + "folder/sub/deep.bin"), 200000u);
    const auto tested = Unzip32().Unzip("-t " + Quoted(set));
    EXPECT_EQ(tested.code, 0) << tested.text;
    const auto listed = Unzip32().Unzip("-l " + Quoted(set));
    EXPECT_THAT(listed.text, HasSubstr("folder/sub/deep.bin"));
    const auto before = std::filesystem::file_size(set);
    const auto changed = Zip32j().Zip("-d " + Quoted(set) + " empty.txt");
    EXPECT_EQ(changed.code, ARC_ERROR_CANNOT_WRITE) << changed.text;
    EXPECT_THAT(changed.text, HasSubstr("split set"));
    EXPECT_EQ(std::filesystem::file_size(set), before);
    std::filesystem::remove(scratch_.Folder() + "set.z01");
    const auto missing = Unzip32().Unzip("-t " + Quoted(set));
    EXPECT_EQ(missing.code, ARC_ERROR_BROKEN_ARCHIVE);
    EXPECT_THAT(missing.text, HasSubstr("set.z01"));
}

}  // namespace
}  // namespace zembrat::zip32::testing
