// An in-process reader of plain tar and tar.gz for the self-extracting stub, which carries no
// helper and no decoder library: ustar, pax (path, linkpath, size, mtime) and GNU long names
// over a file region, optionally gzip-compressed (one or more members). Every length it
// takes from the archive is bounded; damage is a TarStreamError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

namespace zembrat::tar {

class TarStreamError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct StreamEntry {
    enum class Kind { kFile, kDirectory, kSymlink, kHardlink, kOther };
    std::string name;
    std::string linkTarget;
    Kind kind = Kind::kFile;
    std::uint64_t size = 0;  // of the data that follows (0 for links and folders)
    std::int64_t mtime = 0;
    unsigned mode = 0;  // permission bits
    // A sparse member of a kind this reader does not take apart (old GNU, pax 0.x): its data is
    // a map and pieces, not the file. pax 1.0 sparse members are read as their file.
    bool sparse = false;
};

// Bytes of the archive, decompressed when needed. Read fills up to size bytes and returns how
// many; 0 only at the end.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual std::size_t Read(std::byte* data, std::size_t size) = 0;
};

// The bytes of fd from offset to its end; gunzipped when they start with a gzip header.
std::unique_ptr<ByteSource> OpenRegion(int fd, std::uint64_t offset);

class TarStream {
  public:
    explicit TarStream(ByteSource& source) : source_(source) {}

    // The next entry, or false at the end of the archive.
    bool Next(StreamEntry& entry);
    // The current entry's data to sink (nothing when sink is empty), then its padding. The
    // holes of a sparse member go to holes when given, else to sink as zeros.
    void ReadData(const std::function<void(std::span<const std::byte>)>& sink,
                  const std::function<void(std::uint64_t)>& holes = {});

  private:
    struct Run {
        std::uint64_t offset;
        std::uint64_t length;
    };
    void ReadRaw(std::uint64_t size, const std::function<void(std::span<const std::byte>)>& sink);
    std::uint64_t ReadMapNumber();
    void ReadSparse(const std::function<void(std::span<const std::byte>)>& sink,
                    const std::function<void(std::uint64_t)>& holes);
    bool ReadBlock(std::byte* block);
    void ReadExactly(std::byte* data, std::size_t size);
    std::string ReadText(std::uint64_t size);

    ByteSource& source_;
    std::uint64_t dataLeft_ = 0;
    std::uint64_t paddingLeft_ = 0;
    std::optional<std::uint64_t> sparseSize_;  // the current member is pax 1.0 sparse
};

}  // namespace zembrat::tar
