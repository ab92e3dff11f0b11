#include "archive_listing.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <set>

#include "archives/archive_file.h"
#include "archives/archiver_errors.h"
#include "batch/batch_run.h"
#include "display_text.h"
#include "drivers/rar32.h"
#include "exit_status.h"
#include "interrupt.h"
#include "platform/file_time.h"

namespace zembrat::cli {

namespace {

constexpr std::size_t kSizeColumns = 12;
constexpr std::size_t kRatioColumns = 6;
constexpr std::size_t kMethodColumns = 7;
constexpr std::size_t kTimeColumns = 19;

// FindFirst / FindNext: 0 a member, -1 no more; anything else is the library's error.
constexpr int kNoMoreMembers = -1;

std::string Ratio(std::uint64_t original, std::uint64_t packed) {
    if (original == 0) {
        return PadLeft("-", kRatioColumns);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%",
                  static_cast<double>(packed) * 100.0 / static_cast<double>(original));
    return PadLeft(text, kRatioColumns);
}

std::string LocalTimeText(platform::FileTime utc) {
    const platform::SystemTime time =
        platform::FileTimeToSystemTime(platform::FileTimeToLocalFileTime(utc));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
    return text;
}

// Why an archive could not be read, as far as the caller can tell.
std::string Unreadable(const std::string& path, std::string_view otherwise) {
    std::error_code error;
    return std::filesystem::exists(path, error) ? std::string(otherwise)
                                                : "ファイルが見つかりません";
}

std::string Field(const char* text, std::size_t capacity) {
    return std::string(text, ::strnlen(text, capacity));
}

// The component used for list and test: configured like the batch run's, so that a name
// whose extension names no kind is recognised by content and a kind without a driver is
// refused the same way.
std::unique_ptr<archives::TArchiveFile> MakeComponent() {
    auto archive = std::make_unique<archives::TArchiveFile>();
    archive->SetArchiverType(archives::atLha);
    return archive;
}

// Runs one action per archive; the action answers whether the archive was sound.
int ForEachArchive(const CliArguments& arguments, Console& console,
                   const std::function<bool(archives::TArchiver&, const std::string&)>& action) {
    bool anyFailed = false;
    try {
        const auto archive = MakeComponent();
        for (const std::string& path : arguments.files) {
            if (InterruptSignal() != 0) {
                console.Error("処理を中断しました");
                return ExitStatusForSignal(InterruptSignal());
            }
            try {
                archive->SetFileName(path);
            } catch (const archives::ENoArchiverDLL&) {
                throw;
            } catch (const archives::EEntryNotFound&) {
                throw;
            } catch (const archives::EArchiver& error) {
                // A file of no known kind fails alone, as in the batch.
                console.Error("書庫を開けません: " + EscapeControls(path) + " (" + error.what() +
                              ")");
                anyFailed = true;
                continue;
            }
            if (!action(*archive->Archiver(), path)) {
                anyFailed = true;
            }
        }
    } catch (const std::exception& error) {
        console.Error(error.what());
        return kExitComponentError;
    }
    return anyFailed ? kExitFileFailed : kExitSuccess;
}

// Closes the listing handle however the listing ends.
class OpenedArchive {
  public:
    OpenedArchive(archives::TArchiver& driver, HARC handle) : driver_(driver), handle_(handle) {}
    ~OpenedArchive() {
        if (handle_ != 0) {
            driver_.CloseArchive(handle_);
        }
    }
    OpenedArchive(const OpenedArchive&) = delete;
    OpenedArchive& operator=(const OpenedArchive&) = delete;
    HARC Handle() const { return handle_; }

  private:
    archives::TArchiver& driver_;
    HARC handle_;
};

bool ListArchive(archives::TArchiver& driver, const std::string& path, Console& console,
                 bool first) {
    const OpenedArchive opened(driver, driver.OpenArchive(0, path, ARC_OPEN_EMBEDDED));
    if (opened.Handle() == 0) {
        console.Error("書庫を開けません: " + EscapeControls(path) + " (" +
                      Unreadable(path, "書庫でないか、読めません") + ")");
        return false;
    }
    std::string listing = first ? "" : "\n";
    listing += "書庫: " + EscapeControls(path) + "\n" + ListingHeading() + ListingRule();
    std::uint64_t original = 0;
    std::uint64_t packed = 0;
    std::size_t members = 0;
    archives::TArchiveEntryInfo entry{};
    int found = driver.FindFirst(opened.Handle(), entry, "*");
    while (found == 0) {
        listing += FormatEntryLine(entry);
        if (entry.originalSize != ARC_SIZE_UNKNOWN) {
            original += entry.originalSize;
            packed += entry.compressedSize;
        }
        ++members;
        found = driver.FindNext(opened.Handle(), entry);
    }
    listing += ListingRule() + FormatTotalsLine(original, packed, members);
    console.Out(listing);
    if (found != kNoMoreMembers) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%04X", static_cast<unsigned>(found));
        console.Error("書庫が壊れています: " + EscapeControls(path) + " (結果 " + code + ")");
        return false;
    }
    return true;
}

}  // namespace

