// libbga32.so through its entries, with the lines the BGA driver writes: round trips of both
// kinds, updates and deletions that keep the old archive until the new one is complete, the
// listing, and extraction that refuses what would leave the destination.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "bga/format.h"
#include "bga32_library.h"

namespace zembrat::bga32::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kNihon = "\xe6\x97\xa5\xe6\x9c\xac.txt";  // CP932 holds it as 93 FA 96 7B

class BgaLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch_.Write("src/readme.txt", text_);
        scratch_.Write("src/docs/guide.txt", "guide");
        scratch_.Write("src/docs/deep/note.txt", "deep");
        scratch_.Write("src/docs/.hidden", "dot");
        scratch_.Write("src/" + kNihon, "nihon");
    }

    // Packs as the driver does: switches, the empty user options, the archive, the base
    // folder, the names and the empty user file list.
    BgaLibrary::Result Pack(const std::string& archive, const std::string& switches,
                            const std::vector<std::string>& names) const {
        std::string line =
            "a " + switches + "  " + Quoted(archive) + " " + Quoted(scratch_.Folder() + "src/");
        for (const auto& name : names) {
            line += " " + Quoted(name);
        }
        return Library().Run(line + " ");
    }

    BgaLibrary::Result Extract(const std::string& archive, const std::string& switches,
                               const std::string& folder) const {
        return Library().Run("x " + switches + "  " + Quoted(archive) + " " + Quoted(folder) + " ");
    }

    TempFolder scratch_;
    std::string text_ = Text(200000);
};

TEST_F(BgaLibraryTest, BothKindsRoundTripWithFoldersAndTheirCodec) {
    struct Case {
        const char* archive;
        const char* method;
    };
    for (const Case c : {Case{"pack.gza", "GZIP"}, Case{"PACK.BZA", "BZ2"}}) {
        const std::string archive = scratch_ / c.archive;
        const auto packed = Pack(archive, "-n -r -l6", {"readme.txt", "docs", kNihon});
        ASSERT_EQ(packed.code, 0) << packed.text;
        EXPECT_THAT(Library().Names(archive),
                    ElementsAre("readme.txt", "docs/", "docs/deep/", "docs/deep/note.txt",
                                "docs/guide.txt", kNihon));
        const auto entries = Library().Entries(archive, "readme.txt");
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_STREQ(entries[0].method, c.method);
        EXPECT_EQ(entries[0].original_size, text_.size());
        EXPECT_LT(entries[0].compressed_size, text_.size() / 4);
        // Names are stored in CP932.
        EXPECT_THAT(ReadFile(archive), HasSubstr("\x93\xfa\x96\x7b.txt"));

        const std::string out = scratch_ / (std::string(c.archive) + ".out/");
        const auto extracted = Extract(archive, "-n -j", out);
        ASSERT_EQ(extracted.code, 0) << extracted.text;
        EXPECT_EQ(ReadFile(out + "readme.txt"), text_);
        EXPECT_EQ(ReadFile(out + "docs/deep/note.txt"), "deep");
        EXPECT_EQ(ReadFile(out + kNihon), "nihon");
        EXPECT_FALSE(fs::exists(out + "docs/.hidden"));  // added only with -a
        EXPECT_TRUE(Library().checkArchive(archive.c_str(), ARC_CHECK_FULL));
    }
}

