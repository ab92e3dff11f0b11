#include "filters/file_filter.h"

#include <sys/stat.h>
#include <algorithm>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "archives/archiver_errors.h"
#include "archives/archiver_types.h"
#include "platform/file_system.h"
#include "platform/file_time.h"
#include "platform/path.h"

namespace zembrat::filters {

using archives::StringList;
using archives::TArchiverOptions;
namespace platform = zembrat::platform;

namespace {

constexpr std::uint32_t kPlainFileMask = 0x21;  // plain files only
constexpr std::uint32_t kAllFilesMask = 0x27;   // also hidden and system files
constexpr std::uint32_t kSubfolderMask = 0x16;  // every entry but volume labels
// The attributes a search mask must name for an entry that carries them to be listed.
constexpr std::uint32_t kFilteredAttributes = platform::kAttrHidden | platform::kAttrSystem |
                                              platform::kAttrVolumeId | platform::kAttrDirectory;
constexpr std::uint64_t kTicksPerSecond = 10'000'000;

// Sorted ignoring ASCII case; names spelled alike but for case stay apart, since the host
// file system keeps them apart.
struct FileNameOrder {
    bool operator()(const std::string& left, const std::string& right) const {
        const std::size_t length = std::min(left.size(), right.size());
        for (std::size_t i = 0; i < length; ++i) {
            const int a = Lower(static_cast<unsigned char>(left[i]));
            const int b = Lower(static_cast<unsigned char>(right[i]));
            if (a != b) {
                return a < b;
            }
        }
        if (left.size() != right.size()) {
            return left.size() < right.size();
        }
        return left < right;
    }
    static int Lower(int c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }
};
using SortedNames = std::set<std::string, FileNameOrder>;

// Restores the process's current folder when the walk ends, however it ends.
class CurrentFolderGuard {
  public:
    explicit CurrentFolderGuard(const std::string& baseFolder) {
        if (!baseFolder.empty()) {
            saved_ = platform::GetCurrentDirectory();
            active_ = true;
            platform::SetCurrentDirectory(
                baseFolder);  // a folder that cannot be entered is ignored
        }
    }
    ~CurrentFolderGuard() {
        if (active_) {
            platform::SetCurrentDirectory(saved_);
        }
    }
    CurrentFolderGuard(const CurrentFolderGuard&) = delete;
    CurrentFolderGuard& operator=(const CurrentFolderGuard&) = delete;

  private:
    std::string saved_;
    bool active_ = false;
};

class Collector {
  public:
    Collector(const TArchiverOptions& options, const std::string& baseFolder,
              const SortedNames* exclusions, const FilterProgress* progress, bool& abort)
        : options_(options),
          baseFolder_(baseFolder),
          exclusions_(exclusions),
          progress_(progress),
          abort_(abort) {
        const int year = platform::GetLocalTime().year;
        lowerBound_ = ParseDateBound(options.jo, "000000", year);
        upperBound_ = ParseDateBound(options.job, "235959", year);
        fileMask_ = options.a >= 1 ? kAllFilesMask : kPlainFileMask;
    }

