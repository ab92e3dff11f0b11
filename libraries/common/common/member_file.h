// One extracted member's file, written the same way by every library that extracts: under a
// staging name beside its place until its data is complete, a failed write (a full disk) fatal
// for this member alone, never with set-id or sticky bits, and placed without replacing a
// file that appeared at its name meanwhile unless replacing was asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "common/staged_file.h"

namespace zembrat::common {

enum class Placement {
    kNew,       // nothing had the name
    kReplaced,  // a file had the name and was replaced (replacing was asked for)
    kKept,      // a file had the name and was kept; this member's data was dropped
};

class MemberFile {
  public:
    // The staging file beside path (whose folder exists). Throws
    // Failure(ARC_ERROR_CANNOT_WRITE, "cannot create a file: why").
    MemberFile(std::string path, bool replace);
    MemberFile(const MemberFile&) = delete;
    MemberFile& operator=(const MemberFile&) = delete;

    const std::string& Path() const { return path_; }
    int Fd() const { return staged_.Fd(); }

    // The data in order; whole blocks of zeros become holes. Throws
    // Failure(ARC_ERROR_CANNOT_WRITE, "cannot write: why").
    void Write(std::span<const std::byte> data);
    // A hole the reader knows of (a sparse member).
    void Hole(std::uint64_t size);
    std::uint64_t Size() const { return writer_.Size(); }

    // Gives the file its permissions (mode & 0777: never set-id or sticky bits, whatever the
    // archive says) and its modification time, then places it. A file that replaces another
    // is flushed to disk first, so that a crash never leaves the old data gone and the new
    // not there. Throws Failure(ARC_ERROR_CANNOT_WRITE) when the file cannot be completed or
    // placed; the staging file is gone then.
    Placement Place(unsigned mode, std::optional<std::int64_t> writeTimeNanoseconds);

  private:
    std::string path_;
    bool replace_;
    StagedFile staged_;
    HoleAwareWriter writer_;
};

// Renames from over to, without replacing a file at `to` unless replace: kKept (from is
// removed) when one is there. Throws Failure(ARC_ERROR_CANNOT_WRITE) when it cannot be done.
// For the library that places a file it wrote by other means (a link made aside).
Placement PlaceFile(const std::string& from, const std::string& to, bool replace);

}  // namespace zembrat::common
