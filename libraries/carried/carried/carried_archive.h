// The archive a self-extracting program carries, told from the program's own structure before
// anyone searches it for a signature. A program holds one archive of its own; an archive of
// another kind found inside that one (a cabinet stored in a ZIP self-extractor, an LHA file in
// a tar one) is a member's data, not an archive of that kind.
//
// The program's archive is where its structure says: our own stubs' trailer, the end of the
// ELF image, the end of an MS-DOS or Windows image (with the archive's signature right there),
// or the offsets of a ZIP end record that closes the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zembrat::carried {

enum class ArchiveKind { kUnknown, kLha, kZip, kCab, kArj, kRar, kTar, kBga };

struct CarriedArchive {
    std::uint64_t offset = 0;  // the archive's first byte
    std::uint64_t end = 0;     // one past its last
    ArchiveKind kind = ArchiveKind::kUnknown;
};

// The kind whose archive starts with these bytes (give at least 512 of them when there are):
// the signature and the fields next to it that every archive of that kind has.
ArchiveKind KindAt(std::span<const std::byte> bytes);

// Where the end of an MS-DOS or Windows ("MZ") image lies in its file: past the last section
// of a Windows (PE) program, or past the pages an MS-DOS header counts; 0 when the file is no
// such program.
std::uint64_t MzImageEnd(int fd);

// The archive the program in fd carries; nothing when the file is no program ("MZ" or ELF)
// or when its structure names no archive of a kind we know.
std::optional<CarriedArchive> FindCarriedArchive(int fd);
std::optional<CarriedArchive> FindCarriedArchive(const std::string& path);

// Whether a signature of kind own at offset lies inside the archive of another kind that the
// program carries (so it is some member's data).
bool InsideAnotherKind(const std::optional<CarriedArchive>& carried, ArchiveKind own,
                       std::uint64_t offset);

// Whether the program carries an archive of a kind other than own.
bool CarriesAnotherKind(const std::optional<CarriedArchive>& carried, ArchiveKind own);

}  // namespace zembrat::carried
