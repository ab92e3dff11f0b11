// The ARJ archiver library: read only. Command lines come in the LHA driver's syntax (the
// ARJ driver builds them with the LHA driver's builder); x, e, l, v and t act. Streams,
// progress and the error mapping are the LHA library's, since the ARJ engine shares them.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "arj/archive.h"
#include "export/backend.h"

namespace zembrat::unarj32j {

using exports::Context;
using exports::MemoryResult;

struct Request {
    char command = 0;  // x e l v t; 0 for ExtractMem
    std::string archive;
    std::string folder;  // destination; may be empty
    std::vector<std::string> names;
    std::vector<std::string> excludes;  // -jx masks
    bool overwrite = false;             // -m1 and more
};

// Parses a command line; throws common::Failure (ARC_ERROR_BAD_COMMAND, also for the
// commands that would change an archive: this library only reads).
Request ParseCommandLine(std::string_view line, bool commandExpected);

// An ARJ archive opened for reading: a plain one, the first volume of a set (the volumes
// ".a01", ".a02", ... beside it are read as the members go on into them), or one inside a
// self-extracting program.
class ArjSource {
  public:
    // Throws common::Failure: ARC_ERROR_CANNOT_READ, ARC_ERROR_NOT_REGULAR, or
    // ARC_ERROR_NOT_ARCHIVE when the file holds no ARJ archive (allowEmbedded: also none
    // inside a program).
    ArjSource(const std::string& path, bool allowEmbedded);
    ~ArjSource();
    arj::Reader& Reader() { return *reader_; }
    std::uint64_t Size() const;

  private:
    std::unique_ptr<lha::FileInput> file_;
    std::unique_ptr<arj::Reader> reader_;
};

// The member's name in the host code page, '/' between folders.
std::string HostName(const arj::Member& member);
std::int64_t WriteTimeNanoseconds(const arj::Member& member);
// Permission bits for an extracted file or folder (before the umask).
unsigned PermissionBits(const arj::Member& member);
void FillEntryRecord(const arj::Member& member, ARCHIVE_ENTRY_RECORD& record);
void FillProgressRecord(const arj::Member& member, const std::string& source,
                        const std::string& destination, EXTRACTINGINFOEX& record);

int RunCommandLine(std::string_view commandLine, Context& context);
// The commands throw common::Failure, and lha::Error or lha::Aborted from the engine, for
// unlha32::Guarded to turn into result codes.
int Extract(const Request& request, Context& context, bool keepFolders);  // x, e
int Test(const Request& request, Context& context);                       // t
int List(const Request& request, Context& context, bool verbose);         // l, v
int ExtractToMemory(const Request& request, std::span<std::byte> buffer, MemoryResult& result,
                    Context& context);
// The depth in the low two bits (0 the main header and first member header, 1 or 2 every
// header, 3 every member's data and CRC), ARC_CHECK_EMBEDDED to accept
// self-extracting programs.
bool CheckArchive(const std::string& path, int mode);

}  // namespace zembrat::unarj32j
