// One command of the LHA archiver library, parsed from its command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.h"

namespace zembrat::unlha32 {

// How names given for packing become stored names (-x).
enum class PathMode {
    kNameOnly = 0,  // -x0: the file-name part alone
    kRelative = 1,  // -x1 (default): relative names as given; absolute names inside the base
                    // folder relative to it, other absolute names their file-name part
    kFull = 2,      // -x2: like -x1, but absolute names keep all their folders (no leading /)
};

struct Options {
    std::string method = "-lh7-";  // -jm
    int encoderLevel = 0;          // -jm8 and more: the slower parse that finds smaller output
    int headerLevel = 2;           // -h
    bool overwrite = false;        // -m1 and more
    bool recursive = false;        // -r: wildcards also match in subfolders
    PathMode pathMode = PathMode::kRelative;
    std::vector<std::string> excludes;  // -jx masks
};

struct Request {
    char command = 0;  // a u f d x e l v t s; 0 for ExtractMem
    Options options;
    std::string archive;
    std::string folder;  // the base folder (packing) or destination (extraction); may be empty
    std::vector<std::string> names;
};

using common::Failure;

// Parses a command line; throws Failure (ARC_ERROR_BAD_COMMAND, or ARC_ERROR_CANNOT_READ for
// a list file that cannot be read). Without commandExpected (ExtractMem) the line may start
// with a switch; a command letter given anyway is ignored.
Request ParseCommandLine(std::string_view line, bool commandExpected);

// The method a -jm value chooses.
std::string MethodForLevel(std::int64_t level);

}  // namespace zembrat::unlha32
