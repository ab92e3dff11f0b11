#include "container.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>

#include "common/name_encoding.h"
#include "platform/file_time.h"

namespace zembrat::zip {

namespace {

using namespace format;

constexpr std::uint32_t kDataDescriptor = 0x08074b50;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kZip64EndRecordSize = 56;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::uint16_t kFlagDataDescriptor = 1u << 3;
constexpr std::uint16_t kExtraOldUnix = 0x5855;
// More parts than any writer makes: a larger count is a damaged end record.
constexpr std::uint32_t kMostParts = 10000;

[[noreturn]] void Damaged(const std::string& why) {
    throw Error(ErrorKind::kArchive, "damaged archive: " + why);
}

std::uint64_t Get(std::string_view data, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(data[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

// The fields of one extra block, walked within its bounds.
template <typename Visit>
void ForEachExtra(std::string_view extras, Visit visit) {
    std::size_t at = 0;
    while (at + 4 <= extras.size()) {
        const auto id = static_cast<std::uint16_t>(Get(extras, at, 2));
        const auto size = static_cast<std::size_t>(Get(extras, at + 2, 2));
        if (at + 4 + size > extras.size()) {
            return;  // a torn last field (it claims more than the block holds): ignored
        }
        visit(id, extras.substr(at + 4, size), extras.substr(at, 4 + size));
        at += 4 + size;
    }
}

// "name.zip" part 1 -> "name.z01"; "name.zipx" -> "name.zx01"; the extension's case is kept.
std::string PartName(const std::string& last, std::uint32_t number) {
    const auto dot = last.rfind('.');
    const std::string stem = dot == std::string::npos ? last : last.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : last.substr(dot + 1);
    const bool upper = !extension.empty() && std::isupper(static_cast<unsigned char>(extension[0]));
    std::string lower = extension;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    char digits[16];
    std::snprintf(digits, sizeof digits, "%02u", number);
    std::string prefix = lower == "zipx" ? "zx" : "z";
    if (upper) {
        std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    }
    return stem + "." + prefix + digits;
}

int OpenPart(const std::string& path, std::uint64_t& size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 && ::fstat(fd, &info) != 0) {
        ::close(fd);
        return -1;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return fd;
}

struct Directory {
    std::uint64_t count = 0;
    std::uint64_t start = 0;  // where the directory really is
    std::uint64_t size = 0;
    std::uint64_t shift = 0;  // added to the recorded offsets (a self-extracting prefix)
    bool split = false;       // offsets count from the start of each member's part
};

// The ZIP64 end record for a locator whose own position is locatorAt: right before the
// locator (the common case), else where the locator says.
std::optional<std::uint64_t> FindZip64Record(const ArchiveBytes& bytes, std::uint64_t locatorAt,
                                             std::string_view locator, bool split) {
    auto isRecord = [&](std::uint64_t at) {
        return at + kZip64EndRecordSize <= locatorAt &&
               Get(bytes.Read(at, 4), 0, 4) == kZip64EndRecord;
    };
    if (locatorAt >= kZip64EndRecordSize && isRecord(locatorAt - kZip64EndRecordSize)) {
        return locatorAt - kZip64EndRecordSize;
    }
    const std::uint64_t disk = Get(locator, 4, 4);
    const std::uint64_t offset = Get(locator, 8, 8);
    const std::uint64_t base = split ? bytes.PartStart(disk) : 0;
    if (offset <= bytes.Size() - base && isRecord(base + offset)) {
        return base + offset;
    }
    return std::nullopt;
}

Directory FindDirectory(ArchiveBytes& bytes) {
    if (bytes.Size() < kEndRecordSize) {
        Damaged("no end of central directory record");
    }
    const std::uint64_t tailSize =
        std::min<std::uint64_t>(bytes.Size(), kEndRecordSize + 0xFFFF + kZip64LocatorSize);
    std::uint64_t tailStart = bytes.Size() - tailSize;
    const std::string tail = bytes.Read(tailStart, tailSize);
    std::optional<std::size_t> end;
    for (std::size_t at = tail.size() - kEndRecordSize + 1; at-- > 0;) {
        if (Get(tail, at, 4) == kEndRecord &&
            at + kEndRecordSize + Get(tail, at + 20, 2) <= tail.size()) {
            end = at;
            break;
        }
    }
    if (!end) {
        Damaged("no end of central directory record");
    }
    Directory directory;
    directory.count = Get(tail, *end + 10, 2);
    directory.size = Get(tail, *end + 12, 4);
    std::uint64_t recorded = Get(tail, *end + 16, 4);
    std::uint64_t lastDisk = Get(tail, *end + 4, 2);
    std::uint64_t directoryDisk = Get(tail, *end + 6, 2);
    const bool hasLocator =
        *end >= kZip64LocatorSize && Get(tail, *end - kZip64LocatorSize, 4) == kZip64EndLocator;
    const std::string locator =
        hasLocator ? tail.substr(*end - kZip64LocatorSize, kZip64LocatorSize) : std::string();
    std::uint64_t parts = hasLocator ? std::max<std::uint64_t>(Get(locator, 16, 4), 1) : 0;
    if (!hasLocator || (lastDisk != kOverflow16 && lastDisk + 1 != parts)) {
        parts = lastDisk == kOverflow16 ? 1 : lastDisk + 1;
    }
    if (parts > kMostParts) {
        Damaged("the end record names too many parts");
    }
    if (parts > 1) {
        bytes.AddEarlierParts(static_cast<std::uint32_t>(parts));
        tailStart += bytes.PartStart(parts - 1);
        directory.split = true;
    }
    std::uint64_t directoryEnd = tailStart + *end;
    if (hasLocator) {
        const auto at =
            FindZip64Record(bytes, directoryEnd - kZip64LocatorSize, locator, directory.split);
        if (!at) {
            Damaged("ZIP64 end record missing");
        }
        const std::string record = bytes.Read(*at, kZip64EndRecordSize);
        directory.count = Get(record, 32, 8);
        directory.size = Get(record, 40, 8);
        recorded = Get(record, 48, 8);
        directoryDisk = Get(record, 20, 4);
        directoryEnd = *at;
    }
    if (directory.split) {
        directory.start = bytes.PartStart(directoryDisk) + recorded;
        if (directory.start > directoryEnd || directory.size > directoryEnd - directory.start) {
            Damaged("the central directory lies outside the set");
        }
    } else {
        if (directory.size > directoryEnd || recorded > directoryEnd - directory.size) {
            Damaged("the central directory lies outside the file");
        }
        directory.start = directoryEnd - directory.size;
        directory.shift = directory.start - recorded;
    }
    if (directory.count > directory.size / kCentralHeaderSize) {
        Damaged("more members than the central directory holds");
    }
    return directory;
}

std::int64_t DosToUnix(std::uint16_t date, std::uint16_t time) {
    const platform::FileTime exact = platform::DosDateTimeToFileTime(date, time);
    if (exact != 0) {
        return platform::UnixSecondsFromFileTime(platform::LocalFileTimeToFileTime(exact));
    }
    // A date no calendar has (month or day 0, as some writers leave it): its fields carried
    // over as mktime does, which is what other readers show, instead of the year 1601.
    std::tm parts{};
    parts.tm_year = 80 + (date >> 9);
    parts.tm_mon = ((date >> 5) & 0x0F) - 1;
    parts.tm_mday = date & 0x1F;
    parts.tm_hour = time >> 11;
    parts.tm_min = (time >> 5) & 0x3F;
    parts.tm_sec = (time & 0x1F) * 2;
    parts.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&parts));
}

// One central header at `at`; returns the offset after it. diskStart: the part that holds
// the member's local header.
std::size_t ParseCentral(std::string_view records, std::size_t at, ParsedMember& member,
                         std::uint64_t& diskStart) {
    if (at + kCentralHeaderSize > records.size() || Get(records, at, 4) != kCentralHeader) {
        Damaged("a central directory header is malformed");
    }
    CentralEntry& c = member.central;
    c.versionMadeBy = static_cast<std::uint16_t>(Get(records, at + 4, 2));
    c.versionNeeded = static_cast<std::uint16_t>(Get(records, at + 6, 2));
    c.flags = static_cast<std::uint16_t>(Get(records, at + 8, 2));
    c.method = static_cast<std::uint16_t>(Get(records, at + 10, 2));
    c.dosTime = static_cast<std::uint16_t>(Get(records, at + 12, 2));
    c.dosDate = static_cast<std::uint16_t>(Get(records, at + 14, 2));
    c.crc = static_cast<std::uint32_t>(Get(records, at + 16, 4));
    c.compressedSize = Get(records, at + 20, 4);
    c.size = Get(records, at + 24, 4);
    const auto nameSize = static_cast<std::size_t>(Get(records, at + 28, 2));
    const auto extraSize = static_cast<std::size_t>(Get(records, at + 30, 2));
    const auto commentSize = static_cast<std::size_t>(Get(records, at + 32, 2));
    diskStart = Get(records, at + 34, 2);
    c.internalAttributes = static_cast<std::uint16_t>(Get(records, at + 36, 2));
    c.externalAttributes = static_cast<std::uint32_t>(Get(records, at + 38, 4));
    c.localOffset = Get(records, at + 42, 4);
    const std::size_t next = at + kCentralHeaderSize + nameSize + extraSize + commentSize;
    if (next > records.size()) {
        Damaged("a central directory header runs past the directory");
    }
    c.storedName = std::string(records.substr(at + kCentralHeaderSize, nameSize));
    c.comment = std::string(records.substr(next - commentSize, commentSize));
    std::optional<std::int64_t> unixTime;
    std::optional<std::int64_t> oldUnixTime;
    std::string unicodeName;
    ForEachExtra(records.substr(at + kCentralHeaderSize + nameSize, extraSize),
                 [&](std::uint16_t id, std::string_view data, std::string_view whole) {
                     if (id == kExtraZip64) {
                         // Only the fields whose 32-bit value overflowed, in this order.
                         std::size_t field = 0;
                         for (std::uint64_t* value : {&c.size, &c.compressedSize, &c.localOffset}) {
                             if (*value == kOverflow32 && field + 8 <= data.size()) {
                                 *value = Get(data, field, 8);
                                 field += 8;
                             }
                         }
                         if (diskStart == kOverflow16 && field + 4 <= data.size()) {
                             diskStart = Get(data, field, 4);
                         }
                         return;  // made anew when the member is written
                     }
                     if (id == kExtraTimestamp && data.size() >= 5 && (data[0] & 1) != 0) {
                         unixTime = static_cast<std::int32_t>(Get(data, 1, 4));
                     } else if (id == kExtraOldUnix && data.size() >= 8) {
                         // Info-ZIP's older Unix field: access time, then modification time.
                         oldUnixTime = static_cast<std::int32_t>(Get(data, 4, 4));
                     } else if (id == kExtraUnicodePath && data.size() >= 5 && data[0] == 1) {
                         // Taken even when its CRC is not that of the stored name: writers
                         // differ in what they sum (some the name before conversion), and the
                         // field is the name the writer meant.
                         unicodeName = std::string(data.substr(5));
                     }
                     c.extras += whole;
                 });
    // A writer that wraps at 4 GiB gives stored data a size some multiple of 4 GiB off its
    // compressed size, which is the data's; any other difference is damage, found on reading.
    if (c.method == kMethodStored && (c.flags & 1u) == 0 && c.size != c.compressedSize &&
        (c.size & kOverflow32) == (c.compressedSize & kOverflow32)) {
        c.size = c.compressedSize;
    }
    ExistingMember& info = member.info;
    if ((c.flags & kFlagUtf8Name) != 0) {
        info.name = common::DecodeStoredName(c.storedName, true, 'U');
    } else if (!unicodeName.empty()) {
        info.name = common::DecodeStoredName(unicodeName, true, 'U');
    } else {
        info.name = common::DecodeStoredName(c.storedName, false, 'U');
    }
    const bool unixHost = (c.versionMadeBy >> 8) == (kMadeByUnix >> 8);
    const std::uint32_t unixType = unixHost ? (c.externalAttributes >> 16) & S_IFMT : 0;
    info.isDirectory = (!info.name.empty() && info.name.back() == '/') ||
                       (c.externalAttributes & kDosDirectory) != 0 || unixType == S_IFDIR;
    while (info.name.size() > 1 && info.name.back() == '/') {
        info.name.pop_back();
    }
    info.method = c.method;
    info.mode = unixHost ? c.externalAttributes >> 16 : 0;
    info.encrypted = (c.flags & 1u) != 0;
    info.size = c.size;
    info.compressedSize = c.compressedSize;
    info.crc = c.crc;
    info.mtime = unixTime ? *unixTime : oldUnixTime.value_or(DosToUnix(c.dosDate, c.dosTime));
    member.madeOnUnix = info.mode != 0;
    member.symlink = !info.isDirectory && unixType == S_IFLNK;
    member.special =
        !info.isDirectory && unixType != 0 && unixType != S_IFREG && unixType != S_IFLNK;
    return next;
}

// Where the member's bytes lie: its local header, data and data descriptor. The central
// header is the truth for sizes and method; the local one gives only where the data starts.
void Locate(const ArchiveBytes& bytes, const Directory& directory, std::uint64_t diskStart,
            ParsedMember& member) {
    const CentralEntry& c = member.central;
    if (directory.split) {
        if (diskStart >= bytes.Parts()) {
            Damaged("a member lies in a part the set does not have");
        }
        member.start = bytes.PartStart(diskStart) + c.localOffset;
        if (member.start >= directory.start) {
            Damaged("a member lies outside the archive");
        }
    } else {
        if (c.localOffset > directory.start - std::min(directory.start, directory.shift)) {
            Damaged("a member lies outside the archive");
        }
        member.start = c.localOffset + directory.shift;
    }
    const std::string header = bytes.Read(member.start, kLocalHeaderSize);
    if (Get(header, 0, 4) != kLocalHeader) {
        Damaged("a local header is missing");
    }
    const std::uint64_t nameSize = Get(header, 26, 2);
    const std::uint64_t extraSize = Get(header, 28, 2);
    bool zip64 = c.size >= kOverflow32 || c.compressedSize >= kOverflow32;
    if (member.start + kLocalHeaderSize + nameSize + extraSize > directory.start) {
        Damaged("a local header runs into the central directory");
    }
    ForEachExtra(bytes.Read(member.start + kLocalHeaderSize + nameSize, extraSize),
                 [&](std::uint16_t id, std::string_view, std::string_view) {
                     zip64 = zip64 || id == kExtraZip64;
                 });
    std::uint64_t length = kLocalHeaderSize + nameSize + extraSize;
    member.dataStart = member.start + length;
    if (c.compressedSize > directory.start - member.dataStart) {
        Damaged("a member's data runs into the central directory");
    }
    length += c.compressedSize;
    if ((c.flags & kFlagDataDescriptor) != 0) {
        const std::uint64_t sizes = zip64 ? 16 : 8;
        const bool signature = member.start + length + 4 <= directory.start &&
                               Get(bytes.Read(member.start + length, 4), 0, 4) == kDataDescriptor;
        // A descriptor cut short by the directory is not counted whole: its bytes are not
        // needed to read the member.
        length = std::min(length + (signature ? 4 : 0) + 4 + sizes, directory.start - member.start);
    }
    member.length = length;
}

}  // namespace

ArchiveBytes::ArchiveBytes(const std::string& path) : path_(path) {
    Part part;
    part.fd = OpenPart(path, part.size);
    if (part.fd < 0) {
        throw Error(ErrorKind::kIo, "cannot open " + path + ": " + std::strerror(errno));
    }
    parts_.push_back(part);
    size_ = part.size;
}

ArchiveBytes::~ArchiveBytes() {
    for (const Part& part : parts_) {
        ::close(part.fd);
    }
}

void ArchiveBytes::AddEarlierParts(std::uint32_t parts) {
    std::vector<Part> earlier;
    auto closeAll = [&] {
        for (const Part& part : earlier) {
            ::close(part.fd);
        }
    };
    for (std::uint32_t number = 1; number < parts; ++number) {
        const std::string name = PartName(path_, number);
        Part part;
        part.fd = OpenPart(name, part.size);
        if (part.fd < 0) {
            closeAll();
            throw RefusedArchive("part " + std::to_string(number) +
                                 " of the split set is missing: " + name);
        }
        earlier.push_back(part);
    }
    earlier.push_back(parts_.back());
    std::uint64_t start = 0;
    for (Part& part : earlier) {
        part.start = start;
        start += part.size;
    }
    parts_ = std::move(earlier);
    size_ = start;
}

std::uint64_t ArchiveBytes::PartStart(std::uint64_t disk) const {
    if (disk >= parts_.size()) {
        Damaged("a record names a part the set does not have");
    }
    return parts_[static_cast<std::size_t>(disk)].start;
}

std::string ArchiveBytes::Read(std::uint64_t offset, std::uint64_t size) const {
    if (offset > size_ || size > size_ - offset) {
        Damaged("a record lies past the end of the file");
    }
    std::string data(static_cast<std::size_t>(size), '\0');
    ReadInto(offset, std::as_writable_bytes(std::span(data.data(), data.size())));
    return data;
}

void ArchiveBytes::ReadInto(std::uint64_t offset, std::span<std::byte> buffer) const {
    auto part = std::upper_bound(parts_.begin(), parts_.end(), offset,
                                 [](std::uint64_t at, const Part& p) { return at < p.start; });
    if (part != parts_.begin()) {
        --part;
    }
    while (!buffer.empty()) {
        if (part == parts_.end() || offset >= part->start + part->size) {
            if (part == parts_.end() || ++part == parts_.end()) {
                throw Error(ErrorKind::kIo, "cannot read the archive: it ends early");
            }
            continue;
        }
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(buffer.size(), part->start + part->size - offset));
        const ssize_t got =
            ::pread(part->fd, buffer.data(), want, static_cast<off_t>(offset - part->start));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            throw Error(ErrorKind::kIo, "cannot read the archive");
        }
        buffer = buffer.subspan(static_cast<std::size_t>(got));
        offset += static_cast<std::uint64_t>(got);
    }
}

