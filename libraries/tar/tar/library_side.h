// What the archiver libraries over this engine (libtar32.so, libunrar32.so) share on the side
// of the export layer: result codes for the engine's failures, the extraction events that
// write the output text and send progress, the listing record of a member, a listing cursor
// and the extraction of one member to memory.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "export/backend.h"
#include "tar/tar.h"

namespace zembrat::tar {

int ResultFor(const Error& error);
int ResultFor(Problem problem);

// "-" file, "d" folder, "l" symbolic link, "h" hard link, "c" anything else.
std::string AttributeText(const Member& member);

// The listing record: the name (folders end in '/'), the size as both sizes, the local
// MS-DOS time, the attribute and the method text given.
exports::ListedMember ToListed(const Member& member, std::string_view method);

struct EventSettings {
    bool testing = false;  // "ok NAME" rather than "extracted NAME"
    bool progress = true;  // progress records to the owner window
    std::string method;    // the method field of the progress record
    // Rewords a reason before it is written (empty: as it is).
    std::function<std::string(const std::string&)> explain;
};

// Writes a line per member (the first failure as the output's first line) and sends each
// member's progress: BEGIN, UPDATE every 64 KiB, END; an answer of 1 stops the extraction.
class LibraryEvents final : public ExtractEvents {
  public:
    LibraryEvents(exports::Context& context, EventSettings settings);
    ~LibraryEvents() override;

    void Done(const Member& member) override;
    void Failed(Problem problem, const Member& member, const std::string& reason) override;
    ProgressFn Progress(const Member& member, const std::string& destination) override;

    int Code() const { return outcome_.Code(); }

  private:
    class Meter;
    exports::Context& context_;
    EventSettings settings_;
    exports::Outcome outcome_;
    bool firstWritten_ = false;
    std::unique_ptr<Meter> meter_;
};

// Walks members read beforehand; selects(name, mask) decides for a mask that is not empty,
// "*" or "*.*".
class MemberCursor final : public exports::ArchiveCursor {
  public:
    using Selects = std::function<bool(std::string_view name, std::string_view mask)>;
    MemberCursor(std::vector<Member> members, std::string method, Selects selects);

    void Restart() override { next_ = 0; }
    int Next(std::string_view mask, exports::ListedMember& listed) override;

  private:
    std::vector<Member> members_;
    std::string method_;
    Selects selects_;
    std::size_t next_ = 0;
};

// OpenArchive: a cursor over the members read, or nothing when they cannot be read.
std::unique_ptr<exports::ArchiveCursor> OpenCursor(const std::function<std::vector<Member>()>& read,
                                                   std::string method,
                                                   MemberCursor::Selects selects);

// CheckArchive: below ARC_CHECK_FULL in the depth bits every header is read (readHeaders),
// from it every member is decoded as well (decodeAll answers whether all were sound); false
// on any failure.
bool CheckArchive(int mode, const std::function<void()>& readHeaders,
                  const std::function<bool()>& decodeAll);

// The first regular member selected into the buffer, for ExtractMem: ARC_OK, or a
// common::Failure with the code and its reason (ARC_ERROR_BUFFER_TOO_SMALL once the buffer
// holds the first bytes and result says so, ARC_ERROR_NO_FILES). The engine's failures are
// thrown as Error.
int ExtractFirstToMemory(Reader& reader, const std::function<bool(const Member&)>& selects,
                         std::span<std::byte> buffer, exports::MemoryResult& result);

}  // namespace zembrat::tar