TEST_F(BgaLibraryTest, SwitchesChooseWhatIsAddedAndHowNamesAreStored) {
    struct Case {
        const char* switches;
        std::vector<std::string> names;
        std::vector<std::string> stored;
    };
    const std::vector<Case> cases = {
        // Without -r a folder brings only the files directly in it.
        {"-n", {"docs"}, {"docs/", "docs/guide.txt"}},
        {"-n -r -a",
         {"docs"},
         {"docs/", "docs/.hidden", "docs/deep/", "docs/deep/note.txt", "docs/guide.txt"}},
        {"-n", {"docs/deep/note.txt"}, {"docs/deep/note.txt"}},
        {"-n -j", {"docs/deep/note.txt"}, {"note.txt"}},
        {"-n", {"docs/*.txt"}, {"docs/guide.txt"}},
        {"-n -l0", {"readme.txt"}, {"readme.txt"}},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const std::string archive = folder / "s.gza";
        const auto packed = Pack(archive, c.switches, c.names);
        ASSERT_EQ(packed.code, 0) << c.switches << packed.text;
        EXPECT_EQ(Library().Names(archive), c.stored) << c.switches;
    }
    TempFolder folder;
    ASSERT_EQ(Pack(folder / "s.gza", "-n -l0", {"readme.txt"}).code, 0);
    EXPECT_STREQ(Library().Entries(folder / "s.gza")[0].method, "STORE");
}

TEST_F(BgaLibraryTest, TheBatchLinesPackAFullPathUnderItsNameAndUnpackIntoTheFolder) {
    const std::string archive = scratch_ / "batch.gza";
    const std::string file = scratch_.Folder() + "src/readme.txt";
    const auto packed = Library().Run("a -n -j  " + Quoted(archive) + " " + Quoted(file) + " ");
    ASSERT_EQ(packed.code, 0) << packed.text;
    EXPECT_THAT(Library().Names(archive), ElementsAre("readme.txt"));
    const std::string out = scratch_ / "batch/";
    const auto unpacked = Library().Run("x -n -j  " + Quoted(archive) + " " + Quoted(out) + " " +
                                        Quoted("readme.txt") + " ");
    ASSERT_EQ(unpacked.code, 0) << unpacked.text;
    EXPECT_EQ(ReadFile(out + "readme.txt"), text_);
}

TEST_F(BgaLibraryTest, ANameCp932CannotHoldComesBackUnchanged) {
    const std::string name = "smile \xf0\x9f\x98\x80 \xc3\xa9.txt";  // U+1F600 and e-acute
    scratch_.Write("src/" + name, "emoji");
    const std::string archive = scratch_ / "names.gza";
    ASSERT_EQ(Pack(archive, "-n", {name, kNihon}).code, 0);
    EXPECT_THAT(Library().Names(archive), ElementsAre(name, kNihon));
    const std::string out = scratch_.Folder() + "names/";
    ASSERT_EQ(Extract(archive, "-n", out).code, 0);
    EXPECT_EQ(ReadFile(out + name), "emoji");
    EXPECT_EQ(ReadFile(out + kNihon), "nihon");
}

TEST_F(BgaLibraryTest, ExistingFilesAreKeptWithoutDashO) {
    const std::string archive = scratch_ / "keep.gza";
    ASSERT_EQ(Pack(archive, "-n", {"readme.txt"}).code, 0);
    const std::string out = scratch_.Folder() + "keep/";
    scratch_.Write("keep/readme.txt", "mine");
    const auto kept = Extract(archive, "-n", out);
    EXPECT_EQ(kept.code, ARC_WARNING_SKIPPED) << kept.text;
    EXPECT_THAT(kept.text, HasSubstr("-o overwrites"));
    EXPECT_EQ(ReadFile(out + "readme.txt"), "mine");
    EXPECT_EQ(Extract(archive, "-o", out).code, 0);
    EXPECT_EQ(ReadFile(out + "readme.txt"), text_);
}

