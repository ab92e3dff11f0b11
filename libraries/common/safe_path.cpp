#include "common/safe_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "common/staged_file.h"
#include "platform/code_page.h"

namespace zembrat::common {

namespace {

// Parts between '/' and, under the MS-DOS rules, '\\'; under Shift-JIS the second byte of a
// double-byte character (which may be 0x5C) never splits.
std::vector<std::string_view> SplitParts(std::string_view path, NameRules rules = NameRules::kDos) {
    const platform::CodePage codePage = platform::SystemCodePage();
    const bool backslashSeparates = rules == NameRules::kDos;
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i <= path.size()) {
        if (i == path.size() || path[i] == '/' || (backslashSeparates && path[i] == '\\')) {
            if (i > start) {
                parts.push_back(path.substr(start, i - start));
            }
            start = i + 1;
            ++i;
        } else {
            i += std::max<std::size_t>(1, platform::CharacterLength(path, i, codePage));
        }
    }
    return parts;
}

bool IsDriveLetter(std::string_view part) {
    return part.size() >= 2 && part[1] == ':' &&
           ((part[0] >= 'A' && part[0] <= 'Z') || (part[0] >= 'a' && part[0] <= 'z'));
}

std::optional<std::string> RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved) {
        return std::nullopt;
    }
    return std::string(resolved.get());
}

}  // namespace

std::optional<std::string> SafeRelativePath(std::string_view memberName, std::string& reason,
                                            NameRules rules) {
    // The file system ends a name at its first NUL: "..\0x" would be taken as "..".
    if (memberName.find('\0') != std::string_view::npos) {
        reason = "name with a NUL byte";
        return std::nullopt;
    }
    if (!memberName.empty() &&
        (memberName.front() == '/' || (rules == NameRules::kDos && memberName.front() == '\\'))) {
        reason = "absolute name";
        return std::nullopt;
    }
    const auto parts = SplitParts(memberName, rules);
    std::string relative;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string_view part = parts[i];
        if (i == 0 && rules == NameRules::kDos && IsDriveLetter(part)) {
            reason = "name with a drive letter";
            return std::nullopt;
        }
        if (part == "..") {
            reason = "name with a \"..\" part";
            return std::nullopt;
        }
        if (part == ".") {
            continue;
        }
        if (!relative.empty()) {
            relative += '/';
        }
        relative += part;
    }
    if (relative.empty()) {
        reason = "empty name";
        return std::nullopt;
    }
    return relative;
}

std::string EscapeControlCharacters(std::string_view name) {
    // In UTF-8 text the C1 controls U+0080..U+009F (C2 80..C2 9F) act like ESC sequences on
    // many terminals (U+009B is CSI), so they are escaped too; under Shift-JIS those bytes
    // are a half-width kana and a lead byte, and stay.
    const bool utf8 = platform::SystemCodePage() != platform::kCodePageShiftJis;
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
        char escaped[16];
        if (byte < 0x20 || byte == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else if (utf8 && byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            std::snprintf(escaped, sizeof escaped, "\\u%04X", next);
            out += escaped;
            ++i;
        } else {
            out += name[i];
        }
    }
    return out;
}

bool LinkTargetStaysInside(std::string_view linkRelativePath, std::string_view target) {
    if (target.empty() || target.front() == '/' || target.front() == '\\') {
        return false;
    }
    auto parts = SplitParts(linkRelativePath, NameRules::kUnix);
    if (parts.empty()) {
        return false;
    }
    parts.pop_back();  // the link's own name: the target is read from its folder
    for (const std::string_view part : SplitParts(target)) {
        if (part == "..") {
            if (parts.empty()) {
                return false;
            }
            parts.pop_back();
        } else if (part != ".") {
            if (IsDriveLetter(part)) {
                return false;
            }
            parts.push_back(part);
        }
    }
    return true;
}

ExtractionTarget::ExtractionTarget(std::string destination) : folder_(std::move(destination)) {
    if (folder_.empty()) {
        folder_ = "./";
    }
    if (folder_.back() != '/') {
        folder_ += '/';
    }
}

bool ExtractionTarget::CreateFolder(std::string& reason) {
    std::string path;
    for (std::size_t i = 0; i < folder_.size(); ++i) {
        path += folder_[i];
        if (folder_[i] != '/' || path == "/") {
            continue;
        }
        if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
            reason = "cannot create folder " + EscapeControlCharacters(path) + ": " +
                     std::strerror(errno);
            return false;
        }
    }
    const auto real = RealPath(folder_);
    struct stat info {};
    if (!real || stat(real->c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        reason = "the destination is not a folder: " + EscapeControlCharacters(folder_);
        return false;
    }
    realFolder_ = *real;
    return true;
}

bool ExtractionTarget::InsideDestination(const std::string& realPath) const {
    if (realFolder_.empty()) {
        return false;
    }
    if (realPath == realFolder_) {
        return true;
    }
    const std::string prefix = realFolder_ == "/" ? realFolder_ : realFolder_ + "/";
    return realPath.starts_with(prefix);
}

