// The tar-family engine: reads tar (every dialect), cpio, ar, rpm and lone compressed files
// with libarchive inside a helper process, and extracts them under the safety rules (nothing
// outside the destination, links never lead a later member out, no device files, nothing
// half-written under a final name). Knows nothing of command lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive_host/client.h"
#include "archive_host/member_fields.h"
#include "common/engine.h"
#include "common/progress.h"

namespace zembrat::tar {

using MemberKind = archive_host::MemberKind;

enum class ErrorKind {
    kArchive,  // the archive cannot be read any further (damaged, a limit hit, no helper)
    kMember,   // one member cannot be extracted; the others can
    kAborted,  // a progress callback asked to stop
};

using Error = common::KindedError<ErrorKind>;

using ProgressFn = common::EngineProgressFn;
using DataSink = std::function<void(std::span<const std::byte>)>;
// A run of zeros of a sparse member, by its length.
using HoleSink = std::function<void(std::uint64_t)>;

// name: UTF-8 where the bytes are valid UTF-8, else read as CP932; linkTarget: a symbolic
// link's target, or the member a hard link names; error non-empty: the header is damaged.
struct Member : archive_host::MemberFields {
    bool lone = false;  // the one member of a compressed file that holds no archive
};

// Up to size bytes of a file from offset on (fewer when it is shorter; none when it cannot
// be read).
std::string FileHead(const std::string& path, std::size_t size, std::uint64_t offset = 0);

// Where the archive starts in a file: behind the ELF image of a program when a tar header
// or a gzip stream follows it there (a self-extracting file, the program and the archive
// simply concatenated); else 0, the file is read as a whole. Any other program stays a
// program.
std::uint64_t ArchiveStart(const std::string& path);

// The most a whole archive may decompress to: generous for real data (1 GiB, plus 1024 bytes
// for each byte of the archive), and a clear stop for a decompression bomb.
std::uint64_t OutputLimitFor(std::uint64_t archiveSize);

// The one member's name of a lone compressed file: the name in its gzip header, else the
// archive's file name without its extension.
std::string LoneMemberName(const std::string& archivePath);

class Reader {
  public:
    // Throws Error(kArchive) when the file is no archive of the family or cannot be opened.
    // format: the helper's decoder setup ("tar"; "rar" for a library that reads RAR alike).
    // A "tar" archive is read from its ArchiveStart on.
    explicit Reader(const std::string& archivePath, archive_host::HostOptions options = {},
                    std::string_view format = "tar");

    // Every member and its data come without being asked for (archive_host::StreamAll):
    // faster when the whole archive is read.
    void StreamAll();

    // The next member, or nothing at the end. Throws Error(kArchive).
    std::optional<Member> Next();
    // The current member's data. Throws Error(kMember) for this member alone (what the sink
    // got must be thrown away), Error(kArchive) when the archive is lost. The holes of a
    // sparse member go to holes when given, else to sink as zeros.
    void Extract(const DataSink& sink, const ProgressFn& progress = {}, const HoleSink& holes = {});

  private:
    // No member came: a real empty tar decompresses to zeros alone. Anything else (a lone
    // .gz of a disk image starting with a zero block) is one lone member, read by a helper
    // that takes the data as it is; a plain file that is not zeros is no archive.
    std::optional<Member> NoMembers();
    std::optional<Member> Take(const archive_host::HostMember& next);

    std::string path_;
    archive_host::HostOptions options_;
    std::string format_;
    std::optional<archive_host::ArchiveHost> host_;
    std::optional<Member> current_;
    bool streaming_ = false;
    bool anyMember_ = false;
};

enum class Problem {
    kUnsafe,       // a name or link that would lead outside the destination
    kNotCreated,   // a device file, FIFO or socket: reported, never created
    kDamaged,      // the member's data or header is bad
    kCannotWrite,  // the file system refused
    kKept,         // an existing file was kept (no overwrite asked)
};

struct ExtractOptions : common::ExtractOptionsOf<Member> {
    bool onlyNotOlder = false;       // with overwrite: keep an existing file newer than the member
    bool keepPermissions = true;     // the stored permission bits (less the umask); else defaults
    std::string format = "tar";      // the helper's decoder setup (see Reader)
    archive_host::HostOptions host;  // the volumes that follow the first, ...
    // Only a few members are wanted (names were given): the others' data is skipped rather
    // than streamed.
    bool fewMembers = false;
};

using ExtractEvents = common::ExtractEvents<Member, Problem>;

using ExtractSummary = common::ExtractSummary;

// Extracts (or tests) the archive. Throws Error(kArchive) when the archive is lost midway
// (what was done stays), common::Failure(ARC_ERROR_CANNOT_WRITE) when it ends because the file
// system refused a member's data (a full disk), Error(kAborted) when a progress callback
// stopped it.
ExtractSummary Extract(const std::string& archivePath, const ExtractOptions& options,
                       ExtractEvents& events);

}  // namespace zembrat::tar

namespace zembrat::tar {

enum class Filter { kNone, kGzip, kBzip2 };

struct CreateOptions {
    std::string baseFolder;  // names are read relative to it; empty: the current folder
    Filter filter = Filter::kNone;
    int level = -1;  // 1-9 for gzip and bzip2; -1 the compressor's default
    // Where each file's progress goes (bytes of the file read so far); its answer to stop
    // ends the work with Error(kAborted). None: no progress.
    const common::ProgressReporter* progress = nullptr;
};

using CreateEvents = common::CreateEvents;

// Writes a pax tar (names in UTF-8) of the names (files, links, folders with everything in
// them), under gzip or bzip2 when asked. The archive appears under its name only once it is
// complete; on any failure the file that had its name is untouched. Throws common::Failure
// when the archive cannot be written (ARC_ERROR_CANNOT_WRITE) or a file changed while it was
// read (ARC_ERROR_CANNOT_READ), Error(kAborted) when the owner asked to stop, and
// std::runtime_error for what the decoder library refuses.
void Create(const std::string& archivePath, const std::vector<std::string>& names,
            const CreateOptions& options, CreateEvents& events);

}  // namespace zembrat::tar
