// Self-extracting files as the ZIP driver makes them (the stub, then the archive, then "-A"),
// the stub program itself, and stopping through the owner window.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/messages.h"
#include "zip32_library.h"

namespace zembrat::zip32::testing {
namespace {

using ::testing::HasSubstr;

const std::string kStub = ZEMBRAT_BIN_DIR "/sfx16.dat";

class SelfExtractingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Zip32j().Loaded());
        scratch_.Write("src/日本語/メモ.txt", "memo\n");
        scratch_.Write("src/empty.txt", "");
        ASSERT_EQ(Zip32j()
                      .Zip(" -r " + Quoted(archive_) + " " + Quoted(scratch_.Folder() + "src/") +
                           " \"日本語\" \"empty.txt\"")
                      .code,
                  0);
        // As the driver's MakeSfx does: the stub and the archive copied into the target.
        std::filesystem::copy_file(kStub, program_);
        std::ofstream(program_, std::ios::binary | std::ios::app) << ReadFile(archive_);
    }

    TempFolder scratch_;
    std::string archive_ = scratch_.Folder() + "t.zip";
    std::string program_ = scratch_.Folder() + "with space.EXE";
};

TEST_F(SelfExtractingTest, StubsAreOneSmallProgramUnderBothNames) {
#ifndef ZEMBRAT_SANITIZED
    EXPECT_LT(std::filesystem::file_size(kStub), 256u * 1024u);
#endif
    EXPECT_EQ(ReadFile(kStub), ReadFile(ZEMBRAT_BIN_DIR "/sfx32gui.dat"));
}

TEST_F(SelfExtractingTest, AdjustedFileOpensInEveryReaderAndRunsItself) {
    const auto adjusted = Zip32j().Zip("-A " + program_);  // unquoted, with a blank
    ASSERT_EQ(adjusted.code, 0) << adjusted.text;
    EXPECT_NE(std::filesystem::status(program_).permissions() & std::filesystem::perms::owner_exec,
              std::filesystem::perms::none);
    EXPECT_EQ(Zip32j().Names(program_).size(), 3u);

    const std::string quoted = "'" + program_ + "'";
    for (const std::string& peer :
         {std::string("unzip -tq "), std::string("7zz t "), std::string("bsdtar -tf ")}) {
        const std::string program = peer.substr(0, peer.find(' '));
        if (!HavePeer(program)) {
            std::cout << "skipped " << program << ": not installed\n";
            continue;
        }
        EXPECT_EQ(Shell(peer + quoted + " >/dev/null 2>&1"), 0) << program;
    }

    const std::string out = scratch_.Folder() + "out";
    EXPECT_EQ(Shell(quoted + " -t >/dev/null"), 0);
    EXPECT_EQ(Shell(quoted + " -l | grep -q 'メモ.txt'"), 0);
    EXPECT_EQ(Shell(quoted + " '" + out + "' >/dev/null"), 0);
    EXPECT_EQ(Tree(out), (std::vector<std::string>{"empty.txt", "日本語/", "日本語/メモ.txt"}));
    EXPECT_EQ(ReadFile(out + "/日本語/メモ.txt"), "memo\n");
    // Again: the files are there and kept; -f overwrites.
    EXPECT_EQ(Shell(quoted + " '" + out + "' >/dev/null"), 1);
    EXPECT_EQ(Shell(quoted + " -f '" + out + "' >/dev/null"), 0);
}

