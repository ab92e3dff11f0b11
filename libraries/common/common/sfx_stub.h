// What every self-extracting program shares: its command line ([-l | -t] [OVERWRITE] [FOLDER]),
// its usage text, its own file, and where its ELF image ends and the attached archive starts.
#pragma once

#include "common/elf_image.h"  // ElfImageEnd: where a stub's own image ends

#include <cstdint>
#include <optional>
#include <string>

namespace zembrat::common {

// How one stub spells itself on its command line.
struct StubSyntax {
    const char* overwriteSwitch;  // "-f", or "-o" where the library's own switch is that
    const char* archiveKind;      // "archive", "cabinet", "ZIP archive", ...
};

// What the command line asks for.
struct StubRequest {
    char mode = 'x';  // 'x' extract, 'l' list, 't' test
    bool overwrite = false;
    std::string folder;   // ends in '/'; empty: the current folder
    std::string archive;  // the program's own file, where StartTrailerStub found an archive
};

// Prints the usage to standard error.
void PrintStubUsage(const char* program, const StubSyntax& syntax);

// Reads the command line (argv[0] is the program's name). On -h (exit status 0) or a usage
// error (status 2: an unknown option, an empty or second folder) the usage is printed and the
// status to end with is returned instead of filling request.
std::optional<int> ParseStubArguments(int argc, char** argv, const StubSyntax& syntax,
                                      StubRequest& request);

// The program's own file, as the kernel names it; empty when it cannot be read.
std::string OwnExecutablePath();

// For a stub whose archive sits behind our trailer: reads the command line and finds the
// program's own file with its archive (request.archive; when there is none it says so on
// standard error, status 2). The exit status when the program is to end here.
std::optional<int> StartTrailerStub(int argc, char** argv, const StubSyntax& syntax,
                                    StubRequest& request);

}  // namespace zembrat::common