    SortedNames Collect(const StringList& patterns, bool include) {
        if (patterns.empty()) {
            if (include) {
                Walk("", "*.*", Match::kMask);
            }
            return std::move(result_);
        }
        for (const auto& pattern : patterns) {
            if (abort_) {
                break;
            }
            if (options_.r >= 2 && platform::DirectoryExists(pattern)) {
                Walk(pattern, "*.*", Match::kMask);
                continue;
            }
            std::string folder;
            std::string mask = pattern;
            const std::size_t slash = pattern.rfind('/');
            if (slash != std::string::npos) {
                // The root keeps its delimiter ("/a" searches "/"), others drop it.
                const std::size_t folderEnd =
                    (slash == 0 || pattern[slash - 1] == '/') ? slash + 1 : slash;
                folder = pattern.substr(0, folderEnd);
                mask = pattern.substr(slash + 1);
            }
            // A file that exists exactly as written is that one file, never a pattern, even
            // when its name holds '*' or '?'. Named by the caller, it is taken though hidden
            // (the mask is for what wildcards and folders bring in); a special file still
            // needs the mask, since reading a pipe or a device may never end.
            const auto named = platform::GetFindData(pattern);
            if (named && (named->attributes & platform::kAttrDirectory) == 0) {
                const std::uint32_t attributes = named->attributes & ~platform::kAttrHidden;
                if ((attributes & ~fileMask_ & kFilteredAttributes) == 0 &&
                    WithinDateRange(named->lastWriteTime)) {
                    AddName(BuildName(folder, mask));
                }
                if (!abort_ && options_.r >= 1 && options_.p <= 0) {
                    WalkSubfolders(folder, mask, Match::kExactName);
                }
                continue;
            }
            Walk(folder, mask, Match::kMask);
        }
        return std::move(result_);
    }

  private:
    // How the last part of a pattern selects names: as a wildcard mask, or as the one name it
    // spells (a file whose own name holds '*' or '?').
    enum class Match { kMask, kExactName };

    void Walk(const std::string& folder, const std::string& mask, Match match) {
        // A folder reached again through a symbolic link would make the walk endless.
        struct stat info {};
        const std::string statPath = folder.empty() ? "." : folder;
        if (::stat(statPath.c_str(), &info) == 0) {
            const auto id = std::pair{info.st_dev, info.st_ino};
            if (std::find(chain_.begin(), chain_.end(), id) != chain_.end()) {
                return;
            }
            chain_.push_back(id);
        } else {
            chain_.push_back({0, 0});
        }
        if (match == Match::kExactName) {
            WalkExactName(folder, mask);
        } else {
            WalkFiles(folder, mask);
        }
        if (!abort_ && options_.r >= 1 &&
            (options_.p <= 0 || mask.find_first_of("?*") != std::string::npos)) {
            WalkSubfolders(folder, mask, match);
        }
        chain_.pop_back();
    }

    // One stat instead of a folder listing; the attribute mask applies, since the folder
    // walk brought the name in.
    void WalkExactName(const std::string& folder, const std::string& name) {
        const auto entry = platform::GetFindData(platform::JoinPath(folder, name));
        if (entry && (entry->attributes & ~fileMask_ & kFilteredAttributes) == 0 &&
            WithinDateRange(entry->lastWriteTime)) {
            AddName(BuildName(folder, name));
        }
    }

    void WalkFiles(const std::string& folder, const std::string& mask) {
        platform::FileSearch search(platform::JoinPath(folder, mask), fileMask_);
        platform::FindData entry;
        while (search.Next(entry)) {
            if (abort_) {
                return;
            }
            if (entry.name == "." || entry.name == "..") {
                continue;
            }
            if (!WithinDateRange(entry.lastWriteTime)) {
                continue;
            }
            AddName(BuildName(folder, entry.name));
        }
    }

    void WalkSubfolders(const std::string& folder, const std::string& mask, Match match) {
        platform::FileSearch search(platform::JoinPath(folder, "*.*"), kSubfolderMask);
        platform::FindData entry;
        while (search.Next(entry)) {
            if (abort_) {
                return;
            }
            if ((entry.attributes & platform::kAttrDirectory) != 0 && entry.name != "." &&
                entry.name != "..") {
                Walk(platform::JoinPath(folder, entry.name), mask, match);
                if (abort_) {
                    return;
                }
            }
        }
    }

    bool WithinDateRange(platform::FileTime writeTime) const {
        if (!lowerBound_ && !upperBound_) {
            return true;
        }
        platform::FileTime local =
            writeTime == 0 ? 0 : platform::FileTimeToLocalFileTime(writeTime);
        local -= local % kTicksPerSecond;  // bounds have whole seconds
        return !(lowerBound_ && local < *lowerBound_) && !(upperBound_ && local > *upperBound_);
    }

