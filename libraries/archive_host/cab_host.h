// The cabinet setup of zembrat-archive-host: libmspack reads the cabinet (at the start of the
// file on descriptor 3, or searched for in a program or a file named .cab, with the cabinets
// of its set before and after it found beside it) and answers the same commands as the
// libarchive setups.
#pragma once

#include <cstdint>

namespace zembrat::archive_host {

// Opens the cabinets beside the archive (every file of its folder that starts as one), for the
// set the archive may belong to: called before the helper locks itself.
void PrepareCabinetSet();

// Runs the conversation until the library is done; returns the helper's exit code.
int RunCabinetSession(std::uint64_t outputLimit);

}  // namespace zembrat::archive_host
