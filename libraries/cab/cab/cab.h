// The cabinet engine: reads cabinets (stored, MSZIP, Quantum, LZX; inside self-extracting
// programs; spanned over several files) with libmspack inside the helper process, extracts
// them under the safety rules, and writes them (MSZIP or stored) with libdeflate. Knows
// nothing of command lines.
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
#include "common/engine.h"

namespace zembrat::cab {

enum class ErrorKind {
    kArchive,  // the cabinet cannot be read any further (damaged, a limit hit, no helper)
    kMember,   // one member cannot be extracted; the others can
    kAborted,  // a progress callback asked to stop
};

using Error = common::KindedError<ErrorKind>;

// The attribute bits of a cabinet member.
inline constexpr std::uint32_t kAttributeReadOnly = 0x01;
inline constexpr std::uint32_t kAttributeHidden = 0x02;
inline constexpr std::uint32_t kAttributeSystem = 0x04;
inline constexpr std::uint32_t kAttributeArchive = 0x20;
inline constexpr std::uint32_t kAttributeExecute = 0x40;
inline constexpr std::uint32_t kAttributeUtf8Name = 0x80;

// The most a cabinet's folder may hold uncompressed: its offsets are 32-bit and its blocks
// are 32 KiB, so what goes past 2 GiB less one block cannot be addressed.
inline constexpr std::uint64_t kMaxCabinetContent = 0x7FFF8000;

using ProgressFn = common::EngineProgressFn;
using DataSink = std::function<void(std::span<const std::byte>)>;

struct Member {
    std::string name;  // UTF-8, '/' between folders
    std::uint64_t size = 0;
    std::int64_t mtime = 0;  // seconds since 1970 UTC
    std::uint32_t mode = 0644;
    std::uint32_t attributes = 0;
    std::string method;  // "MSZIP", "LZX21", "Quantum", "Stored"
};

// A stored name as the host reads it: UTF-8 when the UTF attribute is set (bytes that are
// not valid UTF-8 are then read as CP932), else CP932 (then Latin-1). The name is decoded
// before '\' is read as the folder separator, so the second byte of a two-byte CP932
// character never splits it.
std::string DecodeMemberName(std::string_view stored, std::uint32_t attributes);

// The most a whole cabinet may decompress to before it counts as a decompression bomb.
std::uint64_t OutputLimitFor(std::uint64_t archiveSize);

class Reader {
  public:
    // Throws Error(kArchive) when the file holds no cabinet or cannot be opened.
    explicit Reader(const std::string& archivePath, archive_host::HostOptions options = {});

    // The next member, or nothing at the end. Throws Error(kArchive).
    std::optional<Member> Next();
    // The current member's data, checked (block checksums, size). Throws Error(kMember) for
    // this member alone (what the sink got must be thrown away), Error(kArchive) when the
    // cabinet is lost.
    void Extract(const DataSink& sink, const ProgressFn& progress = {});

  private:
    archive_host::ArchiveHost host_;
    std::optional<Member> current_;
};

// Every member of a cabinet. Throws Error(kArchive).
std::vector<Member> ReadMembers(const std::string& archivePath);

enum class Problem {
    kUnsafe,       // a name that would lead outside the destination
    kDamaged,      // the member's data is bad
    kCannotWrite,  // the file system refused
    kKept,         // an existing file was kept (no overwrite asked)
};

struct ExtractOptions : common::ExtractOptionsOf<Member> {
    archive_host::HostOptions host;  // the helper that reads the cabinet
};

using ExtractEvents = common::ExtractEvents<Member, Problem>;

using ExtractSummary = common::ExtractSummary;

// Extracts (or tests) the cabinet. Throws Error(kArchive) when the cabinet is lost midway
// (what was done stays), Error(kAborted) when a progress callback stopped it.
ExtractSummary Extract(const std::string& archivePath, const ExtractOptions& options,
                       ExtractEvents& events);

enum class Compression { kMszip, kStored };

struct CreateOptions {
    std::string baseFolder;  // names are read relative to it; empty: the current folder
    Compression compression = Compression::kMszip;
    bool intoFolders = true;  // a folder named brings everything in it
    bool keepFolders = true;  // false: every file stored under its bare name
    ProgressFn progress;      // bytes read of all files together
};

using CreateEvents = common::CreateEvents;

// Writes a cabinet of the names (files; folders with everything in them), relative names
// with '\' between folders, names that are not plain ASCII in UTF-8 with the UTF attribute.
// The cabinet appears under its name only once it is complete. Throws
// common::Failure(ARC_ERROR_CANNOT_WRITE) when it cannot be created or written,
// common::Failure(ARC_ERROR_CANNOT_READ) when a file named cannot be read whole,
// common::Failure(ARC_ERROR_NO_FILES) when no file was found to store,
// common::Failure(ARC_ERROR_TOO_LARGE) when its content would pass
// kMaxCabinetContent or it would count more than 65535 files.
void Create(const std::string& archivePath, const std::vector<std::string>& names,
            const CreateOptions& options, CreateEvents& events);

// Writes stub + the cabinet to sfxPath (the execute bit set), complete or not at all.
// Throws common::Failure(ARC_ERROR_CANNOT_WRITE or ARC_ERROR_CANNOT_READ).
void MakeSelfExtracting(const std::string& stubPath, const std::string& cabinetPath,
                        const std::string& sfxPath);

}  // namespace zembrat::cab
