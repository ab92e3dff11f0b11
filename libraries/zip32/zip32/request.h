// One command of the ZIP archiver libraries, parsed from its command line. The unzip side
// (the UnZip and Unzip entries, ExtractMem) and the zip side (the Zip entry) have their own
// switch syntax; both take combined one-letter switches ("-ru") as the common tools do.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.h"

namespace zembrat::zip32 {

enum class Command {
    kExtract,  // unzip -x
    kList,     // unzip -l
    kTest,     // unzip -t
    kMemory,   // ExtractMem: the first member named, into the caller's buffer
    kAdd,      // zip without a command switch: add or replace
    kUpdate,   // zip -u: add new files, replace members older than their file
    kFreshen,  // zip -f: replace members older than their file, add nothing
    kDelete,   // zip -d
    kAdjust,   // zip -A: make the offsets of a self-extracting file count from its start
    kStrip,    // zip -J alone: drop the self-extracting program in front of the archive
};

struct Options {
    bool overwrite = false;      // unzip -o
    bool junkPaths = false;      // -j
    bool recurse = false;        // zip -r
    bool noDirectories = false;  // zip -D
    bool includeHidden = false;  // zip -S
    bool quiet = false;          // -q
    bool verbose = false;        // -v
    bool newestTime = false;     // zip -o: the archive takes its newest member's time
    bool salvage = false;        // zip -FF
    bool dosNames = false;       // zip -k
    bool stripPrefix = false;    // zip -J
    int level = 6;               // zip -0 .. -9
};

struct Request {
    Command command = Command::kExtract;
    Options options;
    std::string archive;
    std::string folder;  // destination (unzip) or base folder (zip); may be empty
    // Names as given: patterns with *, ? and [...] ("[-]" and "[[]" stand for '-' and '[').
    std::vector<std::string> names;
};

using common::Failure;

// Both throw Failure (ARC_ERROR_BAD_COMMAND, or ARC_ERROR_CANNOT_READ for an unreadable list
// file). memory: the ExtractMem line, which names no command.
Request ParseUnzipLine(std::string_view line, bool memory);
Request ParseZipLine(std::string_view line);

// The literal a pattern stands for, when it has no wildcard ("[-]a[[]1].txt" is "-a[1].txt");
// with wildcardsLiteral, every pattern: '*', '?' and other brackets stand for themselves.
std::optional<std::string> LiteralOf(std::string_view pattern, bool wildcardsLiteral = false);
// Whether a member name is selected by one of the patterns (none selects everything); a
// pattern naming a folder selects everything in it. Letter case counts.
bool Selected(std::string_view name, const std::vector<std::string>& patterns);

}  // namespace zembrat::zip32
