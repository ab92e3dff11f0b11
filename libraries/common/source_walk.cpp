#include "common/source_walk.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "archiver_api.h"
#include "common/failure.h"
#include "common/safe_path.h"
#include "platform/path.h"

namespace zembrat::common {

namespace {

struct FolderCloser {
    void operator()(DIR* directory) const { closedir(directory); }
};

}  // namespace

std::string CleanRelative(std::string_view path) {
    std::string out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            const std::string_view part = path.substr(start, i - start);
            if (!part.empty() && part != "." && part != "..") {
                if (!out.empty()) {
                    out += '/';
                }
                out += part;
            }
            start = i + 1;
        }
    }
    return out;
}

std::vector<std::string> SourceWalk::FolderNames(const std::string& folder) const {
    std::vector<std::string> names;
    std::unique_ptr<DIR, FolderCloser> directory(opendir(folder.c_str()));
    if (!directory) {
        throw Failure(
            ARC_ERROR_CANNOT_READ,
            "cannot read folder " + EscapeControlCharacters(folder) + ": " + std::strerror(errno));
    }
    while (const dirent* entry = readdir(directory.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != ".." && (rules_.includeHidden || !name.starts_with('.'))) {
            names.emplace_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

void SourceWalk::Add(const std::string& path, const std::string& stored, const struct stat& info,
                     bool throughLink) {
    if (rules_.excluded && rules_.excluded(stored)) {
        return;
    }
    SourceEntry entry{platform::ExcludeTrailingDelimiter(path), stored, info, {}, throughLink};
    if (entry.path.empty()) {
        entry.path = "/";
    }
    if (S_ISREG(info.st_mode)) {
        entries_.push_back(std::move(entry));
    } else if (S_ISDIR(info.st_mode)) {
        if (!stored.empty()) {
            entries_.push_back(entry);
        }
        if (!rules_.intoFolders) {
            return;
        }
        const std::string folder = platform::IncludeTrailingDelimiter(entry.path);
        const std::string storedFolder = stored.empty() ? std::string() : stored + "/";
        for (const std::string& name : FolderNames(folder)) {
            struct stat child {};
            if (lstat((folder + name).c_str(), &child) == 0) {
                Add(folder + name, storedFolder + name, child);
            }
        }
    } else if (S_ISLNK(info.st_mode)) {
        std::vector<char> target(PATH_MAX + 1);
        const ssize_t length = readlink(path.c_str(), target.data(), target.size() - 1);
        if (length < 0) {
            throw Failure(ARC_ERROR_CANNOT_READ,
                          "cannot read link " + EscapeControlCharacters(path));
        }
        entry.linkTarget.assign(target.data(), static_cast<std::size_t>(length));
        entries_.push_back(std::move(entry));
    } else {
        throw Failure(ARC_ERROR_NOT_REGULAR,
                      EscapeControlCharacters(path) + " is not a regular file or folder; refused");
    }
}

}  // namespace zembrat::common
