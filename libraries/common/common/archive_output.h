// The archive file a library writes: made under a temporary name beside its final name, every
// write and the close checked, flushed to disk and renamed over the final name only when
// complete. Whatever fails on the way (a full disk, a file size limit, the owner's stop), the
// file that had the name before is left exactly as it was, and nothing else is left behind.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/safe_path.h"

namespace zembrat::common {

class ArchiveOutput {
  public:
    // Throws Failure(ARC_ERROR_CANNOT_WRITE, "cannot create the archive in FOLDER: why").
    explicit ArchiveOutput(std::string finalPath);
    ArchiveOutput(const ArchiveOutput&) = delete;
    ArchiveOutput& operator=(const ArchiveOutput&) = delete;

    const std::string& FinalPath() const { return finalPath_; }
    // For writers that need the descriptor itself (a codec writing through its own calls):
    // they check every write, and Commit() still checks the close. Write() and those writes
    // share the file's position.
    int Fd() const { return temporary_.Fd(); }

    // Every byte at the file's position, or Failure(ARC_ERROR_CANNOT_WRITE,
    // "cannot write the archive: why").
    void Write(std::span<const std::byte> data);
    void Write(std::string_view data) { Write(std::as_bytes(std::span(data))); }
    // Every byte at offset (headers patched after their data); the position stays.
    void WriteAt(std::span<const std::byte> data, std::uint64_t offset);
    // Appends bytes [from, to) of another file (a stub, an archive inside a program). Throws
    // Failure(ARC_ERROR_CANNOT_READ) when that file ends early or cannot be read.
    void AppendRange(int in, std::uint64_t from, std::uint64_t to);

    // Sets the mode, flushes the file to disk, closes it and renames it over the final name.
    // Throws Failure(ARC_ERROR_CANNOT_WRITE) when any step fails; the temporary file is gone
    // then and the old file is untouched.
    void Commit(mode_t mode);

    // The mode for a new archive at path: the mode of the file it replaces, else
    // 0666 (0777 for a self-extracting program) less the umask.
    static mode_t ModeFor(const std::string& path, bool executable = false);

  private:
    std::string finalPath_;
    TemporaryFile temporary_;
};

}  // namespace zembrat::common
