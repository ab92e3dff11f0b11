// A file being packed. Its data must be what it was when packing began: a file that grows,
// shrinks or is rewritten meanwhile fails rather than being stored cut or torn.
#pragma once

#include <sys/stat.h>

#include <cstdint>

#include "lha/stream.h"
#include "unlha32/fd_stream.h"

namespace zembrat::unlha32 {

class SourceFile {
  public:
    // Takes over a descriptor open for reading on a regular file. A file whose size stat
    // cannot be trusted (0, or any file of proc, sysfs and the like) is read to its end into
    // an unnamed temporary file first, and packed from there. Throws lha::Error.
    explicit SourceFile(UniqueFd file);
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    // The bytes to pack; reading past Size() gives nothing, and a file that ends before it
    // throws lha::Error(kIo, "file changed while it was being read").
    lha::SeekableInput& Input() { return input_; }
    std::uint64_t Size() const { return input_.Size(); }
    // What stat said when the file was opened.
    const struct stat& Info() const { return before_; }

    // Throws lha::Error(kIo, "file changed while it was being read") when the file holds more
    // than was read, or its size or modification time differ from when it was opened.
    void RequireUnchanged() const;

  private:
    // pread over a descriptor, up to a fixed size.
    class FixedInput final : public lha::SeekableInput {
      public:
        std::size_t Read(std::span<std::byte> buffer) override;
        void Seek(std::uint64_t offset) override { position_ = offset; }
        std::uint64_t Tell() const override { return position_; }
        std::uint64_t Size() const override { return size_; }
        void Reset(int fd, std::uint64_t size) {
            fd_ = fd;
            size_ = size;
            position_ = 0;
        }

      private:
        int fd_ = -1;
        std::uint64_t size_ = 0;
        std::uint64_t position_ = 0;
    };

    UniqueFd file_;
    UniqueFd copy_;  // the data of a file whose size stat does not tell
    struct stat before_ {};
    FixedInput input_;
};

}  // namespace zembrat::unlha32
