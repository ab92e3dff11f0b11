// OpenArchive's listing, -l and CheckArchive. The listing reads the central directory with
// the engine's own bounded parser (no helper process, no decompression); an archive whose
// directory is damaged but which starts with a local header is listed from its local headers
// through the helper instead.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <optional>
#include <vector>

#include "archiver_api.h"
#include "carried/carried_archive.h"
#include "common/member_progress.h"
#include "common/output_text.h"
#include "common/record_fields.h"
#include "common/safe_path.h"
#include "platform/file_time.h"
#include "platform/system_folders.h"
#include "zip32/operations.h"

namespace zembrat::zip32 {

namespace {

// What one member shows in a listing, from either reading path.
struct Entry {
    std::string name;
    bool isDirectory = false;
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
    std::uint32_t crc = 0;
    std::int64_t mtime = 0;
    std::string method;
};

exports::ListedMember ToListed(const Entry& entry) {
    exports::ListedMember listed;
    ARCHIVE_ENTRY_RECORD& record = listed.record;
    record.original_size = common::Clamp32(entry.size);
    record.compressed_size = common::Clamp32(entry.compressedSize);
    record.crc = entry.crc;
    record.os_type = 0;
    record.ratio = common::CompressionRatio(entry.compressedSize, entry.size);
    common::LocalDosTime(entry.mtime, record.dos_date, record.dos_time);
    common::CopyToField(record.file_name, sizeof record.file_name,
                        entry.isDirectory ? entry.name + "/" : entry.name);
    common::CopyToField(record.attribute, sizeof record.attribute, entry.isDirectory ? "d" : "-");
    common::CopyToField(record.method, sizeof record.method, entry.method);
    listed.originalSize = entry.size;
    listed.compressedSize = entry.compressedSize;
    listed.writeTime = platform::FileTimeFromUnix(entry.mtime);
    return listed;
}

bool StartsWithLocalHeader(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    unsigned char magic[4] = {};
    const bool local = ::read(fd, magic, 4) == 4 && magic[0] == 'P' && magic[1] == 'K' &&
                       magic[2] == 3 && magic[3] == 4;
    ::close(fd);
    return local;
}

std::string Escaped(std::string_view name) {
    return common::EscapeControlCharacters(name);
}

// A plausible local header at `at`: its signature, a known version and a name of sane length.
bool LocalHeaderAt(std::string_view bytes, std::size_t at) {
    if (at + 30 > bytes.size() || bytes.substr(at, 4) != std::string_view("PK\3\4", 4)) {
        return false;
    }
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
    const unsigned nameSize = byte(26) | (byte(27) << 8);
    return byte(4) <= 63 && nameSize > 0 && nameSize <= 4096;
}

// A self-extracting program whose own archive is of another kind: an end record found in it
// closes some member (a .zip stored in a tar or LHA self-extractor), not the program.
bool CarriesAnotherKind(const std::string& path) {
    return carried::CarriesAnotherKind(carried::FindCarriedArchive(path),
                                       carried::ArchiveKind::kZip);
}

}  // namespace

std::unique_ptr<common::TemporaryFile> LocalHeadersOnly(const std::string& archive) {
    const int in = open(archive.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (in < 0 || fstat(in, &info) != 0) {
        throw Failure(ARC_ERROR_CANNOT_READ, "cannot open " + Escaped(archive));
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    std::string chunk(1 << 20, '\0');
    auto readAt = [&](std::uint64_t offset, std::size_t length) {
        const ssize_t got =
            pread(in, chunk.data(), std::min(length, chunk.size()), static_cast<off_t>(offset));
        return std::string_view(chunk.data(), got > 0 ? static_cast<std::size_t>(got) : 0);
    };
    // The end record: the last one within the comment's reach of the end.
    std::uint64_t end = size;
    const std::uint64_t tailStart = size - std::min<std::uint64_t>(size, 0xFFFF + 22);
    const std::string_view tail = readAt(tailStart, static_cast<std::size_t>(size - tailStart));
    if (const auto found = tail.rfind(std::string_view("PK\5\6", 4));
        found != std::string_view::npos) {
        end = tailStart + found;
    }
    std::optional<std::uint64_t> start;
    for (std::uint64_t offset = 0; !start && offset < end; offset += chunk.size() - 30) {
        const std::string_view piece = readAt(offset, chunk.size());
        for (std::size_t at = piece.find("PK"); at != std::string_view::npos && !start;
             at = piece.find("PK", at + 1)) {
            if (LocalHeaderAt(piece, at)) {
                start = offset + at;
            }
        }
        if (piece.size() < chunk.size()) {
            break;
        }
    }
    auto copy = std::make_unique<common::TemporaryFile>(platform::GetTempPath());
    if (!start || !copy->Valid()) {
        close(in);
        throw Failure(
            start ? ARC_ERROR_CANNOT_WRITE : ARC_ERROR_BROKEN_ARCHIVE,
            start ? "cannot create a temporary file" : "damaged archive: no local header found");
    }
    for (std::uint64_t offset = *start; offset < end;) {
        const std::string_view piece = readAt(
            offset, static_cast<std::size_t>(std::min<std::uint64_t>(end - offset, chunk.size())));
        if (piece.empty() ||
            write(copy->Fd(), piece.data(), piece.size()) != static_cast<ssize_t>(piece.size())) {
            close(in);
            throw Failure(ARC_ERROR_CANNOT_WRITE, "cannot copy the archive's members");
        }
        offset += piece.size();
    }
    close(in);
    return copy;
}

namespace {

// Every member, from the directory or (damaged directory) from the local headers.
std::vector<Entry> ReadEntries(const std::string& path) {
    std::vector<Entry> entries;
    try {
        const zip::ExistingArchive archive(path);
        for (const zip::ExistingMember& member : archive.Members()) {
            entries.push_back({member.name, member.isDirectory, member.size, member.compressedSize,
                               member.crc, member.mtime, zip::NamesOfMethod(member.method).label});
        }
        return entries;
    } catch (const zip::Error&) {
        if (!StartsWithLocalHeader(path)) {
            throw;
        }
    }
    const auto members = LocalHeadersOnly(path);
    zip::Reader reader(ProcPath(members->Fd()));
    for (;;) {
        std::optional<zip::Member> member;
        try {
            member = reader.Next();
        } catch (const zip::Error&) {
            if (entries.empty()) {
                throw;
            }
            break;  // the damaged directory after the last member
        }
        if (!member) {
            break;
        }
        entries.push_back({member->name, member->kind == zip::MemberKind::kDirectory,
                           member->size.value_or(0), 0, 0, member->mtime.value_or(0),
                           member->method.substr(0, 7)});
    }
    return entries;
}

class ZipCursor final : public exports::ArchiveCursor {
  public:
    explicit ZipCursor(std::vector<Entry> entries) : entries_(std::move(entries)) {}

    void Restart() override { next_ = 0; }

    int Next(std::string_view mask, exports::ListedMember& listed) override {
        const std::vector<std::string> patterns = mask.empty() || mask == "*" || mask == "*.*"
                                                      ? std::vector<std::string>()
                                                      : std::vector<std::string>{std::string(mask)};
        while (next_ < entries_.size()) {
            const Entry& entry = entries_[next_++];
            if (Selected(entry.name, patterns)) {
                listed = ToListed(entry);
                return 0;
            }
        }
        return exports::kNoMoreMembers;
    }

  private:
    std::vector<Entry> entries_;
    std::size_t next_ = 0;
};

}  // namespace

std::unique_ptr<exports::ArchiveCursor> OpenListing(const std::string& path) {
    if (CarriesAnotherKind(path)) {
        return nullptr;
    }
    try {
        return std::make_unique<ZipCursor>(ReadEntries(path));
    } catch (const zip::Error&) {
        return nullptr;
    } catch (const Failure&) {
        return nullptr;
    }
}

bool CheckArchive(const std::string& path, int mode) {
    if (CarriesAnotherKind(path)) {
        return false;
    }
    try {
        const zip::ExistingArchive archive(path);
        if ((mode & ARC_CHECK_DEPTH_MASK) < ARC_CHECK_FULL) {
            return true;
        }
        Request request;
        request.command = Command::kTest;
        request.archive = path;
        request.options.quiet = true;
        Context context;
        return Extract(request, context) == ARC_OK;
    } catch (const zip::RefusedArchive&) {
        // A ZIP archive by its structure, that reading refuses with its reason (a missing
        // part, a bomb): never a sound one for a full check.
        return (mode & ARC_CHECK_DEPTH_MASK) < ARC_CHECK_FULL;
    } catch (const std::exception&) {
        return false;
    }
}

int List(const Request& request, Context& context) {
    std::vector<Entry> entries;
    try {
        entries = ReadEntries(request.archive);
    } catch (const zip::Error& error) {
        throw Failure(
            error.Kind() == zip::ErrorKind::kIo ? ARC_ERROR_CANNOT_READ : ARC_ERROR_NOT_ARCHIVE,
            error.what());
    }
    context.output.Line("    Original       Packed  Ratio Method  Date       Time     Name");
    context.output.Line("------------ ------------ ------ ------- ---------- -------- ----");
    std::uint64_t totalSize = 0, totalPacked = 0, count = 0;
    for (const Entry& entry : entries) {
        if (!Selected(entry.name, request.names)) {
            continue;
        }
        const auto time = platform::FileTimeToSystemTime(
            platform::FileTimeToLocalFileTime(platform::FileTimeFromUnix(entry.mtime)));
        char line[160];
        std::snprintf(line, sizeof line,
                      "%12" PRIu64 " %12" PRIu64 " %5.1f%% %-7s %04d-%02d-%02d %02d:%02d:%02d ",
                      entry.size, entry.compressedSize,
                      entry.size == 0 ? 0.0
                                      : static_cast<double>(entry.compressedSize) * 100.0 /
                                            static_cast<double>(entry.size),
                      entry.method.c_str(), time.year, time.month, time.day, time.hour, time.minute,
                      time.second);
        context.output.Line(line + common::EscapeControlCharacters(entry.name) +
                            (entry.isDirectory ? "/" : ""));
        totalSize += entry.size;
        totalPacked += entry.compressedSize;
        ++count;
    }
    context.output.Line(std::to_string(count) + " members, " + std::to_string(totalSize) +
                        " bytes (" + std::to_string(totalPacked) + " packed)");
    return ARC_OK;
}

}  // namespace zembrat::zip32
