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

#include "lha/stream.h"

namespace zembrat::unlha32 {

// The CRC-16 a MacBinary II header carries over its first 124 bytes (CCITT polynomial, MSB
// first, starting at 0).
std::uint16_t MacBinaryCrc(std::span<const std::byte> bytes);

// Where the data fork lies in a member whose first 128 bytes are given; nothing when they are
// no MacBinary II header (its CRC, its zero bytes, a name of 1 to 63 bytes) or when the forks
// do not fit in the member's size.
struct DataFork {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};
std::optional<DataFork> FindDataFork(std::span<const std::byte, 128> header,
                                     std::uint64_t memberSize);

// Passes on the data fork of an envelope, or everything when the member is no envelope.
class MacBinaryFilter final : public lha::OutputStream {
  public:
    MacBinaryFilter(lha::OutputStream& output, std::uint64_t memberSize)
        : output_(output), memberSize_(memberSize) {}
    void Write(std::span<const std::byte> data) override;
    // Passes on what a member shorter than a header left waiting.
    void Finish();

  private:
    lha::OutputStream& output_;
    std::uint64_t memberSize_;
    std::array<std::byte, 128> header_{};
    std::size_t held_ = 0;  // header bytes gathered so far
    bool decided_ = false;
    std::optional<DataFork> fork_;
    std::uint64_t position_ = 0;  // of the next byte after the header
};

}  // namespace zembrat::unlha32
