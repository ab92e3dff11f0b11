// Extraction that never writes outside its destination folder: member names are checked
// and made relative, every folder on the way is checked for symbolic links, and links made
// by the extraction itself are never followed by a later member.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace zembrat::common {

// Which rules a member name follows: names from MS-DOS and Windows read '\\' as a delimiter
// too and may start with a drive letter; Unix names hold '\\' and ':' as ordinary characters.
enum class NameRules { kDos, kUnix };

// A member name as a relative path below the destination ('/' between parts, "." and empty
// parts dropped). Nothing, with the reason, for an absolute name, a drive letter, a ".." part
// or a name that is empty once cleaned.
std::optional<std::string> SafeRelativePath(std::string_view memberName, std::string& reason,
                                            NameRules rules = NameRules::kDos);

// The name with every control character (below 0x20, and 0x7F) written as \xNN, and in UTF-8
// every C1 control (U+0080..U+009F) as \uNNNN, so that a name never moves the cursor or
// rings a bell when it is printed.
std::string EscapeControlCharacters(std::string_view name);

// True when the link target, read from the folder (relative to the destination, '/' between
// parts) that holds the link, stays inside the destination. Absolute targets never do; '\\'
// in a target counts as a delimiter, which can only refuse more.
bool LinkTargetStaysInside(std::string_view linkRelativePath, std::string_view target);

// The destination folder of one extraction.
class ExtractionTarget {
  public:
    explicit ExtractionTarget(std::string destination);

    const std::string& Folder() const { return folder_; }

    // Creates the destination folder itself when it is missing (with its parents).
    bool CreateFolder(std::string& reason);

    // The full path for a relative name (from SafeRelativePath: '/' between parts, any other
    // byte part of a name), after creating its missing
    // folders. Fails when a folder on the way is a symbolic link made by this extraction,
    // a link that leads outside the destination, or not a folder; and when the name itself
    // is an existing folder and a file is wanted (wantFolder false). For a file, the staging
    // files a killed run of ours left in its folder are removed (once per folder).
    std::optional<std::string> Prepare(std::string_view relativePath, bool wantFolder,
                                       std::string& reason);

    // True when the last failed Prepare() refused a way out of the destination (rather than
    // failing to create a folder or meeting a file of the same name).
    bool LastFailureWasUnsafe() const { return lastFailureUnsafe_; }

    // Records a symbolic link this extraction made, so that no later member goes through it.
    void RememberLink(const std::string& fullPath) { madeLinks_.insert(fullPath); }

    // Makes a symbolic link at fullPath and remembers it. It is made under a temporary name
    // beside it and renamed, so that an existing file is replaced whole. False, with errno
    // set, when it cannot be made.
    bool MakeLink(const std::string& fullPath, const std::string& linkTarget);

  private:
    bool InsideDestination(const std::string& realPath) const;
    std::optional<std::string> Walk(std::string_view relativePath, bool wantFolder,
                                    std::string& reason);

    std::string folder_;      // as given, with a trailing '/'
    std::string realFolder_;  // resolved once the folder exists
    std::set<std::string> madeLinks_;
    std::set<std::string> swept_;  // folders cleared of staging files left by killed runs
    bool lastFailureUnsafe_ = false;
};

// The process's file-creation mask, read without changing it (umask() can only be read by
// setting it, which would race with other threads creating files).
unsigned ProcessUmask();

// The folder part of a path, ending in '/' ("./" for a bare name): where a file's temporary
// sibling is made.
std::string FolderOf(const std::string& path);

// True when something has the name, a symbolic link included (it is not followed).
bool PathExists(const std::string& path);

// A new file in a folder that appears under its final name only by Commit(); removed when
// dropped uncommitted. Where the file system allows, it has no name at all until then, so
// that a process killed on the way leaves nothing behind; elsewhere it is ".zembrat-XXXXXX".
class TemporaryFile {
  public:
    // Creates the file (mode 0600); Valid() tells whether it worked.
    explicit TemporaryFile(const std::string& folder);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool Valid() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // The temporary name; empty while the file has none.
    const std::string& Path() const { return path_; }

    // Closes the file (reporting write-back errors) and renames it over finalPath.
    bool Commit(const std::string& finalPath, std::string& reason);
    // Closes and removes the file.
    void Discard();

  private:
    bool GiveName(std::string& reason);

    int fd_ = -1;
    std::string folder_;  // ends in '/'
    std::string path_;
    bool committed_ = false;
};

}  // namespace zembrat::common
