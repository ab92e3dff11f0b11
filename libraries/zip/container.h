// The ZIP container as read here: the bytes of an archive (one file, or the parts of a split
// set seen as one run of bytes) and its central directory, parsed within bounds. Both the
// copying of members (ExistingArchive) and the reader stand on it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "central_entry.h"
#include "zip/zip.h"

namespace zembrat::zip {

// An archive's bytes. A split set (name.z01 ... name.zip, or name.zx01 ... name.zipx) is its
// parts one after the other; offsets count from the first part's start.
class ArchiveBytes {
  public:
    explicit ArchiveBytes(const std::string& path);  // throws Error(kIo)
    ~ArchiveBytes();
    ArchiveBytes(const ArchiveBytes&) = delete;
    ArchiveBytes& operator=(const ArchiveBytes&) = delete;

    std::uint64_t Size() const { return size_; }
    // Puts the parts before the last one (the file given) in front: disk 0 is parts - 1 files
    // back. Throws Error(kArchive) naming the first part that is missing.
    void AddEarlierParts(std::uint32_t parts);
    std::size_t Parts() const { return parts_.size(); }
    // Where a part (a disk of the set) starts; throws Error(kArchive) for a part not there.
    std::uint64_t PartStart(std::uint64_t disk) const;

    // Exactly size bytes at offset; Error(kArchive) when they are not all there.
    std::string Read(std::uint64_t offset, std::uint64_t size) const;
    // Fills buffer from offset; Error(kIo) when the file ends or fails first.
    void ReadInto(std::uint64_t offset, std::span<std::byte> buffer) const;

  private:
    struct Part {
        int fd = -1;
        std::uint64_t start = 0;
        std::uint64_t size = 0;
    };
    std::string path_;
    std::vector<Part> parts_;
    std::uint64_t size_ = 0;
};

struct ParsedMember {
    CentralEntry central;
    ExistingMember info;
    std::uint64_t start = 0;      // the local header
    std::uint64_t length = 0;     // header, data and data descriptor
    std::uint64_t dataStart = 0;  // the compressed data
    bool madeOnUnix = false;      // made on Unix with a Unix mode: '\\' is part of the name
    bool symlink = false;         // Unix type S_IFLNK: the data is the link's target
    bool special = false;         // another Unix type that is no file (a device, a FIFO)
};

struct ParsedArchive {
    std::unique_ptr<ArchiveBytes> bytes;
    std::vector<ParsedMember> members;
    std::uint64_t archiveStart = 0;  // the first local header (the directory when none)
};

// Reads the end records and the central directory and finds every member's bytes; parts of a
// split set are looked for beside path. Throws Error(kArchive) when the directory is damaged,
// a member lies outside the archive or runs into the directory, or two members share bytes
// (the overlapping-member bomb); Error(kIo) when the file cannot be read.
ParsedArchive ParseArchive(const std::string& path);

}  // namespace zembrat::zip
