// An LHA archive opened for reading, plain or inside a self-extracting program, and what the
// library reports about its members.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archiver_api.h"
#include "common/failure.h"
#include "lha/archive.h"
#include "lha/stream.h"
#include "platform/file_time.h"

namespace zembrat::unlha32 {

// A window onto part of another input: offset 0 here is `start` there.
class SubrangeInput final : public lha::SeekableInput {
  public:
    SubrangeInput(lha::SeekableInput& base, std::uint64_t start, std::uint64_t end);
    std::size_t Read(std::span<std::byte> buffer) override;
    void Seek(std::uint64_t offset) override;
    std::uint64_t Tell() const override { return position_; }
    std::uint64_t Size() const override { return end_ - start_; }

  private:
    lha::SeekableInput& base_;
    std::uint64_t start_, end_;
    std::uint64_t position_ = 0;
};

class ArchiveSource {
  public:
    // Throws Failure: ARC_ERROR_CANNOT_READ when the file cannot be opened or is not a
    // regular file, ARC_ERROR_NOT_ARCHIVE when it holds no LHA archive. allowEmbedded also
    // finds an archive inside a self-extracting program.
    ArchiveSource(const std::string& path, bool allowEmbedded);
    ~ArchiveSource();

    lha::Reader& Reader() { return *reader_; }
    lha::SeekableInput& Input() {
        return range_ ? static_cast<lha::SeekableInput&>(*range_) : *file_;
    }
    // Where the archive starts and ends in the file.
    std::uint64_t Start() const { return start_; }
    std::uint64_t End() const { return end_; }
    // Starts reading again from the first member.
    void Restart();

  private:
    std::unique_ptr<lha::FileInput> file_;
    std::unique_ptr<SubrangeInput> range_;
    std::unique_ptr<lha::Reader> reader_;
    bool scan_ = false;
    std::uint64_t start_ = 0, end_ = 0;
};

// The member's name in the host code page.
std::string HostName(const lha::Member& member);
// The member's last write time as a Windows file time (UTC).
platform::FileTime WriteTime(const lha::Member& member);
// Nanoseconds since 1970 of the last write time.
std::int64_t WriteTimeNanoseconds(const lha::Member& member);
// Permission bits to give an extracted file or folder (before the umask).
unsigned PermissionBits(const lha::Member& member);

void FillEntryRecord(const lha::Member& member, ARCHIVE_ENTRY_RECORD& record);
void FillProgressRecord(const lha::Member& member, const std::string& source,
                        const std::string& destination, EXTRACTINGINFOEX& record);

// Opens an archive file for reading. Throws Failure: ARC_ERROR_CANNOT_READ when it cannot be
// opened, ARC_ERROR_NOT_REGULAR when it is no regular file.
std::unique_ptr<lha::FileInput> OpenArchiveFile(const std::string& path);

// Result code for an error of the LHA layer.
int ResultFor(const lha::Error& error);

// Errors of a member's data end that member only: its end, and so the next header, is known
// from its header. Broken headers end the archive.
bool EndsOnlyTheMember(const lha::Error& error);

// What ends a whole command: the archive is damaged where reading must stop, or the owner
// window asked to stop.
common::Failure DamagedArchive(const lha::Error& error);
common::Failure StoppedByOwner();

// True when the member's name matches one of the masks (or there are none): a mask is
// compared with the whole name and with its file-name part.
bool MatchesAny(const std::string& name, const std::vector<std::string>& masks);

// True when an exclude mask matches the name (none when there are no excludes).
bool Excluded(const std::string& name, const std::vector<std::string>& excludes);

// True when the name is chosen: it matches one of the names (or there are none) and no
// exclude mask.
bool Chosen(const std::string& name, const std::vector<std::string>& names,
            const std::vector<std::string>& excludes);

}  // namespace zembrat::unlha32
