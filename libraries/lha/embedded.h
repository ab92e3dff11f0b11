// Finds an archive inside a self-extracting program.
#pragma once

#include <cstdint>
#include <optional>

#include "lha/stream.h"

namespace zembrat::lha {

// The offset of the first header of an archive embedded in input, or nothing. For an ELF
// program (our own self-extracting files) the search starts where the program image ends;
// otherwise (DOS and Windows programs) it covers the first 512 KiB.
std::optional<std::uint64_t> FindEmbeddedArchive(SeekableInput& input);

}  // namespace zembrat::lha
