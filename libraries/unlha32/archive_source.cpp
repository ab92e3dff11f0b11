#include "unlha32/archive_source.h"

#include <sys/stat.h>
#include <algorithm>
#include <cstring>

#include "carried/carried_archive.h"
#include "common/name_encoding.h"
#include "common/output_text.h"
#include "common/record_fields.h"
#include "common/sfx_trailer.h"
#include "platform/file_system.h"
#include "unlha32/request.h"

namespace zembrat::unlha32 {

SubrangeInput::SubrangeInput(lha::SeekableInput& base, std::uint64_t start, std::uint64_t end)
    : base_(base), start_(start), end_(end) {
    base_.Seek(start_);
}

std::size_t SubrangeInput::Read(std::span<std::byte> buffer) {
    const std::uint64_t left = end_ - start_ - std::min(position_, end_ - start_);
    if (left == 0 || buffer.empty()) {
        return 0;
    }
    if (buffer.size() > left) {
        buffer = buffer.first(static_cast<std::size_t>(left));
    }
    base_.Seek(start_ + position_);
    const std::size_t got = base_.Read(buffer);
    position_ += got;
    return got;
}

void SubrangeInput::Seek(std::uint64_t offset) {
    position_ = offset;
}

std::unique_ptr<lha::FileInput> OpenArchiveFile(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        throw Failure(ARC_ERROR_CANNOT_READ,
                      "cannot open archive " + path + ": " + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        throw Failure(ARC_ERROR_NOT_REGULAR, "the archive is not a regular file: " + path);
    }
    try {
        return std::make_unique<lha::FileInput>(path);
    } catch (const lha::Error& error) {
        throw Failure(ARC_ERROR_CANNOT_READ, "cannot open archive " + path + ": " + error.what());
    }
}

ArchiveSource::ArchiveSource(const std::string& path, bool allowEmbedded) {
    file_ = OpenArchiveFile(path);
    end_ = file_->Size();
    if (allowEmbedded) {
        // The program's own archive first: when it is of another kind, an LHA archive can only
        // be in front of it (inside the program), never among that archive's members.
        const auto carried = carried::FindCarriedArchive(path);
        if (const auto embedded = common::FindSfxArchive(path)) {
            range_ = std::make_unique<SubrangeInput>(*file_, embedded->offset, embedded->end);
            start_ = embedded->offset;
            end_ = embedded->end;
        } else if (carried && carried->kind == carried::ArchiveKind::kLha) {
            range_ = std::make_unique<SubrangeInput>(*file_, carried->offset, carried->end);
            start_ = carried->offset;
            end_ = carried->end;
        } else if (carried::CarriesAnotherKind(carried, carried::ArchiveKind::kLha)) {
            range_ = std::make_unique<SubrangeInput>(*file_, 0, carried->offset);
            end_ = carried->offset;
            scan_ = true;
        } else {
            scan_ = true;
        }
    }
    Restart();
}

ArchiveSource::~ArchiveSource() = default;

void ArchiveSource::Restart() {
    reader_.reset();
    Input().Seek(0);
    try {
        reader_ = std::make_unique<lha::Reader>(Input(), lha::ReaderOptions{scan_});
    } catch (const lha::Error& error) {
        throw Failure(ARC_ERROR_NOT_ARCHIVE, std::string("not an LHA archive: ") + error.what());
    }
    if (scan_) {
        start_ = reader_->ArchiveStart();
    }
}

std::string HostName(const lha::Member& member) {
    std::string name = common::DecodeStoredName(
        member.path, member.encoding == lha::NameEncoding::kUtf8, member.osId);
    // MS-DOS and the systems that shared its file names (OS/2, Atari TOS, and the 'T' tools)
    // knew only upper-case names; like the Unix LHA tools, such a name is given in lower case.
    // A name with any lower-case letter was written by a tool that kept case.
    const bool fromDos =
        std::string_view("M2aT").find(static_cast<char>(member.osId)) != std::string_view::npos &&
        member.osId != 0 && member.encoding == lha::NameEncoding::kLegacy;
    if (fromDos &&
        std::none_of(name.begin(), name.end(), [](char c) { return c >= 'a' && c <= 'z'; })) {
        for (char& c : name) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
    }
    return name;
}

std::int64_t WriteTimeNanoseconds(const lha::Member& member) {
    if (member.windowsWriteTime) {
        // 100 ns units since 1601 -> ns since 1970.
        constexpr std::int64_t kEpochDifference = 116444736000000000LL;
        return (static_cast<std::int64_t>(*member.windowsWriteTime) - kEpochDifference) * 100;
    }
    return member.unixTime * 1000000000LL;
}

platform::FileTime WriteTime(const lha::Member& member) {
    if (member.windowsWriteTime) {
        return *member.windowsWriteTime;
    }
    return platform::FileTimeFromUnix(member.unixTime);
}

unsigned PermissionBits(const lha::Member& member) {
    if (member.unixMode) {
        return *member.unixMode & 0777u;  // never set-id or sticky bits from an archive
    }
    const bool readOnly = (member.msdosAttributes & 0x01) != 0;
    if (member.method == "-lhd-") {
        return 0777;
    }
    return readOnly ? 0444 : 0666;
}

namespace {

std::string AttributeText(const lha::Member& member) {
    // The MS-DOS attribute letters: read-only, hidden, system, folder, archive.
    std::string text = "-----";
    const std::uint8_t bits = member.msdosAttributes;
    if (bits & 0x01)
        text[0] = 'R';
    if (bits & 0x02)
        text[1] = 'H';
    if (bits & 0x04)
        text[2] = 'S';
    if ((bits & 0x10) || member.method == "-lhd-")
        text[3] = 'D';
    if (bits & 0x20)
        text[4] = 'A';
    return text;
}

void LocalDosTime(const lha::Member& member, std::uint16_t& date, std::uint16_t& time) {
    platform::FileTimeToDosDateTime(platform::FileTimeToLocalFileTime(WriteTime(member)), date,
                                    time);
}

}  // namespace

void FillEntryRecord(const lha::Member& member, ARCHIVE_ENTRY_RECORD& record) {
    record = ARCHIVE_ENTRY_RECORD{};
    record.original_size = common::Clamp32(member.originalSize);
    record.compressed_size = common::Clamp32(member.compressedSize);
    record.crc = member.crc;
    record.flag = 0;
    record.os_type = member.osId;
    record.ratio = common::CompressionRatio(member.compressedSize, member.originalSize);
    LocalDosTime(member, record.dos_date, record.dos_time);
    common::CopyToField(record.file_name, sizeof record.file_name, HostName(member));
    common::CopyToField(record.attribute, sizeof record.attribute, AttributeText(member));
    common::CopyToField(record.method, sizeof record.method, member.method);
}

void FillProgressRecord(const lha::Member& member, const std::string& source,
                        const std::string& destination, EXTRACTINGINFOEX& record) {
    record = EXTRACTINGINFOEX{};
    record.file_size = common::Clamp32(member.originalSize);
    record.write_size = 0;
    common::CopyToField(record.source_file_name, sizeof record.source_file_name, source);
    common::CopyToField(record.dest_file_name, sizeof record.dest_file_name, destination);
    record.compressed_size = common::Clamp32(member.compressedSize);
    record.crc = member.crc;
    record.os_type = member.osId;
    record.ratio = common::CompressionRatio(member.compressedSize, member.originalSize);
    LocalDosTime(member, record.dos_date, record.dos_time);
    common::CopyToField(record.attribute, sizeof record.attribute, AttributeText(member));
    common::CopyToField(record.method, sizeof record.method, member.method);
}

bool EndsOnlyTheMember(const lha::Error& error) {
    return error.Kind() != lha::ErrorKind::kFormat && error.Kind() != lha::ErrorKind::kTruncated;
}

common::Failure DamagedArchive(const lha::Error& error) {
    return common::Failure(ResultFor(error), std::string("damaged archive: ") + error.what());
}

common::Failure StoppedByOwner() {
    return common::Failure(ARC_ERROR_ABORTED, "stopped at the owner window's request");
}

int ResultFor(const lha::Error& error) {
    switch (error.Kind()) {
        case lha::ErrorKind::kFormat:
        case lha::ErrorKind::kTruncated:
        case lha::ErrorKind::kCorruptData:
            return ARC_ERROR_BROKEN_ARCHIVE;
        case lha::ErrorKind::kCrc:
            return ARC_ERROR_CRC;
        case lha::ErrorKind::kUnsupportedMethod:
            return ARC_ERROR_UNKNOWN_METHOD;
        case lha::ErrorKind::kTooLarge:
            return ARC_ERROR_TOO_LARGE;
        case lha::ErrorKind::kIo:
            return ARC_ERROR_CANNOT_READ;
        case lha::ErrorKind::kCannotWrite:
            return ARC_ERROR_CANNOT_WRITE;
    }
    return ARC_ERROR_INTERNAL;
}

bool Excluded(const std::string& name, const std::vector<std::string>& excludes) {
    return !excludes.empty() && MatchesAny(name, excludes);
}

bool Chosen(const std::string& name, const std::vector<std::string>& names,
            const std::vector<std::string>& excludes) {
    return MatchesAny(name, names) && !Excluded(name, excludes);
}

bool MatchesAny(const std::string& name, const std::vector<std::string>& masks) {
    if (masks.empty()) {
        return true;
    }
    const std::size_t slash = name.find_last_of('/');
    const std::string_view fileName = slash == std::string::npos
                                          ? std::string_view(name)
                                          : std::string_view(name).substr(slash + 1);
    return std::any_of(masks.begin(), masks.end(), [&](const std::string& mask) {
        // A folder's name selects everything in it.
        if (!mask.empty() && name.size() > mask.size() && name.starts_with(mask) &&
            (mask.back() == '/' || name[mask.size()] == '/')) {
            return true;
        }
        // Members of archives made on DOS and Windows are matched as those systems do.
        constexpr auto kIgnore = platform::LetterCase::kIgnore;
        const auto codePage = platform::SystemCodePage();
        return platform::MatchesMask(name, mask, codePage, kIgnore) ||
               (mask.find('/') == std::string::npos &&
                platform::MatchesMask(fileName, mask, codePage, kIgnore));
    });
}

}  // namespace zembrat::unlha32
