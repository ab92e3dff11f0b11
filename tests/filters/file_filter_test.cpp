#include "filters/file_filter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <ctime>
#include <filesystem>

#include "archives/archiver_errors.h"
#include "component_test_support.h"
#include "platform/file_system.h"

namespace zembrat::filters {
namespace {

using archives::FileItem;
using archives::StringList;
using archives::TArchiverOptions;
using testing::TempFolder;

// Runs the filter over the given patterns and remembers what the callback saw.
struct Expansion {
    StringList result;
    std::vector<std::string> selected;
};

Expansion Expand(TArchiverOptions& options, const std::string& base, const StringList& patterns,
                 int abortAfter = -1) {
    Expansion run;
    bool abort = false;
    const std::array<FileItem, 1> items{FileItem(std::cref(patterns))};
    run.result = ExpandFileList(
        options, base,
        [&](int state, LPEXTRACTINGINFOEX record, bool& stop) {
            EXPECT_EQ(state, 2053);
            run.selected.emplace_back(record->source_file_name);
            stop = static_cast<int>(run.selected.size()) == abortAfter;
        },
        patterns.empty() ? archives::FileItems{} : archives::FileItems(items), abort);
    return run;
}

void SetLocalWriteTime(const std::string& path, int year, int month, int day, int hour, int minute,
                       int second) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class FileFilter : public ::testing::Test {
  protected:
    void SetUp() override {
        folder.Write("b.txt");
        folder.Write("A.doc");
        folder.Write(".hidden");
        folder.Write("sub/c.txt");
        folder.Write("sub/deep/d.txt");
        ::mkfifo((folder / "pipe").c_str(), 0600);
        root = folder.Path().string() + "/";
    }
    TempFolder folder;
    std::string root;
};

TEST_F(FileFilter, NoItemsTakeThePlainFilesOfTheBaseFolder) {
    TArchiverOptions options;
    const std::string before = platform::GetCurrentDirectory();
    EXPECT_EQ(Expand(options, root, {}).result, (StringList{"A.doc", "b.txt"}));
    EXPECT_EQ(platform::GetCurrentDirectory(), before);

    options.r = 1;
    EXPECT_EQ(Expand(options, root, {}).result,
              (StringList{"A.doc", "b.txt", "sub/c.txt", "sub/deep/d.txt"}));
    EXPECT_EQ(options.r, -1) << "the copy carries no selection switches afterwards";
    EXPECT_EQ(options.p, 1);
    EXPECT_TRUE(archives::IsNoValue(options.jo));
}

// A hidden file named by the caller is taken; what wildcards bring in follows the mask, and
// special files (a pipe would block the reader) need a1 either way.
TEST_F(FileFilter, HiddenAndSpecialFilesOnlyWithA1UnlessAHiddenFileIsNamed) {
    TArchiverOptions options;
    EXPECT_EQ(Expand(options, "", {root + ".hidden", root + "pipe"}).result,
              (StringList{root + ".hidden"}));
    EXPECT_TRUE(Expand(options, "", {root + ".hid*", root + "pip?"}).result.empty());
    options.a = 1;
    EXPECT_EQ(Expand(options, "", {root + ".hid*", root + "pip?"}).result,
              (StringList{root + ".hidden", root + "pipe"}));
}

// A name that exists exactly as written is that one file, even when it holds '*' or '?';
// matching respects case; an exact name looked for in subfolders stays exact.
TEST_F(FileFilter, ExistingNamesAreNeverPatternsAndCaseCounts) {
    for (const char* name : {"*.txt", "q?.txt", "qX.txt", "B.TXT"}) {
        std::ofstream(root + name) << name;
    }
    std::ofstream(root + "sub/*.txt") << "deep star";
    TArchiverOptions options;
    const std::vector<std::pair<std::string, StringList>> cases = {
        {"*.txt", {"*.txt"}}, {"q?.txt", {"q?.txt"}}, {"q*.TXT", {}},       {"b.txt", {"b.txt"}},
        {"B.TXT", {"B.TXT"}}, {"C.TXT", {}},          {"?.TXT", {"B.TXT"}},
    };
    for (const auto& [pattern, expected] : cases) {
        EXPECT_EQ(Expand(options, root, {pattern}).result, expected) << pattern;
    }
    options.r = 1;
    options.p = 0;
    EXPECT_EQ(Expand(options, root, {"*.txt"}).result, (StringList{"*.txt", "sub/*.txt"}));
}

TEST_F(FileFilter, RecursionFollowsRAndP) {
    TArchiverOptions options;
    options.r = 1;
    EXPECT_TRUE(Expand(options, "", {root + "sub"}).result.empty())
        << "r1 matches a folder's name as a file name only";
    options.r = 2;
    EXPECT_EQ(Expand(options, "", {root + "sub"}).result,
              (StringList{root + "sub/c.txt", root + "sub/deep/d.txt"}));

    options.r = 1;
    options.p = 1;
    EXPECT_TRUE(Expand(options, root, {"c.txt"}).result.empty())
        << "p1: a name without wildcard is not looked for in subfolders";
    options.r = 1;
    options.p = 1;
    EXPECT_EQ(Expand(options, root, {"*.txt"}).result,
              (StringList{"b.txt", "sub/c.txt", "sub/deep/d.txt"}));
    options.r = 1;
    options.p = 0;
    EXPECT_EQ(Expand(options, root, {"c.txt"}).result, (StringList{"sub/c.txt"}));
}

TEST_F(FileFilter, ExclusionsRemoveExactlyWhatTheyMatch) {
    TArchiverOptions options;
    options.r = 1;
    options.jx = {"*.doc", "sub/deep/d.txt"};
    // The same file reached through an absolute pattern is spelled otherwise: it stays.
    EXPECT_EQ(Expand(options, root, {"*.*", root + "sub/deep/*.txt"}).result,
              (StringList{root + "sub/deep/d.txt", "b.txt", "sub/c.txt"}));
}

TEST_F(FileFilter, DuplicatesAreListedAndReportedOnce) {
    TArchiverOptions options;
    const Expansion run = Expand(options, "", {root + "b.txt", root + "*.txt", root + "b.txt"});
    EXPECT_EQ(run.result, (StringList{root + "b.txt"}));
    EXPECT_EQ(run.selected, (std::vector<std::string>{root + "b.txt"}));
}

TEST_F(FileFilter, RelativeNamesWithJfMinus2) {
    TArchiverOptions options;
    options.jf = -2;
    EXPECT_EQ(Expand(options, root, {root + "sub/c.txt", root + "b.txt"}).result,
              (StringList{"b.txt", "sub/c.txt"}));
}

TEST_F(FileFilter, DateBoundsSelectWholeDaysInLocalTime) {
    SetLocalWriteTime(root + "b.txt", 2024, 1, 1, 0, 0, 0);
    SetLocalWriteTime(root + "A.doc", 2024, 1, 31, 23, 59, 59);
    SetLocalWriteTime(root + "sub/c.txt", 2024, 2, 1, 0, 0, 0);
    SetLocalWriteTime(root + "sub/deep/d.txt", 2023, 12, 31, 23, 59, 59);
    TArchiverOptions options;
    options.r = 1;
    options.jo = "240101";
    options.job = "l20240131";
    EXPECT_EQ(Expand(options, root, {"*.*"}).result, (StringList{"A.doc", "b.txt"}));
}

TEST_F(FileFilter, AbortStopsTheWalkAndKeepsWhatWasFound) {
    TArchiverOptions options;
    options.r = 1;
    const Expansion run = Expand(options, root, {"*.*"}, 1);
    EXPECT_EQ(run.result.size(), 1u);
    EXPECT_EQ(options.p, 1) << "options are still changed";
}

TEST_F(FileFilter, BadDatesRaiseAndTheCurrentFolderComesBack) {
    const std::string before = platform::GetCurrentDirectory();
    TArchiverOptions options;
    options.jo = "24a101";
    try {
        Expand(options, root, {"*.*"});
        FAIL();
    } catch (const archives::EConvertError& error) {
        EXPECT_STREQ(error.what(), "'a1' は整数ではありません");
    }
    EXPECT_EQ(platform::GetCurrentDirectory(), before);
}

TEST_F(FileFilter, ALinkBackToItsOwnFolderDoesNotLoopForever) {
    std::filesystem::create_directory_symlink(folder.Path(), folder.Path() / "sub" / "loop");
    TArchiverOptions options;
    options.r = 1;
    const StringList result = Expand(options, root, {"*.txt"}).result;
    EXPECT_EQ(result, (StringList{"b.txt", "sub/c.txt", "sub/deep/d.txt"}));
}

TEST(ParseDateBound, LengthsYearWindowAndErrors) {
    auto year = [](std::optional<std::uint64_t> value) {
        return platform::FileTimeToSystemTime(value.value()).year;
    };
    EXPECT_EQ(ParseDateBound(archives::NoValue, "000000", 2026), std::nullopt);
    EXPECT_EQ(ParseDateBound("", "000000", 2026), std::nullopt);
    EXPECT_EQ(ParseDateBound("2401011", "000000", 2026), std::nullopt);
    // The very first instant is a bound too, not "no bound".
    EXPECT_EQ(ParseDateBound("16010101000000", "000000", 2026), std::optional<std::uint64_t>(0));
    EXPECT_EQ(year(ParseDateBound("760101", "000000", 2026)), 1976);
    EXPECT_EQ(year(ParseDateBound("750101", "000000", 2026)), 2075);
    EXPECT_EQ(year(ParseDateBound("000101", "000000", 2026)), 2000);
    EXPECT_EQ(year(ParseDateBound("19990101", "000000", 2026)), 1999);

    const auto time =
        platform::FileTimeToSystemTime(ParseDateBound("l240131", "235959", 2026).value());
    EXPECT_EQ(time, (platform::SystemTime{2024, 1, 31, 23, 59, 59, 0}));
    const auto explicitTime =
        platform::FileTimeToSystemTime(ParseDateBound("20240131120102", "235959", 2026).value());
    EXPECT_EQ(explicitTime, (platform::SystemTime{2024, 1, 31, 12, 1, 2, 0}));

    auto message = [](const std::string& text) {
        try {
            ParseDateBound(text, "000000", 2026);
        } catch (const archives::EConvertError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message("240230"), "日付に変換できない値が渡されました");
    EXPECT_EQ(message("240101246000"), "時刻に変換できない値が渡されました");
    EXPECT_EQ(message("2401x1"), "'x1' は整数ではありません");
}

}  // namespace
}  // namespace zembrat::filters
