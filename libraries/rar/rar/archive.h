// The RAR format of archive versions 1.5 to 4.x, read only: headers, volume sets, archives
// behind a self-extracting program, solid streams and the methods of versions 1.5, 2.0/2.6
// and 2.9 (LZ, PPMd and the standard filters). Knows nothing of command lines, code pages
// or the file-system layout. Users write #include "rar/archive.h".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/engine.h"

namespace zembrat::rar {

enum class ErrorKind {
    kFormat,   // not an archive of this format, or its headers are damaged
    kMember,   // one member cannot be decoded (damaged data, unsupported, encrypted)
    kVolume,   // a volume the archive continues in is missing
    kAborted,  // a progress callback asked to stop
};

using Error = common::KindedError<ErrorKind>;

// Answering false stops the work (Error kAborted).
using ProgressFn = common::EngineProgressFn;
using DataSink = std::function<void(std::span<const std::byte>)>;

// Host systems that made the member.
inline constexpr std::uint8_t kHostMsdos = 0;
inline constexpr std::uint8_t kHostOs2 = 1;
inline constexpr std::uint8_t kHostWindows = 2;
inline constexpr std::uint8_t kHostUnix = 3;
inline constexpr std::uint8_t kHostMac = 4;
inline constexpr std::uint8_t kHostBeos = 5;

// The main header's flags.
inline constexpr std::uint16_t kMainVolume = 0x0001;
inline constexpr std::uint16_t kMainSolid = 0x0008;
inline constexpr std::uint16_t kMainNewNaming = 0x0010;
inline constexpr std::uint16_t kMainEncryptedHeaders = 0x0080;
inline constexpr std::uint16_t kMainFirstVolume = 0x0100;

// The most memory a PPMd block may ask for; the header can ask for up to 256 MB.
inline constexpr std::uint32_t kMaxPpmdMegabytes = 256;

struct Part {
    std::size_t volume = 0;  // 0 the first file, 1 the next volume, ...
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

struct Member {
    std::string name;  // UTF-8 when the header holds a Unicode name; else the stored bytes
    bool unicodeName = false;
    std::uint8_t hostOs = kHostMsdos;
    std::uint16_t flags = 0;
    std::uint8_t version = 0;  // of the method: 15, 20, 26, 29
    std::uint8_t method = 0;   // 0x30 stored ... 0x35 best
    std::uint32_t attributes = 0;
    std::uint64_t packedSize = 0;  // of every part together
    std::uint64_t size = 0;
    std::uint32_t crc = 0;      // CRC-32 of the whole data (from the last part's header)
    std::uint32_t dosTime = 0;  // MS-DOS date and time, local
    std::int64_t mtime = 0;     // seconds since 1970 (UTC), from the extended time when given
    bool hasExactTime = false;  // mtime came from the extended time field
    std::size_t index = 0;      // the member's ordinal in the archive
    std::vector<Part> parts;

    bool IsDirectory() const;
    bool IsEncrypted() const { return (flags & 0x0004) != 0; }
    // Continues the dictionary of the member before it.
    bool IsSolid() const { return (flags & 0x0010) != 0; }
    bool IsSymlink() const;
    // Unix permission bits (no set-id bits) for a Unix host; 0 when the host has none.
    unsigned UnixMode() const;
};

struct MainHeader {
    std::uint16_t flags = 0;
    std::uint64_t archiveStart = 0;  // behind a self-extracting program: its length
};

// Opens volume `index` (1 and more) of the set; nothing when it does not exist.
class Input;
using VolumeOpener = std::function<std::unique_ptr<Input>(std::size_t index)>;
// The name a missing volume would have, for the reason given.
using VolumeNamer = std::function<std::string(std::size_t index)>;

// A file read at offsets.
class Input {
  public:
    virtual ~Input() = default;
    // Up to data.size() bytes from offset; fewer at the end.
    virtual std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> data) = 0;
    virtual std::uint64_t Size() const = 0;
};

// A file of the file system. Throws Error(kFormat) when it cannot be opened.
std::unique_ptr<Input> OpenFile(const std::string& path);

// Input over bytes held by the caller (which must outlive it).
std::unique_ptr<Input> MemoryInput(std::span<const std::byte> data);

// Where an archive starts in the input: 0 for a plain archive, behind the program for a
// self-extracting one; nothing when there is none, or the archive is of the newer format
// (newer: set when the newer format's signature was found).
std::optional<std::uint64_t> FindArchive(Input& input, bool* newer = nullptr);

// Reads an archive member by member, and decodes members in order: the decoder's state
// (dictionary, tables, PPMd model) passes from one member to the next of a solid stream.
class Reader {
  public:
    // Throws Error(kFormat) when the input holds no archive of versions up to 4.x, and for an
    // archive whose headers are encrypted ("encrypted headers").
    explicit Reader(std::unique_ptr<Input> first, VolumeOpener openVolume = {},
                    VolumeNamer nameVolume = {});
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    const MainHeader& Main() const;

    // Back to the first member.
    void Restart();

    // The next file or folder, with its parts in the volumes after this one; nothing at the end.
    // Service and comment blocks are passed over. Throws Error(kFormat) for a damaged header,
    // kVolume when the member continues in a volume that is missing.
    std::optional<Member> Next();

    // Decodes the member (one Next() returned) into sink and checks its CRC. A member of a
    // solid stream is decoded after the members before it in that stream, which are decoded
    // without being written. Throws Error(kMember) for this member alone.
    void Extract(const Member& member, const DataSink& sink, const ProgressFn& progress = {});

  private:
    struct State;
    std::unique_ptr<State> state_;
};

std::uint32_t Crc32(std::span<const std::byte> data, std::uint32_t crc = 0);

}  // namespace zembrat::rar
