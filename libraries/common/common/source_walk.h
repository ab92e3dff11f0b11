// The files, folders and symbolic links named for packing, as entries to store: a folder
// brings what is in it, a link is stored as a link, and anything else is refused.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zembrat::common {

struct SourceEntry {
    std::string path;    // where it is on disk
    std::string stored;  // the host name to store, '/' between folders
    struct stat info {};
    std::string linkTarget;
    bool throughLink = false;  // a symbolic link named by the caller: its target's content
};

// "." and ".." parts and empty parts dropped; '/' between the rest.
std::string CleanRelative(std::string_view path);

class SourceWalk {
  public:
    struct Rules {
        bool includeHidden = true;  // names starting with '.' inside folders
        bool intoFolders = true;    // a folder brings everything in it
        // Whether a stored name is left out (with what a folder of that name holds).
        std::function<bool(const std::string& stored)> excluded;
    };

    explicit SourceWalk(Rules rules) : rules_(std::move(rules)) {}

    // The names in a folder, sorted, without "." and ".."; throws Failure
    // (ARC_ERROR_CANNOT_READ) when it cannot be read.
    std::vector<std::string> FolderNames(const std::string& folder) const;

    // Adds what path is (info from lstat, or stat for throughLink) under the stored name.
    // Throws Failure: ARC_ERROR_CANNOT_READ for an unreadable folder or link,
    // ARC_ERROR_NOT_REGULAR for what is neither file, folder nor link.
    void Add(const std::string& path, const std::string& stored, const struct stat& info,
             bool throughLink = false);

    std::size_t Count() const { return entries_.size(); }
    std::vector<SourceEntry> Take() { return std::move(entries_); }

  private:
    Rules rules_;
    std::vector<SourceEntry> entries_;
};

}  // namespace zembrat::common
