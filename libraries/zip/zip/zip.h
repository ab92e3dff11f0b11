// The ZIP engine: writes ZIP archives with our own container code over libdeflate, and reads
// them with libarchive inside a helper process. Knows nothing of command lines; member names
// are in the host code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive_host/client.h"
#include "archive_host/member_fields.h"
#include "common/engine.h"

namespace zembrat::zip {

struct CentralEntry;
class ExistingArchive;

enum class ErrorKind {
    kIo,        // reading or writing a file failed
    kChanged,   // an input ended before its stated size
    kArchive,   // the archive cannot be read any further (damaged, a limit hit, no helper)
    kMember,    // one member cannot be extracted; the others can
    kAborted,   // a progress callback asked to stop
    kTooLarge,  // beyond what the format can carry
};

using Error = common::KindedError<ErrorKind>;

// A fault of the container that no other reader is to be asked to read past: members that
// share bytes (the overlapping-member bomb), a split set missing a part.
class RefusedArchive : public Error {
  public:
    explicit RefusedArchive(const std::string& why) : Error(ErrorKind::kArchive, why) {}
};

// Called with the bytes done so far of the current member; answering false stops the work
// (Error kAborted).
using ProgressFn = common::EngineProgressFn;

// ---- Writing ----

// Where member data comes from.
class Input {
  public:
    virtual ~Input() = default;
    // Up to buffer.size() bytes; 0 only at the end. Throws Error(kIo).
    virtual std::size_t Read(std::span<std::byte> buffer) = 0;
    // Starts again from the beginning, for storing data that did not compress; false when the
    // input cannot (the data then stays deflated).
    virtual bool Rewind() { return false; }
};

// A file read from its start; owns its descriptor.
class FileInput final : public Input {
  public:
    explicit FileInput(const std::string& path);  // throws Error(kIo)
    ~FileInput() override;
    FileInput(const FileInput&) = delete;
    FileInput& operator=(const FileInput&) = delete;
    std::size_t Read(std::span<std::byte> buffer) override;
    bool Rewind() override;
    std::uint64_t Size() const { return size_; }

  private:
    int fd_;
    std::uint64_t position_ = 0;
    std::uint64_t size_ = 0;
};

// Data held by the caller.
class MemoryInput final : public Input {
  public:
    explicit MemoryInput(std::span<const std::byte> data) : data_(data) {}
    std::size_t Read(std::span<std::byte> buffer) override;
    bool Rewind() override {
        position_ = 0;
        return true;
    }

  private:
    std::span<const std::byte> data_;
    std::size_t position_ = 0;
};

struct WriterOptions {
    int level = 6;  // 0 stores everything; 1 (fastest) to 9 (smallest)
    // Compression threads for members larger than one chunk: 0 takes two where the machine
    // has them. The archive comes out the same either way.
    unsigned threads = 0;
};

struct EntryInfo {
    std::string name;        // host code page, '/' between folders; no trailing '/'
    std::int64_t mtime = 0;  // seconds since 1970 UTC
    std::uint32_t mode = 0;  // permission bits (07777); 0: 0644 for files, 0755 for folders
};

// What was written for one member.
struct WrittenMember {
    std::string storedName;  // the name's bytes in the archive
    bool deflated = false;
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
    std::uint32_t crc = 0;
};

// Writes an archive to a descriptor open for writing, from its current offset on (so that an
// archive can follow a self-extracting stub; offsets in the archive count from the file's
// start). It writes with pwrite(), so the descriptor must be a regular file without O_APPEND;
// it is left where it was. Memory does not grow with member size. A member whose input fails
// half-way leaves the writer as it was before that member.
class Writer {
  public:
    explicit Writer(int fd, WriterOptions options = {});
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // size bytes of data; Error(kChanged) when the input holds fewer. Data that does not
    // shrink is stored (read a second time where the input can rewind).
    WrittenMember AddFile(const EntryInfo& info, Input& data, std::uint64_t size,
                          const ProgressFn& progress = {});
    WrittenMember AddDirectory(const EntryInfo& info);
    WrittenMember AddSymlink(const EntryInfo& info, std::string_view target);
    // Copies a member of an existing archive unchanged (header and compressed data): updating,
    // freshening and deleting copy the members they keep this way.
    WrittenMember CopyMember(const ExistingArchive& archive, std::size_t index);
    // Writes the central directory and the end records. Nothing is added afterwards.
    void Finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// ---- Members of an existing archive, for copying ----

struct ExistingMember {
    std::string name;  // host code page; folders without their trailing '/'
    bool isDirectory = false;
    std::uint16_t method = 0;  // 0 stored, 8 deflate, 12 bzip2, 14 LZMA, 93 zstd, 95 xz, ...
    std::uint32_t mode = 0;    // Unix type and permission bits, when made on Unix; else 0
    bool encrypted = false;
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
    std::uint32_t crc = 0;
    // Seconds since 1970 UTC: the extended timestamp, else the MS-DOS time read as local time.
    std::int64_t mtime = 0;
};

// An existing archive's central directory, read by our own bounded parser (nothing is
// decompressed), so that a new archive can take members over without recompressing them, and
// a listing can show compressed sizes and CRCs (which the reader does not give).
// A self-extracting file whose offsets count from the archive's start rather than the file's
// is read too.
class ExistingArchive {
  public:
    // Throws Error(kArchive) when the directory is damaged, a member lies outside the file or
    // two members share bytes.
    explicit ExistingArchive(const std::string& path);
    ~ExistingArchive();
    ExistingArchive(const ExistingArchive&) = delete;
    ExistingArchive& operator=(const ExistingArchive&) = delete;

