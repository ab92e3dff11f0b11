// Reading a cabinet through the helper process (its cabinet setup: libmspack), and the names
// of its members.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "archive_host/cab_member.h"
#include "archive_host/engine_calls.h"
#include "cab/cab.h"

namespace zembrat::cab {

namespace {

std::uint64_t FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

archive_host::HostOptions Limited(archive_host::HostOptions options, const std::string& path) {
    // libmspack needs at most a 2 MiB LZX window and its buffers; the helper's address-space
    // limit stops anything that asks for far more.
    constexpr std::uint64_t kMemoryLimit = 256ull << 20;
    options.memoryLimit = std::min(options.memoryLimit, kMemoryLimit);
    if (options.outputLimit == 0) {
        options.outputLimit = OutputLimitFor(FileSize(path));
    }
    return options;
}

// Whether the file can hold a cabinet as the helper reads one (at its start, inside a
// program, or anywhere in a file named .cab): the probe of every file a user drops asks
// this, and most are answered here without starting the helper.
const std::string& MayHoldCabinet(const std::string& path) {
    if (path.size() > 4 && ::strcasecmp(path.c_str() + path.size() - 4, ".cab") == 0) {
        return path;
    }
    char head[4] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool read = fd >= 0 && ::pread(fd, head, sizeof head, 0) == sizeof head;
    if (fd >= 0) {
        ::close(fd);
    }
    if (read && (std::memcmp(head, "MSCF", 4) == 0 || std::memcmp(head, "MZ", 2) == 0 ||
                 std::memcmp(head,
                             "\x7f"
                             "ELF",
                             4) == 0)) {
        return path;
    }
    throw Error(ErrorKind::kArchive, read ? "not a cabinet" : "cannot read " + path);
}

}  // namespace

std::uint64_t OutputLimitFor(std::uint64_t archiveSize) {
    // MSZIP and LZX expand at most about 1:1000 on real data; a gigabyte more for small ones.
    constexpr std::uint64_t kFloor = 1ull << 30;
    constexpr std::uint64_t kRatio = 1024;
    return kFloor + archiveSize * kRatio;
}

Reader::Reader(const std::string& archivePath, archive_host::HostOptions options) try
    : host_(MayHoldCabinet(archivePath), archive_host::kCabinetFormat,
            Limited(options, archivePath)) {
} catch (const archive_host::HostError& error) {
    throw Error(ErrorKind::kArchive, error.what());
}

std::optional<Member> Reader::Next() {
    const auto next = archive_host::CallHost<Error>([&] { return host_.Next(); });
    current_.reset();
    if (!next) {
        return std::nullopt;
    }
    const auto info = archive_host::DecodeCabinetInfo(next->formatName);
    if (!info) {
        throw Error(ErrorKind::kArchive, "the helper described a member it should not");
    }
    Member member;
    member.name = DecodeMemberName(next->path, info->attributes);
    member.size = next->size.value_or(0);
    member.mtime = next->mtime.value_or(0);
    member.mode = next->mode;
    member.attributes = info->attributes;
    member.method = info->method;
    current_ = member;
    return member;
}

void Reader::Extract(const DataSink& sink, const ProgressFn& progress) {
    const Member member = archive_host::TakeCurrent<Error>(current_);
    archive_host::MemberDataCount<Error> count(member.size, progress);
    archive_host::CallHost<Error>([&] {
        host_.ReadData([&](std::span<const std::byte> data) {
            count.Add(data.size());
            sink(data);
            count.Report();
        });
    });
}

std::vector<Member> ReadMembers(const std::string& archivePath) {
    Reader reader(archivePath);
    return common::AllMembers(reader);
}

}  // namespace zembrat::cab
