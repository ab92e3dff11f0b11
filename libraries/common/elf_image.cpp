#include "common/elf_image.h"

#include <elf.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace zembrat::common {

namespace {

// offset + count * size, or nothing when it does not fit in 64 bits.
bool EndOf(std::uint64_t offset, std::uint64_t count, std::uint64_t size, std::uint64_t& end) {
    std::uint64_t length = 0;
    return !__builtin_mul_overflow(count, size, &length) &&
           !__builtin_add_overflow(offset, length, &end);
}

}  // namespace

std::uint64_t ElfImageEnd(int fd) {
    Elf64_Ehdr header{};
    if (pread(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64) {
        return 0;
    }
    std::uint64_t end = 0;
    if (!EndOf(header.e_shoff, header.e_shnum, header.e_shentsize, end)) {
        return 0;
    }
    end = std::max<std::uint64_t>(end, sizeof header);
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        std::uint64_t at = 0;
        Elf64_Phdr segment{};
        if (!EndOf(header.e_phoff, i, header.e_phentsize, at) ||
            pread(fd, &segment, sizeof segment, static_cast<off_t>(at)) !=
                static_cast<ssize_t>(sizeof segment)) {
            continue;
        }
        std::uint64_t segmentEnd = 0;
        if (!EndOf(segment.p_offset, 1, segment.p_filesz, segmentEnd)) {
            return 0;
        }
        end = std::max(end, segmentEnd);
    }
    return end;
}

}  // namespace zembrat::common