    const std::vector<ExistingMember>& Members() const;
    // Where the archive starts in the file: its first member's local header (the directory
    // when it has none). What lies before is a self-extracting program or other prefix.
    std::uint64_t ArchiveStart() const;
    // How many files the archive is: more than one for a split set (read, never changed).
    std::size_t Parts() const;
    // Streams a member's data as stored (compressed, without headers).
    void ReadData(std::size_t index,
                  const std::function<void(std::span<const std::byte>)>& out) const;

  private:
    friend class Writer;
    const CentralEntry& Central(std::size_t index) const;
    // Streams the member's local header, data and data descriptor as they are.
    void CopyRaw(std::size_t index,
                 const std::function<void(std::span<const std::byte>)>& out) const;
    void StreamRange(std::uint64_t start, std::uint64_t length,
                     const std::function<void(std::span<const std::byte>)>& out) const;

    struct State;
    std::unique_ptr<State> state_;
};

// ---- Reading ----

using MemberKind = archive_host::MemberKind;

// What a method is called: `word` in messages and member descriptions (the helper's reader
// uses the same words), `label` in a listing's short column.
struct MethodNames {
    std::string word, label;
};
MethodNames NamesOfMethod(std::uint16_t method);

// name and linkTarget in the host code page, '/' between folders as stored.
struct Member : archive_host::MemberFields {
    std::string method;  // NamesOfMethod's word: "deflation", "uncompressed", "bzip2", ...
    // Known when the archive is read in process: made on Unix, so '\\' is an ordinary
    // character of the name; else '\\' separates folders as '/' does. Unknown (the helper):
    // every '\\' came out as '/'.
    std::optional<bool> madeOnUnix;
};

// Receives one member's data.
class DataSink {
  public:
    virtual ~DataSink() = default;
    virtual void Write(std::span<const std::byte> data) = 0;
};

struct ReaderOptions {
    archive_host::HostOptions host;
    // No helper: what our own code cannot read is an error (fuzzing the in-process reader).
    bool inProcessOnly = false;
};

// Reads an archive member by member in process: our own container parser and decoders, and
// for a member of a method we do not decode (PPMd) the helper process (libarchive), asked for
// that member alone. An archive whose directory our parser refuses as damaged is read whole
// through the helper, which reads the members from their local headers. Names without the
// UTF-8 flag are read as CP932 (see the README for the fallback).
class Reader {
  public:
    // Throws Error(kArchive) when neither way can open the archive: members that share bytes
    // and a split set missing a part are refused outright.
    explicit Reader(const std::string& archivePath, ReaderOptions options = {});
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // True when the archive is read in process (names then say where they were made), false
    // when the helper reads it whole.
    bool InProcess() const;

    // The next member, or nothing at the end. Throws Error(kArchive).
    std::optional<Member> Next();

    // The current member's data into sink. Throws Error(kMember) when this member is bad (bad
    // CRC, data past its declared size, encrypted, damaged header): what the sink got must
    // then be thrown away, and Next() still works. Error(kArchive) ends the archive.
    void Extract(DataSink& sink, const ProgressFn& progress = {});

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zembrat::zip
