// Where an ELF program's own image ends in its file: what follows it is data appended to the
// program (the archive of a self-extracting file made by plain concatenation).
#pragma once

#include <cstdint>

namespace zembrat::common {

// One past the last byte of the 64-bit ELF image in the open file fd (past its program
// segments and its section header table); 0 when the file is no 64-bit ELF or its tables
// point beyond any file.
std::uint64_t ElfImageEnd(int fd);

}  // namespace zembrat::common