TEST_F(BgaLibraryTest, AddingReplacesMembersOfTheSameNameAndDeletingRemovesThem) {
    const std::string archive = scratch_ / "update.bza";
    ASSERT_EQ(Pack(archive, "-n -r", {"readme.txt", "docs"}).code, 0);
    scratch_.Write("src/readme.txt", "new text");
    ASSERT_EQ(Pack(archive, "-n", {"readme.txt"}).code, 0);
    EXPECT_THAT(Library().Names(archive), ElementsAre("docs/", "docs/deep/", "docs/deep/note.txt",
                                                      "docs/guide.txt", "readme.txt"));
    EXPECT_EQ(Library().Entries(archive, "readme.txt")[0].original_size, 8u);

    const auto deleted = Library().Run("d -n  " + Quoted(archive) + " " + Quoted("docs") + " ");
    ASSERT_EQ(deleted.code, 0) << deleted.text;
    EXPECT_THAT(Library().Names(archive), ElementsAre("readme.txt"));
    // Nothing matched: the archive stays exactly as it was.
    const std::string before = ReadFile(archive);
    EXPECT_EQ(Library().Run("d \"" + archive + "\" nothing").code, ARC_ERROR_NO_FILES);
    EXPECT_EQ(ReadFile(archive), before);
    // A failed update (a name that is missing) leaves the old archive and no stray file.
    EXPECT_EQ(Pack(archive, "-n", {"readme.txt", "missing.txt"}).code, ARC_ERROR_CANNOT_READ);
    EXPECT_EQ(ReadFile(archive), before);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(scratch_.Path())) {
        ++files;
    }
    EXPECT_EQ(files, 2u);  // src/ and the archive
}

// A member as another writer may have made it, with any name.
std::string StoredMember(const std::string& name, const std::string& data) {
    bga::MemberHeader header;
    header.name = name;
    header.kind = bga::kKindStored;
    header.compressedSize = header.originalSize = static_cast<std::uint32_t>(data.size());
    return bga::EncodeHeader(header) + data;
}

TEST_F(BgaLibraryTest, NamesThatLeaveTheDestinationAreRefusedAndTheRestExtracted) {
    const std::string archive = scratch_.Write(
        "hostile.gza", StoredMember("..\\..\\evil.txt", "a") + StoredMember("\\abs.txt", "b") +
                           StoredMember("C:\\drive.txt", "c") +
                           StoredMember("ok\\..\\..\\up.txt", "d") +
                           StoredMember("fine\\good.txt", "e"));
    const std::string out = scratch_.Folder() + "a/b/";
    const auto result = Extract(archive, "-o", out);
    EXPECT_EQ(result.code, ARC_ERROR_UNSAFE_PATH) << result.text;
    EXPECT_EQ(ReadFile(out + "fine/good.txt"), "e");
    EXPECT_FALSE(fs::exists(scratch_ / "evil.txt"));
    EXPECT_FALSE(fs::exists(scratch_ / "a/evil.txt"));
    EXPECT_FALSE(fs::exists(scratch_ / "a/up.txt"));
    EXPECT_FALSE(fs::exists("/abs.txt"));
    std::size_t made = 0;
    for ([[maybe_unused]] const auto& entry : fs::recursive_directory_iterator(out)) {
        ++made;
    }
    EXPECT_EQ(made, 2u);  // fine/ and fine/good.txt
}

TEST_F(BgaLibraryTest, ADamagedMemberIsNeverLeftUnderItsNameAndTheNextOneStillComes) {
    const std::string archive = scratch_ / "damaged.gza";
    ASSERT_EQ(Pack(archive, "-n", {"readme.txt", "docs/guide.txt"}).code, 0);
    std::string bytes = ReadFile(archive);
    // The gzip trailer's CRC of the first member (its data ends before the second header).
    const std::size_t second = bytes.find("GZIP", 8) - 4;
    bytes[second - 8] ^= 0x01;
    scratch_.Write("damaged.gza", bytes);
    const std::string out = scratch_.Folder() + "out/";
    const auto result = Extract(archive, "-o", out);
    EXPECT_EQ(result.code, ARC_ERROR_CRC) << result.text;
    EXPECT_THAT(result.text, HasSubstr("readme.txt"));
    EXPECT_FALSE(fs::exists(out + "readme.txt"));
    EXPECT_EQ(ReadFile(out + "docs/guide.txt"), "guide");
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
    EXPECT_EQ(Library().Run("t " + Quoted(archive)).code, ARC_ERROR_CRC);
    // Headers are sound: the quick and header checks pass, the full one does not.
    EXPECT_TRUE(Library().checkArchive(archive.c_str(), ARC_CHECK_HEADERS));
    EXPECT_FALSE(Library().checkArchive(archive.c_str(), ARC_CHECK_FULL));
}