ParsedArchive ParseArchive(const std::string& path) {
    ParsedArchive archive;
    archive.bytes = std::make_unique<ArchiveBytes>(path);
    const Directory directory = FindDirectory(*archive.bytes);
    const std::string records = archive.bytes->Read(directory.start, directory.size);
    std::size_t at = 0;
    archive.members.reserve(static_cast<std::size_t>(directory.count));
    for (std::uint64_t i = 0; i < directory.count; ++i) {
        ParsedMember member;
        std::uint64_t diskStart = 0;
        at = ParseCentral(records, at, member, diskStart);
        Locate(*archive.bytes, directory, diskStart, member);
        archive.members.push_back(std::move(member));
    }
    // Members whose headers and data share bytes (the overlapping-member bomb) are never
    // read. A data descriptor does not count: its length is a guess (ZIP64 sizes or not), cut
    // back to where the next member starts.
    std::vector<std::pair<std::uint64_t, std::size_t>> starts;
    starts.reserve(archive.members.size());
    for (std::size_t i = 0; i < archive.members.size(); ++i) {
        starts.emplace_back(archive.members[i].start, i);
    }
    std::sort(starts.begin(), starts.end());
    for (std::size_t i = 0; i < starts.size(); ++i) {
        ParsedMember& member = archive.members[starts[i].second];
        const std::uint64_t next = i + 1 < starts.size() ? starts[i + 1].first : directory.start;
        if (member.dataStart + member.central.compressedSize > next) {
            throw RefusedArchive("damaged archive: two members share the same bytes");
        }
        member.length = std::min(member.length, next - member.start);
    }
    archive.archiveStart = starts.empty() ? directory.start : starts.front().first;
    return archive;
}

}  // namespace zembrat::zip
