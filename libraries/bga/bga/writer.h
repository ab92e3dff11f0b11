// Writing members of a GZA/BZA archive at the end of an output file: GZIP members as one
// whole gzip member each (libdeflate, chunks compressed on two threads where there are two
// cores), BZ2 members as one bzip2 stream. A member whose data does not shrink is stored.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "bga/format.h"
#include "bga/reader.h"
#include "common/source_file.h"

namespace zembrat::bga {

// Told the bytes of the source read so far; may throw to stop.
using WriteProgress = std::function<void(std::uint64_t done)>;

class MemberWriter {
  public:
    // level 0 stores every member; 1..9 as gzip and bzip2 know them.
    MemberWriter(Codec codec, int level);
    ~MemberWriter();
    MemberWriter(const MemberWriter&) = delete;
    MemberWriter& operator=(const MemberWriter&) = delete;

    // Appends a member with the header's name, time and attributes and the source's data;
    // returns the header written. Throws common::Failure: ARC_ERROR_TOO_LARGE for a file the
    // format's 32-bit sizes cannot hold, ARC_ERROR_CANNOT_READ when the source ends early
    // (the caller asks RequireUnchanged() after), ARC_ERROR_CANNOT_WRITE with the system's
    // reason.
    MemberHeader AddFile(int out, MemberHeader header, const common::SourceFile& source,
                         const WriteProgress& progress);
    // Appends a folder member (no data).
    void AddFolder(int out, MemberHeader header);

  private:
    struct Codecs;
    Codec codec_;
    int level_;
    std::unique_ptr<Codecs> codecs_;
};

// Appends a member of another archive as it is (header, name and data).
void CopyMember(int from, const Member& member, int out);

}  // namespace zembrat::bga
