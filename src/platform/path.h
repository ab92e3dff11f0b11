// Path text rules, written once against a small "path syntax" so that they hold for the
// host (POSIX: '/', no drives) and for Windows-style paths ('\\' and drive letters).
#pragma once

#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace zembrat::platform {

struct PathSyntax {
    std::string_view delimiters;  // the first one is written, all are recognised
    bool drives = false;          // ':' ends a drive prefix and separates like a delimiter
    CodePage codePage = kCodePageUtf8;

    char Delimiter() const { return delimiters.front(); }

    static PathSyntax Host();  // "/", no drives, SystemCodePage()
    static PathSyntax Windows(CodePage codePage = kCodePageShiftJis);  // "\\", drives
};

// Offset where the file-name part starts: after the last delimiter (or ':' with drives).
std::size_t FileNameStart(std::string_view path, const PathSyntax& syntax);

// The text after the last delimiter.
std::string ExtractFileName(std::string_view path, const PathSyntax& syntax = PathSyntax::Host());
// The text up to and including the last delimiter (empty when there is none).
std::string ExtractFilePath(std::string_view path, const PathSyntax& syntax = PathSyntax::Host());
// From the last '.' of the file-name part, dot included; empty when there is none.
std::string ExtractFileExt(std::string_view path, const PathSyntax& syntax = PathSyntax::Host());
// Replaces the extension, or appends when there is none: a.tar.gz -> a.tar.lzh.
std::string ChangeFileExt(std::string_view path, std::string_view extension,
                          const PathSyntax& syntax = PathSyntax::Host());

// True when the last whole character is a delimiter.
bool HasTrailingDelimiter(std::string_view path, const PathSyntax& syntax = PathSyntax::Host());
// Adds the delimiter when missing. An empty path (the current folder) stays empty, so that
// IncludeTrailingDelimiter(folder) + name never turns into a name at the root.
std::string IncludeTrailingDelimiter(std::string_view path,
                                     const PathSyntax& syntax = PathSyntax::Host());
// Removes one trailing delimiter; a path that is a delimiter alone (the root) stays.
std::string ExcludeTrailingDelimiter(std::string_view path,
                                     const PathSyntax& syntax = PathSyntax::Host());

// The name alone when the folder is empty; folder + name when the folder ends in a
// delimiter; otherwise folder + delimiter + name.
std::string JoinPath(std::string_view folder, std::string_view name,
                     const PathSyntax& syntax = PathSyntax::Host());

// Absolute form of a path (relative ones resolved against the current folder), with "."
// and ".." parts folded lexically; a trailing delimiter is kept. Host syntax. Empty stays
// empty.
std::string ExpandFileName(std::string_view path);

// The path made relative to base: base counts up to its last delimiter; shared leading
// folders (compared ignoring ASCII case) are dropped and every remaining folder of the base
// becomes "..". A path on another drive stays as it is.
std::string ExtractRelativePath(std::string_view base, std::string_view path,
                                const PathSyntax& syntax = PathSyntax::Host());

}  // namespace zembrat::platform