TEST_F(SelfExtractingTest, StubReadsTheUnadjustedFileAndStripRemovesIt) {
    std::filesystem::permissions(program_, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    EXPECT_EQ(Shell("'" + program_ + "' -t >/dev/null"), 0);
    const auto stripped = Zip32j().Zip(" -J " + Quoted(program_));
    ASSERT_EQ(stripped.code, 0) << stripped.text;
    EXPECT_LT(std::filesystem::file_size(program_), std::filesystem::file_size(kStub));
    EXPECT_EQ(Unzip32().Unzip("-t " + Quoted(program_)).code, 0);
}

TEST_F(SelfExtractingTest, OwnerWindowSeesEachMemberAndCanStop) {
    std::vector<std::uintptr_t> states;
    int stopAt = -1;
    platform::HiddenWindow window(
        [&](platform::MessageId message, std::uintptr_t state, std::intptr_t) -> std::intptr_t {
            if (message != platform::RegisterWindowMessage("wm_arcextract")) {
                return 0;
            }
            states.push_back(state);
            return static_cast<int>(states.size()) - 1 == stopAt ? 1 : 0;
        });
    ASSERT_NE(Unzip32().setOwnerWindow(window.Handle(), nullptr), 0);
    const std::string out = scratch_.Folder() + "out/";
    ASSERT_EQ(Unzip32().Unzip("-x " + Quoted(archive_) + " " + Quoted(out)).code, 0);
    EXPECT_EQ(states, (std::vector<std::uintptr_t>{ARC_PROGRESS_BEGIN, ARC_PROGRESS_END,
                                                   ARC_PROGRESS_BEGIN, ARC_PROGRESS_END}));

    std::filesystem::remove_all(out);
    states.clear();
    stopAt = 2;  // the second member's BEGIN
    const auto stopped = Unzip32().Unzip("-x " + Quoted(archive_) + " " + Quoted(out));
    EXPECT_EQ(stopped.code, ARC_ERROR_ABORTED);
    EXPECT_THAT(stopped.text, HasSubstr("stopped"));
    EXPECT_EQ(Tree(out).size(), 2u) << "the first member and its folder, nothing half-written";
    Unzip32().killOwnerWindow(window.Handle());
}

// The owner window is the ZIP family's: given to the unpacking library (as the driver does),
// it also hears packing through libzip32j.so; given to liblmzip32.so, its own packing.
TEST_F(SelfExtractingTest, PackingStoppedByTheOwnerWindowLeavesTheArchiveAsItWas) {
    std::vector<EXTRACTINGINFOEX> reports;
    int stopAt = -1;
    platform::HiddenWindow window(
        [&](platform::MessageId message, std::uintptr_t, std::intptr_t record) -> std::intptr_t {
            if (message != platform::RegisterWindowMessage("wm_arcextract")) {
                return 0;
            }
            reports.push_back(*reinterpret_cast<const EXTRACTINGINFOEX*>(record));
            return static_cast<int>(reports.size()) - 1 == stopAt ? 1 : 0;
        });
    const std::string big = scratch_.Write("src/big.bin", std::string(300000, 'b'));
    const std::vector<std::pair<const ZipLibrary*, const ZipLibrary*>> owners = {
        {&Lmzip32(), &Lmzip32()}, {&Unzip32(), &Zip32j()}};
    for (const auto& [owner, packer] : owners) {
        reports.clear();
        ASSERT_NE(owner->setOwnerWindow(window.Handle(), nullptr), 0);
        const std::string before = ReadFile(archive_);
        stopAt = 1;  // the report after big.bin's BEGIN
        const auto stopped = packer->Zip("-u " + Quoted(archive_) + " " + Quoted(big));
        EXPECT_EQ(stopped.code, ARC_ERROR_ABORTED) << stopped.text;
        EXPECT_TRUE(ReadFile(archive_) == before);
        for (const auto& entry : std::filesystem::directory_iterator(scratch_.Path())) {
            EXPECT_FALSE(entry.path().filename().string().starts_with(".zembrat-"));
        }
        ASSERT_EQ(reports.size(), 2u);
        EXPECT_EQ(std::string(reports[0].source_file_name), big);
        EXPECT_STREQ(reports[0].dest_file_name, "big.bin");
        EXPECT_EQ(reports[0].file_size, 300000u);
        owner->killOwnerWindow(window.Handle());
    }
}

}  // namespace
}  // namespace zembrat::zip32::testing
