// One command of libtar32.so, parsed from its command line: the command word, then switches
// and names in any order. A switch with a value takes it from the next token (-f "a.tgz").
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.h"

namespace zembrat::tar32 {

enum class Command {
    kExtract,  // x
    kList,     // l
    kTest,     // t
    kCreate,   // c
    kMemory,   // ExtractMem: no command word; the first member named into the caller's buffer
};

enum class Compression { kNone, kGzip, kBzip2 };

struct Request {
    Command command = Command::kExtract;
    std::string archive;  // -f
    std::string folder;   // -o
    std::vector<std::string> names;
    bool keepAttributes = true;  // -AH: stored permissions; -I: defaults
    bool showDialog = true;      // --display-dialog=N
    bool overwrite = false;      // -g
    bool wholePath = true;       // --check-all-path=N: names compared with the whole path
    bool useFolders = true;      // --use-directory=N: folders of the members kept
    Compression compression = Compression::kNone;  // -z[N], -B[N]
    int level = -1;                                // N of -z or -B; -1: the default
};

// A command's failure: its result code and reason (shared by every library).
using Failure = common::Failure;

// Throws Failure(ARC_ERROR_BAD_COMMAND) with the reason, or ARC_ERROR_CANNOT_READ for a list
// file that cannot be read. memory: the ExtractMem line, which has no command word.
Request ParseLine(std::string_view line, bool memory);

// Whether the member is selected by the names (none selects every member); a name that is
// a folder selects everything in it.
bool Selected(std::string_view memberName, const Request& request);

}  // namespace zembrat::tar32
