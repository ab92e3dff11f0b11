// One command line of libunrar32.so: a command switch ("-x", "-e" or "-t"; none for
// ExtractMem), the switches "-u", "-y", "-s", then the archive, the destination folder
// (ending in '/' or '\') and the member names or "@listfile".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zembrat::unrar32 {

enum class Command {
    kExtract,      // -x: members keep their folders
    kExtractFlat,  // -e: every file straight into the destination
    kTest,         // -t: decode every member named, write nothing
    kMemory,       // ExtractMem: the one member named into the caller's buffer
};

struct Request {
    Command command = Command::kExtract;
    bool overwrite = false;     // -y: replace existing files
    bool onlyNotOlder = false;  // -u: with -y, keep an existing file newer than the member
    bool wholePath = false;     // -s: a name selects by the member's whole path alone
    std::string archive;
    std::string folder;
    std::vector<std::string> names;  // '/' between folders
};

// Throws common::Failure: ARC_ERROR_BAD_COMMAND with the reason, ARC_ERROR_CANNOT_READ for a list
// file that cannot be read. memory: the ExtractMem line, which has no command switch.
Request ParseLine(std::string_view line, bool memory);

// Whether the member is selected by the names (none selects every member). A name is a
// shell pattern; it selects by the whole path, or (without -s) by the file-name part too,
// and a folder's name selects everything in it.
bool Selected(std::string_view memberName, const Request& request);

}  // namespace zembrat::unrar32
