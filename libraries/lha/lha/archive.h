// The LHA format: a streaming reader and writer of LHA archives. Knows nothing of command
// lines, code pages or the file system layout; names are the bytes stored in the archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/engine.h"
#include "lha/stream.h"

namespace zembrat::lha {

enum class ErrorKind {
    kFormat,             // a header is malformed (bad size, bad header CRC, bad level)
    kTruncated,          // the archive ends inside a header or member data
    kCrc,                // a member's data fails its CRC
    kUnsupportedMethod,  // a member uses a method without a decoder
    kCorruptData,        // the compressed stream is invalid
    kTooLarge,           // a size the format or this writer cannot carry
    kIo,                 // reading or writing a stream failed
    kCannotWrite,        // a temporary copy of the input cannot be written (a full disk)
};

using Error = common::KindedError<ErrorKind>;

// How a stored name's bytes are to be read.
enum class NameEncoding {
    kLegacy,  // bytes in the writer's code page (usually Shift-JIS)
    kUtf8,    // from a Unicode name extended header, converted to UTF-8 by the reader
};

// One member header.
struct Member {
    std::string path;  // folder part and name joined with '/', as stored (no leading '/')
    NameEncoding encoding = NameEncoding::kLegacy;
    std::string method = "-lh0-";  // five characters, e.g. "-lh5-", "-lhd-" for folders
    std::uint64_t compressedSize = 0;
    std::uint64_t originalSize = 0;
    std::uint16_t crc = 0;    // CRC-16 of the original data
    int headerLevel = 2;      // 0, 1, 2 or 3
    std::uint8_t osId = 'U';  // 'M' MS-DOS, 'U' Unix, 'w' Windows, ...
    std::uint8_t msdosAttributes = 0x20;
    std::int64_t unixTime = 0;  // seconds since 1970 UTC, whatever the header held
    std::optional<std::uint64_t> windowsCreateTime, windowsWriteTime, windowsAccessTime;
    std::optional<std::uint16_t> unixMode, unixUid, unixGid;
    std::string unixUser, unixGroup;
    std::string linkTarget;  // symbolic link target (method -lhd-), empty otherwise
    // Writing: the path in UTF-8, also stored in the Unicode name headers (0x44 name, 0x45
    // folder) at levels 1 and 2, so that readers need not guess the legacy name's code page.
    // Empty: none are written.
    std::string unicodePath;

    bool IsDirectory() const { return method == "-lhd-" && linkTarget.empty(); }
    bool IsSymlink() const { return method == "-lhd-" && !linkTarget.empty(); }

    std::uint64_t headerOffset = 0;  // where the header starts in the archive
    std::uint64_t dataOffset = 0;    // where the member's data starts
};

// Called with the bytes done so far of the current member; answering false stops the
// operation, which then throws Aborted.
using ProgressFn = common::EngineProgressFn;

class Aborted : public std::runtime_error {
  public:
    Aborted() : std::runtime_error("aborted") {}
};

// True when a decoder exists for the method ("-lh5-" ...).
bool CanDecode(std::string_view method);
// True when the writer can produce the method.
bool CanEncode(std::string_view method);

struct ReaderOptions {
    // Look for the first header inside a self-extracting program (ours or DOS/Windows ones).
    bool searchEmbedded = true;
};

// Reads an archive member by member. Memory does not grow with member size.
class Reader {
  public:
    // Throws Error(kFormat) when no archive is found.
    explicit Reader(SeekableInput& input, ReaderOptions options = {});
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Offset of the first header (non-zero inside a self-extracting program).
    std::uint64_t ArchiveStart() const;

    // The next header, or nothing at the end of the archive. Skips whatever data of the
    // previous member was not read.
    std::optional<Member> Next();

    // Decodes the current member's data into out, checking length and CRC (throws Error).
    // progress is called on this thread at least every 64 KiB; out may be written from a
    // second thread (for members of 4 MiB and more), so it must not report to anyone itself.
    void Extract(OutputStream& out, const ProgressFn& progress = {});

    // Copies the current member (header and compressed data) unchanged.
    void CopyRaw(OutputStream& out);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

struct WriterOptions {
    int headerLevel = 2;           // 0, 1 or 2
    std::string method = "-lh7-";  // "-lh0-", "-lh5-", "-lh6-" or "-lh7-"
    std::uint8_t osId = 'U';
    int level = 0;    // 0: fast; 1: smaller output, slower (see the README)
    int threads = 0;  // 0: as many as the machine has cores (two are used); 1: this thread only.
                      // The archive comes out the same either way.
};

// Writes an archive. Needs a seekable output to patch sizes into headers.
class Writer {
  public:
    Writer(SeekableOutput& output, WriterOptions options = {});
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Compresses size bytes of data under the header's name, times and mode (method, sizes
    // and CRC are filled in). Stored with -lh0- when compression does not pay, reading the
    // data a second time (progress then starts again from 0); progress is called on this
    // thread at least every 64 KiB. A member of
    // 4 GiB or more gets a level 2 header with its 64-bit sizes (ext 0x42) whatever the
    // archive's level.
    void AddFile(const Member& header, InputStream& data, std::uint64_t size,
                 const ProgressFn& progress = {});
    void AddDirectory(const Member& header);
    void AddSymlink(const Member& header);
    // Copies a member of another archive unchanged (the reader stands at it).
    void AddRaw(Reader& reader);
    // Writes the end mark. Nothing is added afterwards.
    void Finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// CRC-16 (polynomial 0xA001, reflected) as LHA uses it for data and headers.
std::uint16_t Crc16(std::span<const std::byte> data, std::uint16_t crc = 0);

}  // namespace zembrat::lha