bool ExtractionTarget::MakeLink(const std::string& fullPath, const std::string& linkTarget) {
    const std::size_t slash = fullPath.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string("./") : fullPath.substr(0, slash + 1);
    const std::string temporary = folder + ".zembrat-link-" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(linkTarget.c_str(), temporary.c_str()) != 0 ||
        std::rename(temporary.c_str(), fullPath.c_str()) != 0) {
        const int failure = errno;  // the caller reports it; the clean-up must not replace it
        unlink(temporary.c_str());
        errno = failure;
        return false;
    }
    RememberLink(fullPath);
    return true;
}

std::optional<std::string> ExtractionTarget::Prepare(std::string_view relativePath, bool wantFolder,
                                                     std::string& reason) {
    if (realFolder_.empty() && !CreateFolder(reason)) {
        return std::nullopt;
    }
    const auto parts = SplitParts(relativePath, NameRules::kUnix);
    std::string path = folder_;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        path += parts[i];
        const bool last = i + 1 == parts.size();
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0) {
            if (errno != ENOENT) {
                reason = "cannot examine " + EscapeControlCharacters(path);
                return std::nullopt;
            }
            if (!last || wantFolder) {
                if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
                    reason = "cannot create folder " + EscapeControlCharacters(path) + ": " +
                             std::strerror(errno);
                    return std::nullopt;
                }
            }
        } else if (S_ISLNK(info.st_mode)) {
            // The last part may be a link: a file renamed over it replaces the link itself.
            if (last && !wantFolder) {
                break;
            }
            if (madeLinks_.contains(path)) {
                reason = "would be written through a symbolic link extracted before";
                lastFailureUnsafe_ = true;
                return std::nullopt;
            }
            const auto real = RealPath(path);
            if (!real || !InsideDestination(*real)) {
                reason = "would be written through a symbolic link that leads outside";
                lastFailureUnsafe_ = true;
                return std::nullopt;
            }
            struct stat target {};
            if (stat(real->c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) {
                reason = "a symbolic link stands where a folder is needed";
                lastFailureUnsafe_ = true;
                return std::nullopt;
            }
        } else if (S_ISDIR(info.st_mode)) {
            if (last && !wantFolder) {
                reason = "a folder of that name exists";
                return std::nullopt;
            }
        } else if (!last) {
            reason = "a file stands where a folder is needed";
            return std::nullopt;
        } else if (wantFolder) {
            reason = "a file of that name exists";
            return std::nullopt;
        }
        if (!last) {
            path += '/';
        }
    }
    // What a run of ours killed midway left in this folder goes before this run writes there.
    if (!wantFolder) {
        if (std::string folder = FolderOf(path); swept_.insert(folder).second) {
            RemoveStaleStagedFiles(folder);
        }
    }
    return path;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

bool PathExists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

unsigned ProcessUmask() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status)) {
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        }
        std::fclose(status);
        if (found) {
            return mask;
        }
    }
    const mode_t mask = umask(022);
    umask(mask);
    return mask;
}

TemporaryFile::TemporaryFile(const std::string& folder)
    : folder_(folder.empty() ? std::string("./") : folder) {
    if (folder_.back() != '/') {
        folder_ += '/';
    }
    // A nameless file is named at Commit() through /proc/self/fd; without /proc it could
    // never be named, so a named temporary is used from the start.
    if (access("/proc/self/fd", X_OK) == 0) {
        fd_ = open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            return;
        }
    }
    std::string pattern = folder_ + ".zembrat-XXXXXX";
    fd_ = mkstemp(pattern.data());
    if (fd_ >= 0) {
        path_ = pattern;
    }
}

// Links the nameless file in under a fresh temporary name (a link never replaces a file, so
// the final name is reached by rename as for a named temporary).
bool TemporaryFile::GiveName(std::string& reason) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    std::random_device seed;
    std::mt19937 random(seed());
    constexpr std::string_view kLetters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = folder_ + ".zembrat-";
        for (int i = 0; i < 6; ++i) {
            name += kLetters[random() % kLetters.size()];
        }
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            path_ = std::move(name);
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    reason = std::string("cannot write: ") + std::strerror(errno);
    return false;
}

TemporaryFile::~TemporaryFile() {
    if (!committed_) {
        Discard();
    }
}

bool TemporaryFile::Commit(const std::string& finalPath, std::string& reason) {
    if (fd_ < 0) {
        reason = "no temporary file";
        return false;
    }
    if (path_.empty() && !GiveName(reason)) {
        Discard();
        return false;
    }
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        reason = std::string("cannot write: ") + std::strerror(errno);
        unlink(path_.c_str());
        return false;
    }
    if (std::rename(path_.c_str(), finalPath.c_str()) != 0) {
        reason =
            "cannot rename to " + EscapeControlCharacters(finalPath) + ": " + std::strerror(errno);
        unlink(path_.c_str());
        return false;
    }
    committed_ = true;
    return true;
}

void TemporaryFile::Discard() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!path_.empty() && !committed_) {
        unlink(path_.c_str());
        path_.clear();
    }
}

}  // namespace zembrat::common
