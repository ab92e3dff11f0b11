// Well-known folders and the search path for helper files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zembrat::platform {

// $TMPDIR, or /tmp, always with a trailing '/'.
std::string GetTempPath();

// The full path of the running program.
std::string ProgramFileName();

// The folder of the running program, with a trailing '/'.
std::string ProgramFolder();

// Looks for a file in the program's folder, its ../lib/zembrat/, the current folder, then
// every folder of PATH; the full path of the first regular file found. A name that has a
// folder in it is looked for there only.
std::optional<std::string> SearchPath(std::string_view fileName);

}  // namespace zembrat::platform
