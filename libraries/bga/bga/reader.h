// Reading a GZA/BZA archive: the members' headers one after another, each checked against
// its checksum and the file's size, and a member's data decoded with its size and CRC checked.
// Memory stays bounded whatever the headers claim: data is decoded in fixed-size pieces.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "bga/file_io.h"
#include "bga/format.h"

namespace zembrat::bga {

struct Member {
    MemberHeader header;
    std::uint64_t headerOffset = 0;
    std::uint64_t dataOffset = 0;
};

class ArchiveReader {
  public:
    // Opens the archive: the file itself, or the archive after our self-extracting stub.
    // Throws common::Failure: ARC_ERROR_CANNOT_READ, or ARC_ERROR_NOT_ARCHIVE when the file
    // does not start with a member header (an empty file is an archive without members).
    explicit ArchiveReader(const std::string& path);

    int Fd() const { return fd_.Get(); }
    std::uint64_t Start() const { return start_; }
    std::uint64_t End() const { return end_; }

    // The next member, its header checked; nothing after the last one. Throws
    // common::Failure (ARC_ERROR_BROKEN_ARCHIVE) for a damaged or truncated header.
    std::optional<Member> Next();
    void Restart() { position_ = start_; }

  private:
    UniqueFd fd_;
    std::uint64_t start_ = 0;
    std::uint64_t end_ = 0;
    std::uint64_t position_ = 0;
};

// Receives decoded data, piece by piece.
using DataSink = std::function<void(std::span<const std::byte>)>;

// Decodes a member's data into the sink. Throws common::Failure: ARC_ERROR_CRC for a failed
// CRC, ARC_ERROR_BROKEN_ARCHIVE for data that is damaged, truncated, or inflates past the
// size its header declares.
void DecodeMember(int fd, const Member& member, const DataSink& sink);

// Whether the bytes start with a member header whose checksum holds.
bool StartsWithMember(std::span<const std::byte> bytes);

}  // namespace zembrat::bga
