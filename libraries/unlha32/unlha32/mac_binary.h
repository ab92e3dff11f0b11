// Members of archives from the Macintosh LHA tools (OS byte 'm') hold each file in a
// MacBinary envelope: a 128-byte header (name, sizes, Finder information), the data fork
// padded to 128 bytes, then the resource fork. A Linux file has no resource fork: such a
// member is extracted as its data fork alone. Anything that is not a sound envelope is
// written as stored.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "lha/archive.h"
#include "lha/stream.h"

namespace zembrat::unlha32 {

// The CRC-16 a MacBinary II header carries over its first 124 bytes (CCITT polynomial, MSB
// first, starting at 0). Not required of an envelope; kept for writing and checking one.
std::uint16_t MacBinaryCrc(std::span<const std::byte> bytes);

// What the member's own header says, which a MacBinary envelope inside it must agree with.
struct EnvelopedMember {
    std::string name;           // the last part of the stored path, as stored
    std::uint64_t size = 0;     // the member's original size
    std::int64_t unixTime = 0;  // its modification time, seconds since 1970 UTC
    static EnvelopedMember Of(const lha::Member& member);
};

// Where the data fork lies in a member whose first 128 bytes are given; nothing unless they
// are an envelope by every check: version byte 0, bytes 0x4A and 0x52 zero, a name of 1 to 63
// bytes equal to the member's with zeros after it, a Get-Info comment length of 0, the header
// (and any secondary header) and both forks, each padded to 128 bytes, filling the member
// exactly, and a modification time (local time since 1904) within a day of the member's.
// The CRC is not asked for: the Macintosh LHA tools write MacBinary I headers, which have none.
struct DataFork {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};
std::optional<DataFork> FindDataFork(std::span<const std::byte, 128> header,
                                     const EnvelopedMember& member);

// Passes on the data fork of an envelope, or everything when the member is no envelope.
class MacBinaryFilter final : public lha::OutputStream {
  public:
    MacBinaryFilter(lha::OutputStream& output, const lha::Member& member)
        : output_(output), member_(EnvelopedMember::Of(member)) {}
    void Write(std::span<const std::byte> data) override;
    // Passes on what a member shorter than a header left waiting.
    void Finish();

  private:
    lha::OutputStream& output_;
    EnvelopedMember member_;
    std::array<std::byte, 128> header_{};
    std::size_t held_ = 0;  // header bytes gathered so far
    bool decided_ = false;
    std::optional<DataFork> fork_;
    std::uint64_t position_ = 0;  // of the next byte after the header
};

}  // namespace zembrat::unlha32
