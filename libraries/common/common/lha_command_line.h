// Command lines in the LHA driver's syntax: a command letter, "-" switches of the LHA
// library's set, the archive, the folder and the names. The LHA library and the ARJ
// library (whose driver builds its lines with the LHA driver's builder) both read them.
#pragma once

#include <string_view>

#include "common/command_line.h"
#include "common/switches.h"

namespace zembrat::common {

struct LhaCommandLine {
    char command = 0;  // lower case; 0 when none was expected
    SwitchSet switches;
    Operands operands;
};

// Parses a line whose command is one of the letters of `commands` (either case). Without
// commandExpected (memory extraction) the line may start with a switch, and a command
// letter given anyway is dropped. The commands 'd' and 0 take no folder: there a name
// ending in '/' is a member name. Throws Failure (ARC_ERROR_BAD_COMMAND, or
// ARC_ERROR_CANNOT_READ for a list file that cannot be read).
LhaCommandLine ParseLhaCommandLine(std::string_view line, std::string_view commands,
                                   bool commandExpected);

}  // namespace zembrat::common
