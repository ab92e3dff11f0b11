// File services: attributes in the Windows bit layout, existence, delete and rename, the
// current folder, and a directory search by mask that filters by attributes.
#pragma once

#include <dirent.h>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/code_page.h"
#include "platform/file_time.h"

namespace zembrat::platform {

enum FileAttribute : std::uint32_t {
    kAttrReadOnly = 0x01,   // the owner may not write it
    kAttrHidden = 0x02,     // the name starts with '.'
    kAttrSystem = 0x04,     // neither a regular file, a folder nor a symbolic link
    kAttrVolumeId = 0x08,   // never set here
    kAttrDirectory = 0x10,  // a folder (a link to a folder counts as one)
    kAttrArchive = 0x20,    // every regular file
};
inline constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFFu;

// kInvalidAttributes when the path does not exist.
std::uint32_t GetFileAttributes(std::string_view path);
bool FileExists(std::string_view path);       // exists and is not a folder
bool DirectoryExists(std::string_view path);  // exists and is a folder
bool DeleteFile(std::string_view path);
// Never replaces an existing file; errno is EEXIST when that is why it failed.
bool RenameFile(std::string_view from, std::string_view to);

std::string GetCurrentDirectory();
bool SetCurrentDirectory(std::string_view path);

// Whether letter case counts when a name is matched. File names on Linux keep a.txt and
// A.TXT apart, so the file search respects case; member names of archives made on DOS and
// Windows are matched ignoring it.
enum class LetterCase { kRespect, kIgnore };

// Mask matching: '*' any run, '?' one character (a double-byte character counts as one),
// "*.*" matches every name, also one without a dot.
bool MatchesMask(std::string_view name, std::string_view mask, CodePage codePage = SystemCodePage(),
                 LetterCase letterCase = LetterCase::kRespect);

struct FindData {
    std::string name;  // the entry's name, without its folder
    std::uint32_t attributes = 0;
    FileTime lastWriteTime = 0;
    std::uint64_t size = 0;
};

// What a search would report of the one entry at path, whatever its attributes; nothing
// when it does not exist. One stat, no folder listing.
std::optional<FindData> GetFindData(std::string_view path);

// A directory search over folder + mask (the last part of the pattern is the mask; a
// pattern without a delimiter searches the current folder), respecting letter case. An
// entry is skipped when it
// carries any of hidden, system, volume or folder that the attribute mask lacks. "." and
// ".." are reported like any other folder entry.
class FileSearch {
  public:
    FileSearch(std::string_view pattern, std::uint32_t attributeMask);
    ~FileSearch();
    FileSearch(const FileSearch&) = delete;
    FileSearch& operator=(const FileSearch&) = delete;

    // Fills the next matching entry; false at the end (or when the folder cannot be read).
    bool Next(FindData& entry);

  private:
    std::string folder_;
    std::string mask_;
    std::uint32_t attributeMask_;
    DIR* directory_ = nullptr;
};

}  // namespace zembrat::platform