// What the owner window was told, and the report (by index) it answers with a stop.
struct Owner {
    static inline std::vector<std::pair<unsigned, EXTRACTINGINFOEX>> reports;
    static inline int stopAt = -1;
    static int Procedure(ARC_HWND, unsigned, unsigned state, LPEXTRACTINGINFOEX record) {
        reports.emplace_back(state, *record);
        return static_cast<int>(reports.size()) - 1 == stopAt ? 1 : 0;
    }
};

TEST_F(BgaLibraryTest, ReportsGoToTheOwnerAndAStopLeavesNothingHalfWritten) {
    const std::string archive = scratch_ / "stop.gza";
    ASSERT_EQ(Pack(archive, "-n", {"readme.txt"}).code, 0);
    const std::string before = ReadFile(archive);
    ASSERT_NE(Library().setOwnerWindow(0, &Owner::Procedure), 0);
    struct Case {
        const char* what;
        std::string line;
        int stopAt;
        int code;
    };
    const std::string out = scratch_.Folder() + "out/";
    const std::vector<Case> cases = {
        {"extract", "x -i -o " + Quoted(archive) + " " + Quoted(out), 1, ARC_ERROR_ABORTED},
        {"update",
         "a -i " + Quoted(archive) + " " + Quoted(scratch_.Folder() + "src/") +
             " readme.txt docs/guide.txt",
         1, ARC_ERROR_ABORTED},
        {"extract to the end", "x -i -o " + Quoted(archive) + " " + Quoted(out), -1, 0},
    };
    for (const Case& c : cases) {
        Owner::reports.clear();
        Owner::stopAt = c.stopAt;
        EXPECT_EQ(Library().Run(c.line).code, c.code) << c.what;
        ASSERT_GE(Owner::reports.size(), 2u) << c.what;
        EXPECT_EQ(Owner::reports[0].first, ARC_PROGRESS_BEGIN) << c.what;
        EXPECT_EQ(Owner::reports[0].second.file_size, text_.size()) << c.what;
        EXPECT_EQ(Owner::reports[1].first, ARC_PROGRESS_UPDATE) << c.what;
        EXPECT_EQ(ReadFile(archive), before) << c.what;
        if (c.code != 0) {
            EXPECT_FALSE(fs::exists(out + "readme.txt")) << c.what;
        }
    }
    EXPECT_EQ(Owner::reports.back().first, ARC_PROGRESS_END);
    EXPECT_STREQ(Owner::reports.back().second.method, "GZIP");
    EXPECT_EQ(ReadFile(out + "readme.txt"), text_);
    Library().killOwnerWindow(0);
    Owner::stopAt = -1;
}

TEST_F(BgaLibraryTest, OtherFilesAreNoArchiveAndBadLinesAreRefused) {
    const std::string text = scratch_.Write("plain.gza", Text(1000));
    EXPECT_EQ(Library().openArchive(0, text.c_str(), 0x00800002), 0);
    EXPECT_FALSE(Library().checkArchive(text.c_str(), ARC_CHECK_QUICK));
    EXPECT_EQ(Library().Run("x " + Quoted(text)).code, ARC_ERROR_NOT_ARCHIVE);
    for (const char* line : {"", "q a.gza", "x -z a.gza", "a -l12 a.gza x", "a a.gza"}) {
        EXPECT_EQ(Library().Run(line).code, ARC_ERROR_BAD_COMMAND) << line;
    }
}

}  // namespace
}  // namespace zembrat::bga32::testing
