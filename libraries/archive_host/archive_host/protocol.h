// The conversation between an archive reader in a library and the helper process that parses
// the archive with a third-party decoder. The library sends one-byte commands; the helper
// answers with frames: a type byte, a 32-bit little-endian payload length, the payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zembrat::archive_host {

enum class Command : char {
    kNext = 'n',  // the next member header (skips the data of the current one)
    kData = 'd',  // the current member's data
    // Every member from here to the end, each header followed by its data as for kData,
    // without further commands.
    kStream = 's',
};

enum class FrameType : char {
    kMember = 'M',       // a member header (EncodeMember)
    kEnd = 'E',          // no more members
    kData = 'D',         // a piece of the current member's data
    kDataEnd = 'Z',      // the current member's data is complete and sound
    kMemberError = 'W',  // the current member failed (reason); later members may still be read
    kFatal = 'F',        // the archive cannot be read any further (reason)
    kHole = 'H',         // a run of zeros in the current member's data (64-bit length)
    // Something the library should tell its user, at any point: the helper could not put
    // all of its lock in place (what, and why). Reading goes on.
    kNote = 'N',
};

// Data frames carry at most this much; a header frame at most kMaxFramePayload.
inline constexpr std::size_t kDataFrameSize = 64 * 1024;
inline constexpr std::size_t kMaxFramePayload = 1024 * 1024;

// kHardlink: linkTarget names an earlier member whose data this one shares.
enum class MemberKind : std::uint8_t { kFile, kDirectory, kSymlink, kOther, kHardlink };

struct HostMember {
    std::string path;  // as the decoder gives it (see the format's reader for its encoding)
    std::string linkTarget;
    MemberKind kind = MemberKind::kFile;
    std::optional<std::uint64_t> size;  // the declared size, when the archive states one
    std::optional<std::int64_t> mtime;  // seconds since 1970 UTC
    std::uint32_t mode = 0;             // permission bits (07777)
    bool encrypted = false;
    std::string formatName;  // the decoder's name for the member's format ("ZIP 2.0 (deflation)")
    std::string error;       // non-empty: the header was damaged; the member cannot be read

    friend bool operator==(const HostMember&, const HostMember&) = default;
};

std::string EncodeMember(const HostMember& member);
// Nothing when the payload is malformed.
std::optional<HostMember> DecodeMember(std::string_view payload);

// Writes one frame whole (retrying short writes); false when the peer is gone.
bool WriteFrame(int fd, FrameType type, std::span<const std::byte> payload);
bool WriteFrame(int fd, FrameType type, std::string_view payload);

// The payload of a kHole frame, and its length back (nothing when malformed).
std::string EncodeHole(std::uint64_t size);
std::optional<std::uint64_t> DecodeHole(std::string_view payload);

}  // namespace zembrat::archive_host
