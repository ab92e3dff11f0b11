#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "central_entry.h"
#include "common/name_encoding.h"
#include "platform/file_time.h"
#include "zip/zip.h"

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
            return;  // a torn last field: ignored, as readers do
        }
        visit(id, extras.substr(at + 4, size), extras.substr(at, 4 + size));
        at += 4 + size;
    }
}

class ArchiveFile {
  public:
    explicit ArchiveFile(const std::string& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat info {};
        if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
            throw Error(ErrorKind::kIo, "cannot open " + path + ": " + std::strerror(errno));
        }
        size_ = static_cast<std::uint64_t>(info.st_size);
    }
    ~ArchiveFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    std::uint64_t Size() const { return size_; }

    // Exactly size bytes at offset, or a damaged-archive error when they are not all there.
    std::string Read(std::uint64_t offset, std::uint64_t size) const {
        if (offset > size_ || size > size_ - offset) {
            Damaged("a record lies past the end of the file");
        }
        std::string data(static_cast<std::size_t>(size), '\0');
        ReadInto(offset, std::as_writable_bytes(std::span(data.data(), data.size())));
        return data;
    }

    void ReadInto(std::uint64_t offset, std::span<std::byte> buffer) const {
        while (!buffer.empty()) {
            const ssize_t got =
                ::pread(fd_, buffer.data(), buffer.size(), static_cast<off_t>(offset));
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

  private:
    int fd_;
    std::uint64_t size_ = 0;
};

struct Directory {
    std::uint64_t count = 0;
    std::uint64_t start = 0;  // where the directory really is
    std::uint64_t size = 0;
    std::uint64_t shift = 0;  // added to the recorded offsets (a self-extracting prefix)
};

Directory FindDirectory(const ArchiveFile& file) {
    if (file.Size() < kEndRecordSize) {
        Damaged("no end of central directory record");
    }
    const std::uint64_t tailSize =
        std::min<std::uint64_t>(file.Size(), kEndRecordSize + 0xFFFF + kZip64LocatorSize);
    const std::uint64_t tailStart = file.Size() - tailSize;
    const std::string tail = file.Read(tailStart, tailSize);
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
    std::uint64_t directoryEnd = tailStart + *end;
    if (*end >= kZip64LocatorSize && Get(tail, *end - kZip64LocatorSize, 4) == kZip64EndLocator) {
        // The ZIP64 record sits right before its locator, whatever offset the locator says.
        const std::uint64_t locator = tailStart + *end - kZip64LocatorSize;
        if (locator < kZip64EndRecordSize) {
            Damaged("ZIP64 end record missing");
        }
        const std::uint64_t at = locator - kZip64EndRecordSize;
        const std::string record = file.Read(at, kZip64EndRecordSize);
        if (Get(record, 0, 4) != kZip64EndRecord) {
            Damaged("ZIP64 end record missing");
        }
        directory.count = Get(record, 32, 8);
        directory.size = Get(record, 40, 8);
        recorded = Get(record, 48, 8);
        directoryEnd = at;
    }
    if (directory.size > directoryEnd || recorded > directoryEnd - directory.size) {
        Damaged("the central directory lies outside the file");
    }
    directory.start = directoryEnd - directory.size;
    directory.shift = directory.start - recorded;
    if (directory.count > directory.size / kCentralHeaderSize) {
        Damaged("more members than the central directory holds");
    }
    return directory;
}

struct CopiedMember {
    CentralEntry central;
    ExistingMember info;
    std::uint64_t start = 0;   // the local header, in the file
    std::uint64_t length = 0;  // header, data and data descriptor
    std::uint64_t dataStart = 0;
};

std::int64_t DosToUnix(std::uint16_t date, std::uint16_t time) {
    return platform::UnixSecondsFromFileTime(
        platform::LocalFileTimeToFileTime(platform::DosDateTimeToFileTime(date, time)));
}

// One central header at `at`; returns the offset after it.
std::size_t ParseCentral(std::string_view records, std::size_t at, CopiedMember& member) {
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
                         return;  // made anew when the member is written
                     }
                     if (id == kExtraTimestamp && data.size() >= 5 && (data[0] & 1) != 0) {
                         unixTime = static_cast<std::int32_t>(Get(data, 1, 4));
                     } else if (id == kExtraUnicodePath && data.size() >= 5 && data[0] == 1 &&
                                Get(data, 1, 4) ==
                                    libdeflate_crc32(0, c.storedName.data(), c.storedName.size())) {
                         unicodeName = std::string(data.substr(5));
                     }
                     c.extras += whole;
                 });
    ExistingMember& info = member.info;
    if ((c.flags & kFlagUtf8Name) != 0) {
        info.name = common::DecodeStoredName(c.storedName, true, 'U');
    } else if (!unicodeName.empty()) {
        info.name = common::DecodeStoredName(unicodeName, true, 'U');
    } else {
        info.name = common::DecodeStoredName(c.storedName, false, 'U');
    }
    info.isDirectory = (!info.name.empty() && info.name.back() == '/') ||
                       (c.externalAttributes & kDosDirectory) != 0 ||
                       ((c.externalAttributes >> 16) & S_IFMT) == S_IFDIR;
    while (info.name.size() > 1 && info.name.back() == '/') {
        info.name.pop_back();
    }
    info.method = c.method;
    info.mode = (c.versionMadeBy >> 8) == (kMadeByUnix >> 8) ? c.externalAttributes >> 16 : 0;
    info.encrypted = (c.flags & 1u) != 0;
    info.size = c.size;
    info.compressedSize = c.compressedSize;
    info.crc = c.crc;
    info.mtime = unixTime.value_or(DosToUnix(c.dosDate, c.dosTime));
    return next;
}

