// One command of libcab32.so, parsed from its command line: the command switch, further
// switches, the quoted archive, the folder (ending in '\' or '/') and the names or @listfile.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zembrat::cab32 {

enum class Command {
    kExtract,  // -x
    kAdd,      // -a: create the cabinet
    kSfx,      // -f: make the self-extracting file of the cabinet
    kList,     // -l
    kTest,     // -t
    kMemory,   // ExtractMem: no command switch; the member named into the caller's buffer
};

struct Request {
    Command command = Command::kExtract;
    std::string archive;
    std::string folder;  // with a final '/' when given
    std::vector<std::string> names;
    bool overwrite = false;       // -o
    bool progress = false;        // -i
    bool recurse = false;         // -r
    std::string workFolder;       // -h (accepted; see the README)
    bool withoutFolders = false;  // -j
    bool quiet = false;           // -q
    bool stored = false;          // -m0 (-m1, the default: MSZIP)
};

// Throws common::Failure(ARC_ERROR_BAD_COMMAND) with the reason, or ARC_ERROR_CANNOT_READ for
// a list file that cannot be read. memory: the ExtractMem line, which has no command switch.
Request ParseLine(std::string_view line, bool memory);

// Whether the member is selected by the names (none selects every member): a shell pattern
// ('*', '?', '[...]') over the whole path, or a folder selecting everything in it. '\' in a
// name counts as '/'.
bool Selected(std::string_view memberName, const Request& request);

// The self-extracting file's name: the archive's with ".exe" in place of ".cab" (".EXE" in
// place of ".CAB"), placed in the folder when one is given.
std::string SfxName(const std::string& archive, const std::string& folder);

}  // namespace zembrat::cab32
