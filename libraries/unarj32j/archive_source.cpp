#include <sys/stat.h>

#include <algorithm>
#include <array>

#include "carried/carried_archive.h"
#include "common/failure.h"
#include "common/name_encoding.h"
#include "common/output_text.h"
#include "common/record_fields.h"
#include "platform/file_time.h"
#include "unarj32j/arj_library.h"
#include "unlha32/archive_source.h"

namespace zembrat::unarj32j {

using common::Failure;

ArjSource::ArjSource(const std::string& path, bool allowEmbedded) {
    file_ = unlha32::OpenArchiveFile(path);
    std::uint64_t start = 0;
    std::array<std::byte, 2> id{};
    const bool plain = file_->Read(id) == 2 && id[0] == std::byte{0x60} && id[1] == std::byte{0xEA};
    if (!plain && allowEmbedded) {
        // The program's own archive first: an ARJ header among another kind's members is
        // that member's data.
        const auto carried = carried::FindCarriedArchive(path);
        if (carried && carried->kind == carried::ArchiveKind::kArj) {
            start = carried->offset;
        } else if (const auto found = arj::FindEmbeddedArchive(*file_);
                   found &&
                   !carried::InsideAnotherKind(carried, carried::ArchiveKind::kArj, *found)) {
            start = *found;
        }
    }
    // Later volumes are found beside the first under the set's names; a volume that is no
    // regular file is missing.
    arj::VolumeOpener openVolume =
        [path](std::size_t index) -> std::unique_ptr<lha::SeekableInput> {
        const std::string name = arj::VolumeName(path, index);
        struct stat volume {};
        if (stat(name.c_str(), &volume) != 0 || !S_ISREG(volume.st_mode)) {
            return nullptr;
        }
        return std::make_unique<lha::FileInput>(name);
    };
    try {
        reader_ = std::make_unique<arj::Reader>(*file_, start, std::move(openVolume));
    } catch (const lha::Error& error) {
        throw Failure(ARC_ERROR_NOT_ARCHIVE, std::string("not an ARJ archive: ") + error.what());
    }
}

ArjSource::~ArjSource() = default;

std::uint64_t ArjSource::Size() const {
    return file_->Size();
}

std::string HostName(const arj::Member& member) {
    std::string name =
        common::DecodeStoredName(member.name, false, member.HasUnixNames() ? 'U' : 'M');
    if (!member.HasUnixNames()) {
        // Decoded, a '\\' can no longer be the second byte of a CP932 character.
        std::replace(name.begin(), name.end(), '\\', '/');
    }
    return name;
}

std::int64_t WriteTimeNanoseconds(const arj::Member& member) {
    return member.UnixTime() * 1000000000LL;
}

unsigned PermissionBits(const arj::Member& member) {
    if (member.HasUnixNames()) {
        return member.accessMode & 0777u;  // never set-id or sticky bits from an archive
    }
    if (member.IsDirectory()) {
        return 0777;
    }
    return (member.accessMode & 0x01) != 0 ? 0444 : 0666;
}

namespace {

std::string AttributeText(const arj::Member& member) {
    // The MS-DOS attribute letters: read-only, hidden, system, folder, archive.
    std::string text = "-----";
    const unsigned bits = member.HasUnixNames() ? 0u : member.accessMode;
    const char letters[] = "RHS-A";
    for (int bit : {0, 1, 2, 5}) {
        if (bits & (1u << bit)) {
            text[bit == 5 ? 4 : bit] = letters[bit == 5 ? 4 : bit];
        }
    }
    if (member.IsDirectory()) {
        text[3] = 'D';
    }
    return text;
}

}  // namespace

namespace {

// The member fields both records carry under the same names.
template <typename Record>
void FillMemberFields(const arj::Member& member, Record& record) {
    record.compressed_size = common::Clamp32(member.compressedSize);
    record.crc = member.crc;
    record.os_type = member.hostOs;
    record.ratio = common::CompressionRatio(member.compressedSize, member.originalSize);
    platform::FileTimeToDosDateTime(
        platform::FileTimeToLocalFileTime(platform::FileTimeFromUnix(member.UnixTime())),
        record.dos_date, record.dos_time);
    common::CopyToField(record.attribute, sizeof record.attribute, AttributeText(member));
    common::CopyToField(record.method, sizeof record.method, arj::MethodName(member.method));
}

}  // namespace

void FillEntryRecord(const arj::Member& member, ARCHIVE_ENTRY_RECORD& record) {
    record = ARCHIVE_ENTRY_RECORD{};
    record.original_size = common::Clamp32(member.originalSize);
    FillMemberFields(member, record);
    common::CopyToField(record.file_name, sizeof record.file_name, HostName(member));
}

void FillProgressRecord(const arj::Member& member, const std::string& source,
                        const std::string& destination, EXTRACTINGINFOEX& record) {
    record = EXTRACTINGINFOEX{};
    record.file_size = common::Clamp32(member.originalSize);
    common::CopyToField(record.source_file_name, sizeof record.source_file_name, source);
    common::CopyToField(record.dest_file_name, sizeof record.dest_file_name, destination);
    FillMemberFields(member, record);
}

}  // namespace zembrat::unarj32j