// Where the member's bytes lie: its local header, data and data descriptor.
void Locate(const ArchiveFile& file, const Directory& directory, CopiedMember& member) {
    const CentralEntry& c = member.central;
    if (c.localOffset > directory.start - std::min(directory.start, directory.shift)) {
        Damaged("a member lies outside the archive");
    }
    member.start = c.localOffset + directory.shift;
    const std::string header = file.Read(member.start, kLocalHeaderSize);
    if (Get(header, 0, 4) != kLocalHeader) {
        Damaged("a local header is missing");
    }
    const std::uint64_t nameSize = Get(header, 26, 2);
    const std::uint64_t extraSize = Get(header, 28, 2);
    bool zip64 = c.size >= kOverflow32 || c.compressedSize >= kOverflow32;
    ForEachExtra(file.Read(member.start + kLocalHeaderSize + nameSize, extraSize),
                 [&](std::uint16_t id, std::string_view, std::string_view) {
                     zip64 = zip64 || id == kExtraZip64;
                 });
    std::uint64_t length = kLocalHeaderSize + nameSize + extraSize;
    member.dataStart = member.start + length;
    if (c.compressedSize > directory.start - std::min(directory.start, member.start + length)) {
        Damaged("a member's data runs into the central directory");
    }
    length += c.compressedSize;
    if ((c.flags & kFlagDataDescriptor) != 0) {
        const std::uint64_t sizes = zip64 ? 16 : 8;
        const bool signature = member.start + length + 4 <= directory.start &&
                               Get(file.Read(member.start + length, 4), 0, 4) == kDataDescriptor;
        length += (signature ? 4 : 0) + 4 + sizes;
    }
    if (member.start + length > directory.start) {
        Damaged("a member's data runs into the central directory");
    }
    member.length = length;
}

}  // namespace

struct ExistingArchive::State {
    ArchiveFile file;
    std::vector<CopiedMember> members;
    std::vector<ExistingMember> infos;
    std::uint64_t archiveStart = 0;

    explicit State(const std::string& path) : file(path) {}
};

ExistingArchive::ExistingArchive(const std::string& path) : state_(std::make_unique<State>(path)) {
    const Directory directory = FindDirectory(state_->file);
    const std::string records = state_->file.Read(directory.start, directory.size);
    std::size_t at = 0;
    for (std::uint64_t i = 0; i < directory.count; ++i) {
        CopiedMember member;
        at = ParseCentral(records, at, member);
        Locate(state_->file, directory, member);
        state_->members.push_back(std::move(member));
    }
    // Members that share bytes (the overlapping-member bomb) are never taken over.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    for (const CopiedMember& member : state_->members) {
        ranges.emplace_back(member.start, member.start + member.length);
    }
    std::sort(ranges.begin(), ranges.end());
    for (std::size_t i = 1; i < ranges.size(); ++i) {
        if (ranges[i].first < ranges[i - 1].second) {
            Damaged("two members share the same bytes");
        }
    }
    state_->archiveStart = ranges.empty() ? directory.start : ranges.front().first;
    for (const CopiedMember& member : state_->members) {
        state_->infos.push_back(member.info);
    }
}

ExistingArchive::~ExistingArchive() = default;

const std::vector<ExistingMember>& ExistingArchive::Members() const {
    return state_->infos;
}

const CentralEntry& ExistingArchive::Central(std::size_t index) const {
    return state_->members.at(index).central;
}

std::uint64_t ExistingArchive::ArchiveStart() const {
    return state_->archiveStart;
}

void ExistingArchive::StreamRange(
    std::uint64_t start, std::uint64_t length,
    const std::function<void(std::span<const std::byte>)>& out) const {
    std::vector<std::byte> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(length, 1 << 20)));
    for (std::uint64_t done = 0; done < length;) {
        const auto piece = std::span(buffer).first(
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - done)));
        state_->file.ReadInto(start + done, piece);
        out(piece);
        done += piece.size();
    }
}

void ExistingArchive::CopyRaw(std::size_t index,
                              const std::function<void(std::span<const std::byte>)>& out) const {
    const CopiedMember& member = state_->members.at(index);
    StreamRange(member.start, member.length, out);
}

void ExistingArchive::ReadData(std::size_t index,
                               const std::function<void(std::span<const std::byte>)>& out) const {
    const CopiedMember& member = state_->members.at(index);
    StreamRange(member.dataStart, member.central.compressedSize, out);
}

}  // namespace zembrat::zip
