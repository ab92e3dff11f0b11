// The ARJ format, read only: archives, sets of volumes and archives inside self-extracting
// programs, member by member. Knows nothing of command lines, code pages or the file-system
// layout; names are the bytes stored in the archive. Streams and errors are the LHA
// engine's (lha/stream.h, lha/archive.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "lha/archive.h"
#include "lha/stream.h"

namespace zembrat::arj {

using lha::Aborted;
using lha::Error;
using lha::ErrorKind;
using lha::InputStream;
using lha::OutputStream;
using lha::ProgressFn;
using lha::SeekableInput;

// Header flags.
inline constexpr std::uint8_t kFlagGarbled = 0x01;    // data enciphered with a password
inline constexpr std::uint8_t kFlagVolume = 0x04;     // continues in the next volume
inline constexpr std::uint8_t kFlagExtFile = 0x08;    // continued from the previous volume
inline constexpr std::uint8_t kFlagPathSlash = 0x10;  // '\\' in names was turned into '/'

// Host systems the archivers record; the others name their files like MS-DOS.
inline constexpr std::uint8_t kHostMsdos = 0;
inline constexpr std::uint8_t kHostUnix = 2;

// File types.
inline constexpr std::uint8_t kTypeBinary = 0;
inline constexpr std::uint8_t kTypeText = 1;
inline constexpr std::uint8_t kTypeMain = 2;
inline constexpr std::uint8_t kTypeDirectory = 3;
inline constexpr std::uint8_t kTypeVolumeLabel = 4;

// The largest basic header the format allows.
inline constexpr std::size_t kMaxBasicHeader = 2600;

// One volume's part of a member: each is compressed on its own with its own CRC.
struct Section {
    std::size_t volume = 0;  // 0 the first volume (the archive), 1 the ".a01" and so on
    std::uint8_t method = 0;
    std::uint64_t dataOffset = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t originalSize = 0;
    std::uint32_t crc = 0;       // CRC-32 of this part's original data
    std::uint64_t position = 0;  // where this part starts in the whole file
};

struct Member {
    std::string name;  // as stored; '/' or '\\' between folders
    std::string comment;
    std::uint8_t hostOs = kHostMsdos;
    std::uint8_t flags = 0;
    std::uint8_t method = 0;  // 0 stored, 1..3 LZ with static Huffman codes, 4 fastest
    std::uint8_t fileType = kTypeBinary;
    // Last written: an MS-DOS date (high half) and time in local time, except from a Unix
    // host, whose archivers store seconds since 1970 (UTC) there.
    std::uint32_t timeStamp = 0;
    std::uint16_t accessMode = 0;      // MS-DOS attributes, or Unix mode bits from a Unix host
    std::uint64_t compressedSize = 0;  // of every section together
    std::uint64_t originalSize = 0;    // of every section together
    std::uint32_t crc = 0;             // of the first section
    std::uint64_t headerOffset = 0;    // in the first volume that holds the member
    std::vector<Section> sections;

    bool IsDirectory() const { return fileType == kTypeDirectory; }
    bool IsGarbled() const { return (flags & kFlagGarbled) != 0; }
    // Names from Unix hosts hold '\\' as an ordinary character.
    bool HasUnixNames() const { return hostOs == kHostUnix; }
    // The time stamp as seconds since 1970 (UTC).
    std::int64_t UnixTime() const;
};

// The archive's own header.
struct MainHeader {
    std::string name;
    std::string comment;
    std::uint8_t hostOs = kHostMsdos;
    std::uint8_t flags = 0;
    std::uint32_t timeStamp = 0;  // as in Member
};

// True when a decoder exists for the method.
bool CanDecode(std::uint8_t method);

// The text the listing shows for a method.
std::string MethodName(std::uint8_t method);

// The name of volume `index` of the set whose first volume is `first`: "x.arj" is followed
// by "x.a01" ... "x.a99", then "x.100" (the case of the extension's letter is kept).
std::string VolumeName(const std::string& first, std::size_t index);

// The offset of the main header of an archive inside a self-extracting program, or nothing.
std::optional<std::uint64_t> FindEmbeddedArchive(SeekableInput& input);

// Opens the volume `index` (1 and more) of a set; nothing when it does not exist.
using VolumeOpener = std::function<std::unique_ptr<SeekableInput>(std::size_t index)>;

// Reads an archive (and the volumes that follow it) member by member. Memory does not grow
// with member size.
class Reader {
  public:
    // Reads the main header at `start` of input (which must outlive the reader); throws
    // Error(kFormat) when there is none. openVolume may be empty for a single archive.
    Reader(SeekableInput& input, std::uint64_t start, VolumeOpener openVolume = {});
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    const MainHeader& Main() const;

    // Back to the first member.
    void Restart();

    // The next member, with the sections it has in the volumes after this one; nothing at
    // the end of the archive (or of the last volume).
    std::optional<Member> Next();

    // Decodes every section of the member Next() returned last into out, checking each
    // section's length and CRC (throws Error; Aborted when progress answers false).
    // progress is called at least every 64 KiB with the bytes done of the whole member.
    void Extract(const Member& member, OutputStream& out, const ProgressFn& progress = {});

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// CRC-32 (the one ZIP uses) as ARJ keeps it for data and headers.
std::uint32_t Crc32(std::span<const std::byte> data, std::uint32_t crc = 0);

}  // namespace zembrat::arj
