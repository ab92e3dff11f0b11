// "wm_arcextract" reports to the owner window, and stopping through its answer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "platform/messages.h"
#include "unlha32_library.h"

namespace zembrat::unlha32::testing {
namespace {

struct Report {
    std::uintptr_t state;
    EXTRACTINGINFOEX record;
    std::thread::id thread;
};

class ProgressTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_LIBRARY();
        ASSERT_NE(Library().setOwnerWindow(window_.Handle(), nullptr), 0);
        scratch_.Write("src/big.bin", RandomBytes(300000, 5));
        scratch_.Write("src/small.txt", "small");
    }
    void TearDown() override { Library().killOwnerWindow(window_.Handle()); }

    std::vector<Report> reports_;
    // Answer 1 (stop) to the report with this index; -1 never.
    int stopAt_ = -1;
    platform::HiddenWindow window_{[this](platform::MessageId message, std::uintptr_t state,
                                          std::intptr_t record) -> std::intptr_t {
        if (message != platform::RegisterWindowMessage("wm_arcextract")) {
            return 0;
        }
        reports_.push_back({state, *reinterpret_cast<const EXTRACTINGINFOEX*>(record),
                            std::this_thread::get_id()});
        return static_cast<int>(reports_.size()) - 1 == stopAt_ ? 1 : 0;
    }};
    TempFolder scratch_;
    std::string archive_ = scratch_.Folder() + "t.lzh";
    std::string destination_ = scratch_.Folder() + "out/";
};

TEST_F(ProgressTest, BeginUpdatesEveryStepAndEndPerMember) {
    auto packed = Library().Run("a -jm0 \"" + archive_ + "\" \"" + scratch_.Folder() +
                                "src/\" big.bin small.txt");
    ASSERT_EQ(packed.code, 0) << packed.text;
    ASSERT_FALSE(reports_.empty());
    EXPECT_EQ(reports_.front().state, ARC_PROGRESS_BEGIN);
    EXPECT_STREQ(reports_.front().record.dest_file_name, "big.bin");
    reports_.clear();

    ASSERT_EQ(Library().Run("x \"" + archive_ + "\" \"" + destination_ + "\"").code, 0);
    std::vector<std::uintptr_t> states;
    for (const Report& report : reports_) {
        states.push_back(report.state);
    }
    // big.bin: begin, an update about every 64 KiB, end; small.txt: begin, end.
    ASSERT_GE(states.size(), 7u);
    const std::size_t updates = states.size() - 4;
    EXPECT_GE(updates, 3u);
    EXPECT_LE(updates, 5u);
    EXPECT_EQ(states.front(), ARC_PROGRESS_BEGIN);
    EXPECT_EQ(std::vector<std::uintptr_t>(states.begin() + 1, states.begin() + 1 + updates),
              std::vector<std::uintptr_t>(updates, ARC_PROGRESS_UPDATE));
    EXPECT_EQ(
        std::vector<std::uintptr_t>(states.end() - 3, states.end()),
        (std::vector<std::uintptr_t>{ARC_PROGRESS_END, ARC_PROGRESS_BEGIN, ARC_PROGRESS_END}));
    const EXTRACTINGINFOEX& first = reports_.front().record;
    EXPECT_EQ(first.file_size, 300000u);
    EXPECT_STREQ(first.source_file_name, "big.bin");
    EXPECT_EQ(std::string(first.dest_file_name), destination_ + "big.bin");
    EXPECT_STREQ(first.method, "-lh0-");
    EXPECT_GE(reports_[1].record.write_size, 65536u);
    EXPECT_LT(reports_[1].record.write_size, reports_[2].record.write_size);
    EXPECT_EQ(reports_[updates + 1].record.write_size, 300000u);
}

TEST_F(ProgressTest, StoppingAnExtractionLeavesNothingHalfWritten) {
    ASSERT_EQ(Library()
                  .Run("a \"" + archive_ + "\" \"" + scratch_.Folder() + "src/\" small.txt big.bin")
                  .code,
              0);
    reports_.clear();
    stopAt_ = 3;  // small.txt begin, end; big.bin begin, first update
    auto result = Library().Run("x \"" + archive_ + "\" \"" + destination_ + "\"");
    EXPECT_EQ(result.code, ARC_ERROR_ABORTED);
    EXPECT_EQ(Tree(destination_), (std::vector<std::string>{"small.txt"}));
}

TEST_F(ProgressTest, StoppingAnUpdateKeepsTheOldArchive) {
    ASSERT_EQ(
        Library().Run("a \"" + archive_ + "\" \"" + scratch_.Folder() + "src/\" small.txt").code,
        0);
    const std::string before = ReadFile(archive_);
    reports_.clear();
    stopAt_ = 1;
    auto result = Library().Run("a \"" + archive_ + "\" \"" + scratch_.Folder() + "src/\" big.bin");
    EXPECT_EQ(result.code, ARC_ERROR_ABORTED);
    EXPECT_EQ(ReadFile(archive_), before);
    EXPECT_EQ(Tree(scratch_.Folder()),
              (std::vector<std::string>{"src/", "src/big.bin", "src/small.txt", "t.lzh"}));

    // A new archive stopped is never created.
    reports_.clear();
    stopAt_ = 0;
    const std::string fresh = scratch_.Folder() + "fresh.lzh";
    EXPECT_EQ(Library().Run("a \"" + fresh + "\" \"" + scratch_.Folder() + "src/big.bin\"").code,
              ARC_ERROR_ABORTED);
    EXPECT_FALSE(std::filesystem::exists(fresh));
}

// The owner window's procedure may touch a user interface: every report comes on the thread
// that called the library, also for members large enough to be written by a second thread.
TEST_F(ProgressTest, ReportsComeOnTheCallingThread) {
    scratch_.Write("src/large.txt", Text(6 << 20));
    ASSERT_EQ(
        Library().Run("a \"" + archive_ + "\" \"" + scratch_.Folder() + "src/\" large.txt").code,
        0);
    ASSERT_EQ(Library().Run("x \"" + archive_ + "\" \"" + destination_ + "\"").code, 0);
    ASSERT_GT(reports_.size(), 100u);  // both ways, about every 64 KiB
    for (const Report& report : reports_) {
        ASSERT_EQ(report.thread, std::this_thread::get_id()) << report.record.write_size;
    }
}

TEST_F(ProgressTest, NoReportsOnceTheOwnerWindowIsGone) {
    EXPECT_EQ(Library().killOwnerWindow(window_.Handle() + 1000), 0);
    EXPECT_NE(Library().killOwnerWindow(window_.Handle()), 0);
    ASSERT_EQ(
        Library().Run("a \"" + archive_ + "\" \"" + scratch_.Folder() + "src/\" big.bin").code, 0);
    EXPECT_TRUE(reports_.empty());
}

}  // namespace
}  // namespace zembrat::unlha32::testing
