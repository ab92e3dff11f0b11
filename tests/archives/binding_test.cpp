#include "archives/archiver_dll.h"

#include <gtest/gtest.h>

#include "archives/archiver_errors.h"
#include "component_test_support.h"

namespace zembrat::archives {
namespace {

using testing::RecorderAccess;

class Binding : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::OverrideLibrarySearch(std::vector<std::string>{platform::ProgramFolder()}, false);
    }
    void TearDown() override { platform::RestoreLibrarySearch(); }
};

std::string MessageOf(auto&& operation) {
    try {
        operation();
    } catch (const EArchiver& error) {
        return error.what();
    }
    return "no exception";
}

TEST_F(Binding, MissingLibraryIsReportedByTheFirstLoadingCallOnly) {
    TArchiverDll binding("LHA 形式書庫", "NOSUCH32.DLL", "Unlha");  // touches nothing
    EXPECT_EQ(binding.Handle(), nullptr);
    std::string output(16, 'x');
    EXPECT_THROW(binding.Command(0, "l", output.data(), 16), ENoArchiverDLL);
    EXPECT_EQ(MessageOf([&] { binding.CheckArchive("a.lzh", 0); }),
              "LHA 形式書庫 を扱うには NOSUCH32.DLL が 必要です。");
}

TEST_F(Binding, EntriesAreLookedUpOnceAndAgainAfterFreeDll) {
    TArchiverDll binding("LHA 形式書庫", "UNLHA32.DLL", "Unlha");
    std::string output(64, 'x');
    binding.Command(7, "l -+", output.data(), 64);
    binding.Command(7, "l -+", output.data(), 0);  // size 0: the library gets no buffer
    EXPECT_EQ(binding.LookupCount(), 1u);
    const std::string log = RecorderAccess(binding.Handle()).Log();
    EXPECT_NE(log.find("Unlha 7 [l -+] buffer 64\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Unlha 7 [l -+] null 0\n"), std::string::npos) << log;

    binding.FreeDLL();
    EXPECT_EQ(binding.Handle(), nullptr);
    EXPECT_EQ(binding.CachedEntry(Entry::Command), nullptr);
    binding.Command(7, "l -+", output.data(), 64);
    EXPECT_NE(binding.Handle(), nullptr);
    EXPECT_EQ(binding.LookupCount(), 2u);
}

TEST_F(Binding, MissingRequiredEntryNamesTheLibrarysFullPath) {
    TArchiverDll binding("LHA 形式書庫", "NOCHECK32.DLL", "Unlha");
    const std::string message = MessageOf([&] { binding.CheckArchive("a.lzh", 0); });
    EXPECT_EQ(message, platform::ProgramFolder() +
                           "libnocheck32.so に UnlhaCheckArchive のエントリが見つかりません。");
    EXPECT_THROW(binding.CheckArchive("a.lzh", 0), EEntryNotFound);
    EXPECT_NE(binding.Handle(), nullptr) << "the library stays loaded";
    EXPECT_EQ(binding.CachedEntry(Entry::CheckArchive), nullptr);
}

TEST_F(Binding, ListingTakesTimesAndSizesFromTheGettersThatExist) {
    const platform::FileTime dosTime = platform::DosDateTimeToFileTime(
        ((2024 - 1980) << 9) | (1 << 5) | 2, (3 << 11) | (4 << 5) | 3);

    TArchiverDll full("LHA 形式書庫", "UNLHA32.DLL", "Unlha");
    full.LoadDLL();
    RecorderAccess(full.Handle()).SetMembers(2);
    TArchiveEntryInfo entry{};
    const HARC archive = full.OpenArchive(0, "/a.lzh", 0);
    ASSERT_EQ(full.FindFirst(archive, "*", entry), 0);
    // The entry record is packed: unary + reads each field by value (a reference to it would
    // be misaligned).
    EXPECT_EQ(+entry.lastWriteTime, 20'000'000u);
    EXPECT_EQ(+entry.creationTime, 30'000'000u);
    EXPECT_EQ(+entry.lastAccessTime, 40'000'000u);
    EXPECT_EQ(+entry.originalSize, 0x1'0000'0000u);
    EXPECT_EQ(+entry.compressedSize, 0x2'0000'0000u);
    ASSERT_EQ(full.FindNext(archive, entry), 0);
    EXPECT_STREQ(entry.record.file_name, "member1.txt");
    entry.originalSize = 77;
    EXPECT_NE(full.FindNext(archive, entry), 0);
    EXPECT_EQ(+entry.originalSize, 77u) << "no member: the extension is left alone";

    TArchiverDll partial("LHA 形式書庫", "PARTIAL32.DLL", "Unlha");
    partial.LoadDLL();
    RecorderAccess(partial.Handle()).SetMembers(1);
    ASSERT_EQ(partial.FindFirst(partial.OpenArchive(0, "/a.lzh", 0), "*", entry), 0);
    EXPECT_EQ(+entry.lastWriteTime, dosTime);
    EXPECT_EQ(+entry.creationTime, dosTime);
    EXPECT_EQ(+entry.lastAccessTime, 40'000'000u);
    EXPECT_EQ(+entry.originalSize, 0x1'0000'0000u);
    EXPECT_EQ(+entry.compressedSize, 500u) << "the 32-bit size, zero-extended";
}

}  // namespace
}  // namespace zembrat::archives