    // There are no short names here: the long name always serves.
    std::string BuildName(const std::string& folder, const std::string& name) const {
        std::string path = platform::JoinPath(folder, name);
        if (options_.jf == -2 && !baseFolder_.empty() && !path.empty() && path.front() == '/') {
            path = platform::ExtractRelativePath(baseFolder_, path);
        }
        return path;
    }

    void AddName(const std::string& name) {
        if (exclusions_ != nullptr && exclusions_->contains(name)) {
            return;
        }
        if (!result_.insert(name).second || progress_ == nullptr || !*progress_) {
            return;
        }
        EXTRACTINGINFOEX record{};
        std::strncpy(record.source_file_name, name.c_str(), ARC_NAME_MAX);
        (*progress_)(ARC_PROGRESS_SELECT, &record, abort_);  // only the callback sets it
    }

    const TArchiverOptions& options_;
    const std::string& baseFolder_;
    const SortedNames* exclusions_;
    const FilterProgress* progress_;
    bool& abort_;
    std::optional<std::uint64_t> lowerBound_;
    std::optional<std::uint64_t> upperBound_;
    std::uint32_t fileMask_ = kPlainFileMask;
    SortedNames result_;
    std::vector<std::pair<dev_t, ino_t>> chain_;
};

int ToInteger(std::string_view digits) {
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            throw archives::EConvertError("'" + std::string(digits) + "' は整数ではありません");
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

std::optional<std::uint64_t> ParseDateBound(const std::string& text, std::string_view defaultTime,
                                            int currentYear) {
    std::string_view value = text;
    if (value.size() > 1 && value.front() == 'l') {
        value.remove_prefix(1);
    }
    value = value.substr(0, 99);
    int yearDigits = 0;
    switch (value.size()) {
        case 6:
        case 12:
            yearDigits = 2;
            break;
        case 8:
        case 14:
            yearDigits = 4;
            break;
        default:
            return std::nullopt;
    }
    const std::string_view date = value.substr(0, yearDigits + 4);
    const std::string_view time =
        value.size() > date.size() ? value.substr(date.size()) : defaultTime;

    int year = ToInteger(date.substr(0, yearDigits));
    const int month = ToInteger(date.substr(yearDigits, 2));
    const int day = ToInteger(date.substr(yearDigits + 2, 2));
    const int hour = ToInteger(time.substr(0, 2));
    const int minute = ToInteger(time.substr(2, 2));
    const int second = ToInteger(time.substr(4, 2));
    if (yearDigits == 2) {
        const int windowStart = currentYear - 50;
        year += 100 * (windowStart / 100);
        if (year < windowStart) {
            year += 100;
        }
    }
    const auto dateOnly = platform::SystemTimeToFileTime({year, month, day, 0, 0, 0, 0});
    if (!dateOnly) {
        throw archives::EConvertError("日付に変換できない値が渡されました");
    }
    if (hour > 23 || minute > 59 || second > 59) {
        throw archives::EConvertError("時刻に変換できない値が渡されました");
    }
    return *dateOnly +
           static_cast<std::uint64_t>(hour * 3600 + minute * 60 + second) * kTicksPerSecond;
}

StringList ExpandFileList(TArchiverOptions& options, const std::string& baseFolder,
                          const FilterProgress& progress, archives::FileItems items, bool& abort) {
    const CurrentFolderGuard folderGuard(baseFolder);
    const StringList patterns = archives::ExpandItems(items, true);

    const SortedNames exclusions =
        Collector(options, baseFolder, nullptr, nullptr, abort).Collect(options.jx, false);
    const SortedNames found =
        Collector(options, baseFolder, &exclusions, &progress, abort).Collect(patterns, true);

    options.r = -1;
    options.jo = archives::NoValue;
    options.job = archives::NoValue;
    options.p = 1;
    return StringList(found.begin(), found.end());
}

}  // namespace zembrat::filters
