// What an archiver library plugs into the shared export layer: its command-line commands,
// its archives opened for listing, its archive check and its extraction to memory. The layer
// (export/entries.h) turns these into the C entry family of the library contract, with the
// handle table, the owner window and the listing records every library shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "archiver_api.h"
#include "common/output_text.h"
#include "common/progress.h"

namespace zembrat::exports {

// What one call of the library works with: where its progress goes, where its text goes.
struct Context {
    common::ProgressReporter progress;
    common::OutputText output;
    // Named in the line about a kept file: how the caller asks to overwrite (each library
    // sets its own; the LHA library's self-extracting program says "-f").
    std::string overwriteSwitch;
};

// Passes a note of a helper process (archive_host::HostOptions::note) on to the caller as a
// line of the command's output.
inline auto NoteLine(Context& context) {
    return [&context](const std::string& text) { context.output.Line("note: " + text); };
}

// The result of a command that goes on after a member's failure: the first error wins
// over warnings.
class Outcome {
  public:
    void Note(int code) {
        if (code == 0) {
            return;
        }
        if (code_ == 0 || (code_ == ARC_WARNING_SKIPPED && code != ARC_WARNING_SKIPPED)) {
            code_ = code;
        }
    }
    int Code() const { return code_; }

  private:
    int code_ = 0;
};

// A member extracted into the caller's buffer.
struct MemoryResult {
    std::uint32_t written = 0;
    std::int64_t unixTime = 0;
    std::uint16_t attributes = 0;
};

// One member as the listing entries report it: the record, and what does not fit in it.
struct ListedMember {
    ARCHIVE_ENTRY_RECORD record{};
    std::uint64_t originalSize = 0;
    std::uint64_t compressedSize = 0;
    // File times (100 ns since 1601); the getters report nothing for a time not known.
    std::optional<std::uint64_t> writeTime;
    std::optional<std::uint64_t> createTime;
    std::optional<std::uint64_t> accessTime;
};

// An archive opened by OpenArchive, walked by FindFirst and FindNext.
class ArchiveCursor {
  public:
    virtual ~ArchiveCursor() = default;
    // Back to the first member (FindFirst).
    virtual void Restart() = 0;
    // The next member whose name the mask selects (an empty mask, "*" and "*.*" select
    // every one): 0 and the member filled, kNoMoreMembers at the end, or a result code of
    // archiver_api.h when the archive is damaged.
    virtual int Next(std::string_view mask, ListedMember& member) = 0;
};

inline constexpr int kNoMoreMembers = -1;

class Backend {
  public:
    virtual ~Backend() = default;
    // The libraries that share one owner window: every library of a family reports its
    // progress to the owner any of them was given ("lha", "zip").
    virtual std::string_view Family() const = 0;
    // The command entry: runs one command line, its text into the context's output.
    virtual int RunCommand(std::string_view commandLine, Context& context) = 0;
    // OpenArchive: the archive for listing, or nothing when this library cannot read it.
    virtual std::unique_ptr<ArchiveCursor> OpenArchive(const std::string& path,
                                                       std::uint32_t mode) = 0;
    // CheckArchive: whether the file is a sound archive of this library's kind.
    virtual bool CheckArchive(const std::string& path, int mode) = 0;
    // ExtractMem: the first member the command line names, into the buffer. Libraries
    // without it refuse the command.
    virtual int ExtractToMemory(std::string_view /*commandLine*/, std::span<std::byte> /*buffer*/,
                                MemoryResult& /*result*/, Context& context) {
        context.output.FirstLine("this library cannot extract to memory");
        return ARC_ERROR_BAD_COMMAND;
    }
};

}  // namespace zembrat::exports
