#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <vector>

#include "platform/path.h"

namespace zembrat::platform {

namespace {

constexpr std::uint32_t kFilteredAttributes =
    kAttrHidden | kAttrSystem | kAttrVolumeId | kAttrDirectory;

bool IsHiddenName(std::string_view name) {
    return name.size() > 0 && name.front() == '.' && name != "." && name != "..";
}

// What a directory entry or path is, in the Windows bit layout. linkStatus describes the
// entry itself; targetStatus what it leads to (missing for a dangling link).
std::uint32_t AttributesOf(std::string_view name, const struct stat& linkStatus,
                           const std::optional<struct stat>& targetStatus) {
    std::uint32_t attributes = IsHiddenName(name) ? std::uint32_t{kAttrHidden} : 0u;
    const struct stat& status = targetStatus ? *targetStatus : linkStatus;
    if (S_ISDIR(status.st_mode)) {
        attributes |= kAttrDirectory;
    } else if (S_ISREG(status.st_mode) || S_ISLNK(status.st_mode)) {
        // A dangling link shows as a plain file.
        attributes |= kAttrArchive;
    } else {
        attributes |= kAttrSystem;
    }
    if ((status.st_mode & S_IWUSR) == 0) {
        attributes |= kAttrReadOnly;
    }
    return attributes;
}

// Both views of an entry relative to a folder descriptor (AT_FDCWD for plain paths).
struct EntryStatus {
    struct stat link {};
    std::optional<struct stat> target;
};

std::optional<EntryStatus> StatEntry(int folder, const char* path) {
    EntryStatus status;
    if (fstatat(folder, path, &status.link, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    if (S_ISLNK(status.link.st_mode)) {
        struct stat target {};
        if (fstatat(folder, path, &target, 0) == 0) {
            status.target = target;
        }
    } else {
        status.target = status.link;
    }
    return status;
}

// The last name of a path, ignoring trailing delimiters ("a/.hidden/" -> ".hidden").
std::string_view LastName(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

FileTime ModificationTime(const struct stat& status) {
    return FileTimeFromUnix(status.st_mtim.tv_sec,
                            static_cast<std::uint32_t>(status.st_mtim.tv_nsec));
}

FindData Describe(std::string_view name, const EntryStatus& status) {
    FindData entry;
    entry.name = std::string(name);
    entry.attributes = AttributesOf(name, status.link, status.target);
    const struct stat& described = status.target ? *status.target : status.link;
    entry.lastWriteTime = ModificationTime(described);
    entry.size = (entry.attributes & kAttrDirectory) != 0
                     ? 0
                     : static_cast<std::uint64_t>(described.st_size);
    return entry;
}

// '?' takes one whole character, '*' any run; iterative, going back only to the last '*',
// so many stars cost no more than one.
bool MatchesWildcards(std::string_view name, std::string_view mask, CodePage codePage,
                      LetterCase letterCase) {
    std::size_t n = 0;
    std::size_t m = 0;
    std::size_t starMask = std::string_view::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (m < mask.size()) {
            const std::size_t maskLength = CharacterLength(mask, m, codePage);
            const std::size_t nameLength = CharacterLength(name, n, codePage);
            if (maskLength == 1 && mask[m] == '*') {
                starMask = ++m;
                starName = n;
                continue;
            }
            if (maskLength == 1 && mask[m] == '?') {
                n += nameLength;
                ++m;
                continue;
            }
            const std::string_view nameCharacter = name.substr(n, nameLength);
            const std::string_view maskCharacter = mask.substr(m, maskLength);
            if (letterCase == LetterCase::kRespect
                    ? nameCharacter == maskCharacter
                    : EqualsIgnoringAsciiCase(nameCharacter, maskCharacter, codePage)) {
                n += nameLength;
                m += maskLength;
                continue;
            }
        }
        if (starMask == std::string_view::npos) {
            return false;
        }
        // Let the last '*' take one more character and try again from there.
        starName += CharacterLength(name, starName, codePage);
        n = starName;
        m = starMask;
    }
    while (m < mask.size() && mask[m] == '*') {
        ++m;
    }
    return m == mask.size();
}

}  // namespace

std::uint32_t GetFileAttributes(std::string_view path) {
    if (path.empty()) {
        return kInvalidAttributes;
    }
    const std::string text(path);
    const auto status = StatEntry(AT_FDCWD, text.c_str());
    if (!status) {
        return kInvalidAttributes;
    }
    return AttributesOf(LastName(path), status->link, status->target);
}

std::optional<FindData> GetFindData(std::string_view path) {
    if (path.empty()) {
        return std::nullopt;
    }
    const std::string text(path);
    const auto status = StatEntry(AT_FDCWD, text.c_str());
    if (!status) {
        return std::nullopt;
    }
    return Describe(LastName(path), *status);
}

bool FileExists(std::string_view path) {
    const std::uint32_t attributes = GetFileAttributes(path);
    return attributes != kInvalidAttributes && (attributes & kAttrDirectory) == 0;
}

bool DirectoryExists(std::string_view path) {
    const std::uint32_t attributes = GetFileAttributes(path);
    return attributes != kInvalidAttributes && (attributes & kAttrDirectory) != 0;
}

bool DeleteFile(std::string_view path) {
    return unlink(std::string(path).c_str()) == 0;
}

bool RenameFile(std::string_view from, std::string_view to) {
    const std::string source(from);
    const std::string target(to);
    // Like a rename on Windows, never replace what already exists under the new name.
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // The file system cannot refuse by itself: check first.
    struct stat existing {};
    if (lstat(target.c_str(), &existing) == 0) {
        errno = EEXIST;
        return false;
    }
    return std::rename(source.c_str(), target.c_str()) == 0;
}

std::string GetCurrentDirectory() {
    std::vector<char> buffer(256);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return std::string();
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data());
}

bool SetCurrentDirectory(std::string_view path) {
    return !path.empty() && chdir(std::string(path).c_str()) == 0;
}

bool MatchesMask(std::string_view name, std::string_view mask, CodePage codePage,
                 LetterCase letterCase) {
    if (MatchesWildcards(name, mask, codePage, letterCase)) {
        return true;
    }
    // A trailing ".*" also accepts a name without any extension: "*.*" matches "README".
    if (mask.ends_with(".*")) {
        return MatchesWildcards(name, mask.substr(0, mask.size() - 2), codePage, letterCase);
    }
    return false;
}

FileSearch::FileSearch(std::string_view pattern, std::uint32_t attributeMask)
    : attributeMask_(attributeMask) {
    const PathSyntax syntax = PathSyntax::Host();
    const std::size_t nameStart = FileNameStart(pattern, syntax);
    folder_ = std::string(pattern.substr(0, nameStart));
    mask_ = std::string(pattern.substr(nameStart));
    directory_ = opendir(folder_.empty() ? "." : folder_.c_str());
}

FileSearch::~FileSearch() {
    if (directory_ != nullptr) {
        closedir(directory_);
    }
}

bool FileSearch::Next(FindData& entry) {
    if (directory_ == nullptr) {
        return false;
    }
    while (const dirent* item = readdir(directory_)) {
        const std::string_view name(item->d_name);
        if (!MatchesMask(name, mask_, SystemCodePage())) {
            continue;
        }
        const auto status = StatEntry(dirfd(directory_), item->d_name);
        if (!status) {
            continue;  // removed since the folder was read
        }
        FindData found = Describe(name, *status);
        if ((found.attributes & ~attributeMask_ & kFilteredAttributes) != 0) {
            continue;
        }
        entry = std::move(found);
        return true;
    }
    return false;
}

}  // namespace zembrat::platform
