// OpenArchive / FindFirst / FindNext records, the getters, the l and v texts and CheckArchive.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <utime.h>

#include "platform/file_time.h"
#include "unlha32_library.h"

namespace zembrat::unlha32::testing {
namespace {

using ::testing::HasSubstr;

class ListingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_LIBRARY();
        scratch_.Write("src/docs/readme.txt", Text(70000));
        scratch_.Write("src/image.bin", RandomBytes(1000, 1));
        const utimbuf times{1700000000, 1700000000};  // 2023-11-14 22:13:20 UTC
        ASSERT_EQ(utime((scratch_.Folder() + "src/image.bin").c_str(), &times), 0);
        auto result = Library().Run("a -jm5 \"" + archive_ + "\" \"" + scratch_.Folder() +
                                    "src/\" docs image.bin");
        ASSERT_EQ(result.code, 0) << result.text;
    }
    TempFolder scratch_;
    std::string archive_ = scratch_.Folder() + "t.lzh";
};

TEST_F(ListingTest, RecordsAndGetters) {
    const HARC handle = Library().openArchive(0, archive_.c_str(), 0);
    ASSERT_NE(handle, 0u);
    ARCHIVE_ENTRY_RECORD record{};
    ASSERT_EQ(Library().findFirst(handle, "*.txt", &record), 0);
    EXPECT_STREQ(record.file_name, "docs/readme.txt");
    EXPECT_EQ(record.original_size, 70000u);
    EXPECT_GT(record.compressed_size, 0u);
    EXPECT_LT(record.compressed_size, 70000u);
    EXPECT_EQ(record.ratio, record.compressed_size * 1000 / 70000);
    EXPECT_STREQ(record.method, "-lh5-");
    std::uint64_t size = 0;
    ASSERT_NE(Library().getOriginalSize(handle, &size), 0);
    EXPECT_EQ(size, 70000u);
    ASSERT_NE(Library().getCompressedSize(handle, &size), 0);
    EXPECT_EQ(size, record.compressed_size);
    EXPECT_NE(Library().findNext(handle, &record), 0);  // the only *.txt

    ASSERT_EQ(Library().findFirst(handle, "image.bin", &record), 0);
    EXPECT_STREQ(record.file_name, "image.bin");
    std::uint64_t written = 0;
    ASSERT_NE(Library().getWriteTime(handle, &written), 0);
    EXPECT_EQ(written, platform::FileTimeFromUnix(1700000000));
    std::uint16_t date = 0, time = 0;
    platform::FileTimeToDosDateTime(platform::FileTimeToLocalFileTime(written), date, time);
    EXPECT_EQ(record.dos_date, date);
    EXPECT_EQ(record.dos_time, time);

    // "*" lists folders too, in archive order.
    std::vector<std::string> all;
    for (int found = Library().findFirst(handle, "*", &record); found == 0;
         found = Library().findNext(handle, &record)) {
        all.emplace_back(record.file_name);
    }
    EXPECT_EQ(all, (std::vector<std::string>{"docs", "docs/readme.txt", "image.bin"}));
    EXPECT_EQ(Library().closeArchive(handle), 0);
    EXPECT_EQ(Library().getOriginalSize(handle, &size), 0);  // closed handles are refused
    EXPECT_NE(Library().findFirst(handle, "*", &record), 0);
}

TEST_F(ListingTest, TextListings) {
    auto brief = Library().Run("l \"" + archive_ + "\"");
    ASSERT_EQ(brief.code, 0);
    EXPECT_THAT(brief.text, HasSubstr("docs/readme.txt"));
    EXPECT_THAT(brief.text, HasSubstr("-lh5-"));
    EXPECT_THAT(brief.text, HasSubstr("3 members"));
    auto verbose = Library().Run("v \"" + archive_ + "\" *.bin");
    ASSERT_EQ(verbose.code, 0);
    EXPECT_THAT(verbose.text, HasSubstr("image.bin"));
    EXPECT_THAT(verbose.text, ::testing::Not(HasSubstr("readme")));
    EXPECT_THAT(verbose.text, HasSubstr("1 members"));
}

TEST_F(ListingTest, CheckArchiveOnGoodTruncatedAndDamagedFiles) {
    for (int mode : {ARC_CHECK_QUICK, ARC_CHECK_HEADERS, ARC_CHECK_FULL}) {
        EXPECT_NE(Library().checkArchive(archive_.c_str(), mode), 0) << mode;
    }
    EXPECT_EQ(Library().command(0, ("t \"" + archive_ + "\"").c_str(), nullptr, 0), 0);

    const std::string content = ReadFile(archive_);
    const std::string truncated =
        scratch_.Write("truncated.lzh", content.substr(0, content.size() / 2));
    EXPECT_EQ(Library().checkArchive(truncated.c_str(), ARC_CHECK_HEADERS), 0);
    EXPECT_EQ(Library().checkArchive(truncated.c_str(), ARC_CHECK_FULL), 0);

    // One flipped byte inside the compressed data of the first file: the headers stay sound.
    std::string damaged = content;
    const std::size_t at = content.find("-lh5-") + 200;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x55);
    const std::string bad = scratch_.Write("bad.lzh", damaged);
    EXPECT_NE(Library().checkArchive(bad.c_str(), ARC_CHECK_HEADERS), 0);
    EXPECT_EQ(Library().checkArchive(bad.c_str(), ARC_CHECK_FULL), 0);
    auto tested = Library().Run("t \"" + bad + "\"");
    EXPECT_NE(tested.code, 0);
    EXPECT_THAT(tested.text, HasSubstr("readme.txt"));

    const std::string text = scratch_.Write("text.lzh", "no archive");
    EXPECT_EQ(Library().checkArchive(text.c_str(), ARC_CHECK_QUICK), 0);
    EXPECT_EQ(Library().checkArchive((scratch_.Folder() + "missing").c_str(), ARC_CHECK_QUICK), 0);
    EXPECT_EQ(Library().openArchive(0, text.c_str(), 0), 0u);
}

TEST_F(ListingTest, SelfExtractingFilesOnlyWhenAsked) {
    auto made = Library().Run("s \"" + archive_ + "\" \"" + scratch_.Folder() + "\"");
    ASSERT_EQ(made.code, 0) << made.text;
    const std::string sfx = scratch_.Folder() + "t.exe";
    EXPECT_EQ(Library().checkArchive(sfx.c_str(), ARC_CHECK_QUICK), 0);
    EXPECT_NE(Library().checkArchive(sfx.c_str(), ARC_CHECK_QUICK | ARC_CHECK_EMBEDDED), 0);
    EXPECT_NE(Library().checkArchive(sfx.c_str(), ARC_CHECK_FULL | ARC_CHECK_EMBEDDED), 0);
    EXPECT_EQ(Library().openArchive(0, sfx.c_str(), 0), 0u);
    // The component's format probe mode.
    const HARC handle = Library().openArchive(0, sfx.c_str(), 0x00800002);
    ASSERT_NE(handle, 0u);
    ARCHIVE_ENTRY_RECORD record{};
    ASSERT_EQ(Library().findFirst(handle, "image.bin", &record), 0);
    EXPECT_EQ(record.original_size, 1000u);
    Library().closeArchive(handle);
}

}  // namespace
}  // namespace zembrat::unlha32::testing
