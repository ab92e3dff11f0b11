// The commands of libbga32.so, the GZA/BZA archiver library. Each returns a result code of
// archiver_api.h and writes its text (and the reason of a failure) into the context's output.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "bga/reader.h"
#include "common/failure.h"
#include "export/backend.h"

namespace zembrat::bga32 {

using common::Failure;
using exports::Context;

struct Request {
    char command = 0;  // a x d s l t
    std::string archive;
    std::string folder;  // base folder (a), destination (x), where the program goes (s)
    std::vector<std::string> names;
    bool hidden = false;     // -a: names starting with '.' inside folders are added too
    bool overwrite = false;  // -o replaces existing files; -n (the default) keeps them
    bool recursive = false;  // -r: a folder named brings its subfolders too
    bool nameOnly = false;   // -j: names are stored without the folders they were given with
    int level = 6;           // -l0 .. -l9; 0 stores every member
};

// Parses a command line; throws Failure (ARC_ERROR_BAD_COMMAND, or ARC_ERROR_CANNOT_READ for
// a list file that cannot be read).
Request ParseCommandLine(std::string_view line);

// A member's name on this host: '/' between folders, in the host code page.
std::string HostName(const bga::MemberHeader& header);
// Whether the names select the member (no names select every member): a wildcard pattern,
// or the name of the member or of a folder it is in.
bool Selected(std::string_view hostName, const std::vector<std::string>& names);

int Extract(const Request& request, Context& context);             // x
int Test(const Request& request, Context& context);                // t
int List(const Request& request, Context& context);                // l
int Pack(const Request& request, Context& context);                // a
int Delete(const Request& request, Context& context);              // d
int MakeSelfExtracting(const Request& request, Context& context);  // s

// CheckArchive: the depth in the low two bits (0 first header, 1 or 2 every header, 3
// every member's data and CRC).
bool CheckArchive(const std::string& path, int mode);

// Runs one command line of the library.
int RunCommandLine(std::string_view commandLine, Context& context);

exports::Backend& BgaSide();

}  // namespace zembrat::bga32
