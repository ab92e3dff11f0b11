#include "embedded.h"

#include <algorithm>
#include <vector>

#include "byte_order.h"
#include "header.h"

namespace zembrat::lha {
namespace {

constexpr std::uint64_t kScanBytes = 512 * 1024;

std::vector<std::byte> ReadAt(SeekableInput& input, std::uint64_t offset, std::uint64_t count) {
    std::uint64_t size = input.Size();
    if (offset >= size) {
        return {};
    }
    std::vector<std::byte> bytes(static_cast<std::size_t>(std::min(count, size - offset)));
    input.Seek(offset);
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        std::size_t got = input.Read(std::span(bytes).subspan(filled));
        if (got == 0) {
            break;
        }
        filled += got;
    }
    bytes.resize(filled);
    return bytes;
}

// Where an ELF file's own contents end (program headers, sections and their tables).
std::uint64_t ElfImageEnd(SeekableInput& input) {
    auto ident = ReadAt(input, 0, 64);
    if (ident.size() < 52 || U32(ident, 0) != 0x464C457Fu || U8(ident, 5) != 1) {
        return 0;  // not a little-endian ELF file
    }
    bool wide = U8(ident, 4) == 2;
    if (wide && ident.size() < 64) {
        return 0;
    }
    std::uint64_t phoff = wide ? U64(ident, 32) : U32(ident, 28);
    std::uint64_t shoff = wide ? U64(ident, 40) : U32(ident, 32);
    std::uint64_t phentsize = U16(ident, wide ? 54 : 42);
    std::uint64_t phnum = U16(ident, wide ? 56 : 44);
    std::uint64_t shentsize = U16(ident, wide ? 58 : 46);
    std::uint64_t shnum = U16(ident, wide ? 60 : 48);
    std::uint64_t end = std::max(phoff + phnum * phentsize, shoff + shnum * shentsize);
    auto programs = ReadAt(input, phoff, phnum * phentsize);
    for (std::uint64_t i = 0; i + 1 <= phnum && (i + 1) * phentsize <= programs.size(); ++i) {
        std::size_t at = static_cast<std::size_t>(i * phentsize);
        std::uint64_t offset = wide ? U64(programs, at + 8) : U32(programs, at + 4);
        std::uint64_t fileSize = wide ? U64(programs, at + 32) : U32(programs, at + 16);
        end = std::max(end, offset + fileSize);
    }
    auto sections = ReadAt(input, shoff, shnum * shentsize);
    for (std::uint64_t i = 0; i + 1 <= shnum && (i + 1) * shentsize <= sections.size(); ++i) {
        std::size_t at = static_cast<std::size_t>(i * shentsize);
        constexpr std::uint32_t kNoBits = 8;
        if (U32(sections, at + 4) == kNoBits) {
            continue;
        }
        std::uint64_t offset = wide ? U64(sections, at + 24) : U32(sections, at + 16);
        std::uint64_t size = wide ? U64(sections, at + 32) : U32(sections, at + 20);
        end = std::max(end, offset + size);
    }
    return end;
}

bool LooksLikeMethod(std::span<const std::byte> b, std::size_t at) {
    if (U8(b, at) != '-' || U8(b, at + 4) != '-') {
        return false;
    }
    unsigned c1 = U8(b, at + 1), c2 = U8(b, at + 2);
    return (c1 == 'l' && (c2 == 'h' || c2 == 'z')) || (c1 == 'p' && c2 == 'm');
}

enum class Candidate { kNone, kArchive, kArchiveAtEnd };

// A candidate is an archive when its headers (checksums and CRCs included) chain up to an end
// mark or the end of the file. Self-extracting programs put their archive last, so one that
// ends near the end of the file is preferred to, say, a help text packed inside the stub.
Candidate CheckCandidate(SeekableInput& input, std::uint64_t offset) {
    constexpr int kMaxMembers = 1 << 16;
    constexpr std::uint64_t kTrailerSlack = 4096;
    try {
        std::uint64_t at = offset;
        for (int i = 0; i < kMaxMembers; ++i) {
            auto member = ReadHeader(input, at);
            if (!member) {
                return input.Size() - at <= kTrailerSlack ? Candidate::kArchiveAtEnd
                                                          : Candidate::kArchive;
            }
            at = member->dataOffset + member->compressedSize;
            if (at > input.Size()) {
                return Candidate::kNone;
            }
        }
    } catch (const Error&) {
    }
    return Candidate::kNone;
}

}  // namespace

std::optional<std::uint64_t> FindEmbeddedArchive(SeekableInput& input) {
    std::uint64_t start = ElfImageEnd(input);
    if (start >= input.Size()) {
        return std::nullopt;
    }
    auto window = ReadAt(input, start, kScanBytes + 8);
    std::optional<std::uint64_t> firstFound;
    for (std::size_t i = 0; i + 24 <= window.size(); ++i) {
        if (!LooksLikeMethod(window, i + 2)) {
            continue;
        }
        Candidate candidate = CheckCandidate(input, start + i);
        if (candidate == Candidate::kArchiveAtEnd) {
            return start + i;
        }
        if (candidate == Candidate::kArchive && !firstFound) {
            firstFound = start + i;
        }
    }
    return firstFound;
}

}  // namespace zembrat::lha