std::string ListingHeading() {
    return PadLeft("元のサイズ", kSizeColumns) + " " + PadLeft("圧縮後", kSizeColumns) + " " +
           PadLeft("圧縮率", kRatioColumns) + " " + PadRight("方式", kMethodColumns) + " " +
           PadRight("更新日時", kTimeColumns) + " 名前\n";
}

std::string ListingRule() {
    return std::string(kSizeColumns, '-') + " " + std::string(kSizeColumns, '-') + " " +
           std::string(kRatioColumns, '-') + " " + std::string(kMethodColumns, '-') + " " +
           std::string(kTimeColumns, '-') + " " + std::string(8, '-') + "\n";
}

std::string FormatEntryLine(const archives::TArchiveEntryInfo& entry) {
    const std::string method = Field(entry.record.method, sizeof entry.record.method);
    const std::string name = Field(entry.record.file_name, sizeof entry.record.file_name);
    const bool known = entry.originalSize != ARC_SIZE_UNKNOWN;
    return PadLeft(known ? std::to_string(entry.originalSize) : "-", kSizeColumns) + " " +
           PadLeft(known ? std::to_string(entry.compressedSize) : "-", kSizeColumns) + " " +
           (known ? Ratio(entry.originalSize, entry.compressedSize) : PadLeft("-", kRatioColumns)) +
           " " + PadRight(EscapeControls(method), kMethodColumns) + " " +
           LocalTimeText(entry.lastWriteTime) + " " + EscapeControls(name) + "\n";
}

std::string FormatTotalsLine(std::uint64_t original, std::uint64_t packed, std::size_t members) {
    return PadLeft(std::to_string(original), kSizeColumns) + " " +
           PadLeft(std::to_string(packed), kSizeColumns) + " " + Ratio(original, packed) + " " +
           std::string(kMethodColumns + kTimeColumns + 1, ' ') + " " + std::to_string(members) +
           " 個のファイル\n";
}

int RunListCommand(const CliArguments& arguments, Console& console) {
    bool first = true;
    return ForEachArchive(arguments, console,
                          [&](archives::TArchiver& driver, const std::string& path) {
                              const bool sound = ListArchive(driver, path, console, first);
                              first = false;
                              return sound;
                          });
}

namespace {

enum class TestAnswer { kSound, kBroken, kSkippedLaterVolume };

struct TestVerdict {
    TestAnswer answer;
    std::string reason;  // kBroken: the library's own first line, when it gave one
};

std::filesystem::path Canonical(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::weakly_canonical(path, ignored);
}

// Full depth: every member decoded and its CRC checked; an archive inside a self-extracting
// program is tested too. A RAR archive goes through its library's test line instead, which
// answers for a later volume of a set without reading it: when the set's first volume is
// selected as well, the set is tested once, from there.
TestVerdict TestArchive(archives::TArchiver& driver, const std::string& path,
                        const std::set<std::filesystem::path>& selected) {
    auto* rar = dynamic_cast<drivers::TRar32*>(&driver);
    if (rar != nullptr && path.find_first_of("\"\r\n") == std::string::npos) {
        std::string output;
        const int result = rar->Test(path, output);
        const auto first = batch::SkippedLaterVolume(path, result, output);
        if (!first) {
            if (result == ARC_OK) {
                return {TestAnswer::kSound, {}};
            }
            return {TestAnswer::kBroken, output.substr(0, output.find('\n'))};
        }
        if (selected.contains(Canonical(std::filesystem::path(path).parent_path() / *first))) {
            return {TestAnswer::kSkippedLaterVolume, {}};
        }
    }
    if (driver.CheckArchive(path, ARC_CHECK_FULL, ARC_CHECK_EMBEDDED) != 0) {
        return {TestAnswer::kSound, {}};
    }
    return {TestAnswer::kBroken, {}};
}

}  // namespace

int RunTestCommand(const CliArguments& arguments, Console& console) {
    std::set<std::filesystem::path> selected;
    for (const std::string& path : arguments.files) {
        selected.insert(Canonical(path));
    }
    std::size_t tested = 0;
    std::size_t broken = 0;
    const int status = ForEachArchive(
        arguments, console, [&](archives::TArchiver& driver, const std::string& path) {
            const TestVerdict verdict = TestArchive(driver, path, selected);
            switch (verdict.answer) {
                case TestAnswer::kSkippedLaterVolume:
                    console.Out(kSkippedLaterVolume + EscapeControls(path));
                    return true;
                case TestAnswer::kSound:
                    ++tested;
                    console.Out("正常: " + EscapeControls(path));
                    return true;
                case TestAnswer::kBroken:
                    break;
            }
            ++tested;
            ++broken;
            console.Error("異常: " + EscapeControls(path) + " (" +
                          (verdict.reason.empty() ? Unreadable(path, "書庫でないか、壊れています")
                                                  : EscapeControls(verdict.reason)) +
                          ")");
            return false;
        });
    if (status == kExitSuccess || status == kExitFileFailed) {
        console.Out(std::to_string(tested) + " 個の書庫を検査しました" +
                    (broken == 0 ? "。異常はありません"
                                 : "。" + std::to_string(broken) + " 個に異常があります"));
    }
    return status;
}

}  // namespace zembrat::cli
