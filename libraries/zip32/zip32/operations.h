// The commands of the ZIP archiver libraries. Each returns a result code of archiver_api.h
// and writes its text (and the reason of a failure first) into the context's output.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "common/member_progress.h"
#include "common/safe_path.h"
#include "export/backend.h"
#include "zip/zip.h"
#include "zip32/request.h"

namespace zembrat::zip32 {

using exports::Context;
using exports::MemoryResult;
using exports::Outcome;

// The unzip side (UnZip, Unzip) and the zip side (Zip) of one command line.
int RunUnzipLine(std::string_view line, Context& context);
int RunZipLine(std::string_view line, Context& context);

int Extract(const Request& request, Context& context);  // -x, -t
int List(const Request& request, Context& context);     // -l
int Pack(const Request& request, Context& context);     // add, -u, -f, -d, -FF, -J
int Adjust(const Request& request, Context& context);   // -A
int ExtractToMemory(const Request& request, std::span<std::byte> buffer, MemoryResult& result,
                    Context& context);

// OpenArchive's listing; nothing when the file holds no ZIP archive.
std::unique_ptr<exports::ArchiveCursor> OpenListing(const std::string& path);
// The archive from its first local header up to its end record, in an unnamed file: without
// an end record the decoder reads the members from their local headers, whatever the
// directory says (listing and salvaging an archive whose directory is damaged).
std::unique_ptr<common::TemporaryFile> LocalHeadersOnly(const std::string& archive);

// CheckArchive: the directory is sound (depth 0-2); every member's data and CRC too (3 and
// more). Self-extracting files are always accepted.
bool CheckArchive(const std::string& path, int mode);

// The file as a path, also for an unnamed temporary file.
std::string ProcPath(int fd);

// The result code for an engine error.
int ResultFor(const zip::Error& error);

// Progress of one member to the owner window: BEGIN, UPDATE every 64 KiB, END. Each step
// throws zip::Error(kAborted) when the owner answers 1.
class ProgressMeter {
  public:
    ProgressMeter(const common::ProgressReporter& reporter, const std::string& source,
                  const std::string& destination, std::uint64_t size, std::int64_t mtime);
    zip::ProgressFn Callback();
    void Finish();

  private:
    common::MemberProgress progress_;
};

}  // namespace zembrat::zip32
