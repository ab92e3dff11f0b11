// A file being packed, read by every library that writes archives. Its data must be what it
// was when packing began: a file that grows, shrinks or is rewritten meanwhile fails rather
// than being stored cut or torn, and a FIFO or device put in its place is never read.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "common/unique_fd.h"

namespace zembrat::common {

class SourceFile {
  public:
    // Opens path without blocking and without following a symbolic link (unless followLink:
    // the caller named the link itself). A file whose size stat cannot be trusted (0, or any
    // file of proc, sysfs and the like) is read to its end into an unnamed temporary file
    // first, and packed from there. Throws Failure: ARC_ERROR_CANNOT_READ when it cannot be
    // opened or read, ARC_ERROR_NOT_REGULAR when it is not a regular file.
    explicit SourceFile(const std::string& path, bool followLink = false);
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    const std::string& Path() const { return path_; }
    // The bytes to pack.
    std::uint64_t Size() const { return size_; }
    // What stat said when the file was opened.
    const struct stat& Info() const { return before_; }
    // Whether stat could not tell the size, so that the data was copied aside whole: what a
    // later opening would read may differ.
    bool ReadAside() const { return copy_.Valid(); }

    // Reads up to buffer.size() bytes at offset; 0 at Size(). A file that ends before Size()
    // throws Failure(ARC_ERROR_CANNOT_READ, "PATH: file changed while it was being read").
    std::size_t ReadAt(std::span<std::byte> buffer, std::uint64_t offset) const;
    // The same in order, from the start or the last Rewind().
    std::size_t Read(std::span<std::byte> buffer);
    void Rewind() { position_ = 0; }
    // The descriptor the data is read from, for asking where its holes are (never to read).
    int Fd() const { return copy_.Valid() ? copy_.Get() : file_.Get(); }

    // Throws Failure(ARC_ERROR_CANNOT_READ, "PATH: file changed while it was being read") when
    // the file now holds more than Size(), or its size, modification or change time differ
    // from when it was opened.
    void RequireUnchanged() const;

  private:
    [[noreturn]] void ThrowChanged() const;
    [[noreturn]] void ThrowReadFailed() const;

    std::string path_;
    UniqueFd file_;
    UniqueFd copy_;  // the data of a file whose size stat does not tell
    struct stat before_ {};
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
};

}  // namespace zembrat::common
