// The library's side of a helper process: spawns a fresh zembrat-archive-host (never a fork
// of the host program) that parses one archive under memory and CPU-time limits, and reads
// the members' headers and data from it. Every file-system write stays with the caller.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "archive_host/protocol.h"

namespace zembrat::archive_host {

// The archive cannot be read any further: damaged beyond the current member, a limit hit,
// the helper missing or gone.
class HostError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The current member cannot be extracted (a bad CRC, data past its declared size, encrypted);
// the next member can still be asked for.
class MemberError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct HostOptions {
    // The helper program; empty: "zembrat-archive-host" beside the module that holds this code
    // (the library or program), then in its ../lib/zembrat/.
    std::string helperPath;
    std::uint64_t memoryLimit = 1024ull * 1024 * 1024;  // address space of the helper
    // CPU time for the whole archive: generous, since a large archive takes long; a decoder
    // that loops without output is caught sooner by answerTimeout.
    unsigned cpuSeconds = 3600;
    // The most data all members together may decompress to (0: no limit): a bound on
    // decompression bombs, whatever sizes the headers declare.
    std::uint64_t outputLimit = 0;
    // The longest the helper may stay silent while an answer is due (an answer comes at least
    // every 64 KiB of member data).
    std::chrono::milliseconds answerTimeout{30'000};
    // The volumes that continue the archive, in order (a multi-volume set): the library opens
    // each and hands it to the helper, which reads them as one stream after the first.
    std::vector<std::string> moreVolumes;
    // Told what the library should pass on to its user (the helper could not lock itself
    // entirely); unset: such notes are dropped.
    std::function<void(const std::string&)> note;
    // Where the archive starts in its file (an archive behind a program): the helper reads
    // from there on as if the file began there.
    std::uint64_t archiveOffset = 0;
};

// Where the helper program is looked for when HostOptions::helperPath is empty.
std::string FindHelperProgram();

class ArchiveHost {
  public:
    // Starts the helper on the archive; format names the decoder setup ("zip"). Throws
    // HostError when the archive cannot be opened or the helper cannot be started.
    ArchiveHost(const std::string& archivePath, std::string_view format,
                const HostOptions& options = {});
    ~ArchiveHost();
    ArchiveHost(const ArchiveHost&) = delete;
    ArchiveHost& operator=(const ArchiveHost&) = delete;

    // From here on the helper sends every member and its data without being asked, saving
    // two round trips per member when the whole archive is read; Next() passes over whatever
    // data of the previous member was not read.
    void StreamAll();

    // The next member, or nothing at the end. Throws HostError.
    std::optional<HostMember> Next();

    // Streams the current member's data to sink. Throws MemberError for this member alone,
    // HostError when the archive is lost; whatever the sink throws ends the helper too.
    void ReadData(const std::function<void(std::span<const std::byte>)>& sink);
    // The same, with the holes of a sparse member given to holes as their length instead of
    // as zeros.
    void ReadData(const std::function<void(std::span<const std::byte>)>& sink,
                  const std::function<void(std::uint64_t)>& holes);

  private:
    struct Frame {
        FrameType type;
        std::string payload;
    };
    void Send(Command command);
    Frame Receive();  // the next frame, notes handed to options_.note on the way
    Frame ReceiveAny();
    bool ReadExactly(char* data, std::size_t size);
    [[noreturn]] void Fail(const std::string& reason);
    std::string ExitReason();
    void Stop();

    HostOptions options_;
    int socket_ = -1;
    pid_t pid_ = -1;
    bool broken_ = false;
    bool streaming_ = false;
    bool dataPending_ = false;  // streaming: the current member's data is still on its way
    bool ended_ = false;
    std::string brokenReason_;
};

}  // namespace zembrat::archive_host
