#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "archive_host/engine_calls.h"
#include "common/elf_image.h"
#include "common/name_encoding.h"
#include "tar/tar.h"

namespace zembrat::tar {

namespace {

// Names come from the helper as stored: pax names are UTF-8, older tar and cpio names are
// whatever the maker's system used. Valid UTF-8 stays; anything else is read as CP932 (then
// Latin-1), as for the other archivers of this tool.
std::string HostName(std::string_view stored) {
    return common::DecodeStoredName(stored, false, 'U');
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

constexpr std::size_t kTarBlock = 512;

// The helper's setup that takes a compressed file's data as one member, whatever it holds.
constexpr const char* kLoneFormat = "tar-lone";

bool StartsGzip(std::string_view head) {
    return head.size() >= 3 && head.starts_with("\x1f\x8b\x08");
}

// A tar header block whose checksum holds: the sum of its bytes with the checksum field
// counted as spaces, stored in octal (some old writers summed the bytes as signed). A block
// of zeros (an archive's end) is none.
bool IsTarHeader(std::string_view block) {
    constexpr std::size_t kChecksumAt = 148;
    constexpr std::size_t kChecksumSize = 8;
    if (block.size() < kTarBlock) {
        return false;
    }
    std::uint32_t sum = 0;
    std::int32_t signedSum = 0;
    for (std::size_t i = 0; i < kTarBlock; ++i) {
        const bool inField = i >= kChecksumAt && i < kChecksumAt + kChecksumSize;
        sum += inField ? ' ' : static_cast<unsigned char>(block[i]);
        signedSum += inField ? ' ' : static_cast<signed char>(block[i]);
    }
    std::string_view field = block.substr(kChecksumAt, kChecksumSize);
    field.remove_prefix(std::min(field.find_first_not_of(' '), field.size()));
    std::uint32_t stored = 0;
    std::size_t digits = 0;
    for (; digits < field.size() && field[digits] >= '0' && field[digits] <= '7'; ++digits) {
        stored = stored * 8 + static_cast<std::uint32_t>(field[digits] - '0');
    }
    const std::string_view rest = field.substr(digits);
    return digits > 0 && rest.find_first_not_of(std::string_view(" \0", 2)) == rest.npos &&
           (stored == sum || static_cast<std::int32_t>(stored) == signedSum);
}

std::uint64_t FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

// The FNAME field of a gzip header, if the archive starts with one.
std::optional<std::string> GzipHeaderName(const std::string& path) {
    const std::string text = FileHead(path, 4096, ArchiveStart(path));
    const auto* head = reinterpret_cast<const unsigned char*>(text.data());
    const auto got = static_cast<std::ptrdiff_t>(text.size());
    constexpr unsigned char kExtra = 0x04;
    constexpr unsigned char kName = 0x08;
    if (got < 10 || head[0] != 0x1f || head[1] != 0x8b || head[2] != 8 || !(head[3] & kName)) {
        return std::nullopt;
    }
    std::size_t at = 10;
    if (head[3] & kExtra) {
        if (at + 2 > static_cast<std::size_t>(got)) {
            return std::nullopt;
        }
        at += 2 + (head[at] | (std::size_t{head[at + 1]} << 8));
    }
    std::string name;
    for (; at < static_cast<std::size_t>(got) && head[at] != 0; ++at) {
        name.push_back(static_cast<char>(head[at]));
    }
    if (at >= static_cast<std::size_t>(got)) {
        return std::nullopt;  // no terminating NUL within reach
    }
    // Only the file name part counts: the header must not choose a folder.
    name = BaseName(name);
    if (name.empty() || name == "." || name == "..") {
        return std::nullopt;
    }
    return name;
}

// A gzip member header at data[at]: the magic, deflate and no reserved flag bits.
bool GzipHeaderAt(std::string_view data, std::size_t at) {
    return at + 4 <= data.size() && data.substr(at, 3) == "\x1f\x8b\x08" &&
           (static_cast<unsigned char>(data[at + 3]) & 0xE0) == 0;
}

// What the gzip wrapper of a lone file tells without inflating it: its size (the trailer's
// ISIZE, only when it is certainly the size: one member, and too little data to hold 4 GiB or
// more, which ISIZE would give modulo 4 GiB) and its time (MTIME, when set).
struct GzipFacts {
    std::optional<std::uint64_t> size;
    std::optional<std::int64_t> mtime;
};

GzipFacts LoneGzipFacts(const std::string& path, std::uint64_t start) {
    GzipFacts facts;
    const std::string head = FileHead(path, 10, start);
    if (head.size() < 10 || !GzipHeaderAt(head, 0)) {
        return facts;
    }
    const auto byte = [&](std::size_t i) {
        return std::uint32_t{static_cast<unsigned char>(head[i])};
    };
    if (const std::uint32_t mtime = byte(4) | byte(5) << 8 | byte(6) << 16 | byte(7) << 24) {
        facts.mtime = mtime;
    }
    // deflate packs at most 1032 bytes into one: below this much data ISIZE cannot wrap.
    constexpr std::uint64_t kMostCertain = (std::uint64_t{1} << 32) / 1032;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return facts;
    }
    const std::uint64_t total =
        static_cast<std::uint64_t>(info.st_size) - std::min<std::uint64_t>(start, info.st_size);
    if (total < 18 || total > kMostCertain) {
        return facts;
    }
    const std::string data = FileHead(path, static_cast<std::size_t>(total), start);
    if (data.size() != total) {
        return facts;
    }
    // A second member would start with a header of its own; a chance match in the deflate
    // data only costs the size.
    for (std::size_t at = data.find('\x1f', 10); at != std::string::npos;
         at = data.find('\x1f', at + 1)) {
        if (GzipHeaderAt(data, at)) {
            return facts;
        }
    }
    const auto tail = [&](std::size_t i) {
        return std::uint32_t{static_cast<unsigned char>(data[data.size() - 4 + i])};
    };
    facts.size = tail(0) | tail(1) << 8 | tail(2) << 16 | tail(3) << 24;
    return facts;
}

}  // namespace

std::string FileHead(const std::string& path, std::size_t size, std::uint64_t offset) {
    std::string head(size, '\0');
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    const ssize_t got = ::pread(fd, head.data(), head.size(), static_cast<off_t>(offset));
    ::close(fd);
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return head;
}

std::uint64_t ArchiveStart(const std::string& path) {
    std::uint64_t imageEnd = 0;
    if (const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
        imageEnd = common::ElfImageEnd(fd);
        ::close(fd);
    }
    if (imageEnd == 0) {
        return 0;
    }
    const std::string head = FileHead(path, kTarBlock, imageEnd);
    return StartsGzip(head) || IsTarHeader(head) ? imageEnd : 0;
}

std::uint64_t OutputLimitFor(std::uint64_t archiveSize) {
    constexpr std::uint64_t kFloor = 1ull << 30;
    constexpr std::uint64_t kRatio = 1024;
    return kFloor + archiveSize * kRatio;
}

std::string LoneMemberName(const std::string& archivePath) {
    if (auto name = GzipHeaderName(archivePath)) {
        return HostName(*name);
    }
    std::string name = BaseName(archivePath);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        name.resize(dot);
    }
    return name.empty() ? std::string("data") : name;
}

namespace {

archive_host::HostOptions WithOutputLimit(archive_host::HostOptions options,
                                          const std::string& path) {
    // The decoders need a few MiB; a crafted file (a gzip that holds itself) asks for more
    // until the limit stops it, and a lower limit stops it sooner.
    constexpr std::uint64_t kMemoryLimit = 256ull << 20;
    options.memoryLimit = std::min(options.memoryLimit, kMemoryLimit);
    if (options.outputLimit == 0) {
        options.outputLimit = OutputLimitFor(FileSize(path));
    }
    return options;
}

archive_host::HostOptions WithStart(archive_host::HostOptions options, const std::string& path,
                                    std::string_view format) {
    if ((format == "tar" || format == kLoneFormat) && options.archiveOffset == 0) {
        options.archiveOffset = ArchiveStart(path);
    }
    return options;
}

// What data that gave no member is: a tar (its first block a header with a sound checksum,
// as a lone volume label; or the end of an empty archive: zeros in whole blocks, no more than
// the largest record tar writers pad to), or not (a file of zeros is a file). Fed the data in
// order; throws Verdict as soon as it can tell, so that no more than that is ever read.
class EmptyTarCheck {
  public:
    enum class Verdict { kTar, kNotTar };

    void Add(std::span<const std::byte> data) {
        for (const std::byte b : data) {
            nonZero_ = nonZero_ || b != std::byte{0};
            if (first_.size() < kTarBlock) {
                first_.push_back(static_cast<char>(b));
                if (first_.size() == kTarBlock && IsTarHeader(first_)) {
                    throw Verdict::kTar;
                }
            }
            if (nonZero_ && first_.size() == kTarBlock) {
                throw Verdict::kNotTar;
            }
        }
        size_ += data.size();
        if (size_ > kLargestRecord) {
            throw Verdict::kNotTar;
        }
    }

    // At the end of the data.
    void End() const {
        if (nonZero_ || size_ % kTarBlock != 0) {
            throw Verdict::kNotTar;
        }
    }

  private:
    static constexpr std::uint64_t kLargestRecord = 1 << 20;  // tar -b 2048
    std::uint64_t size_ = 0;
    std::string first_;
    bool nonZero_ = false;
};

}  // namespace

Reader::Reader(const std::string& archivePath, archive_host::HostOptions options,
               std::string_view format)
    : path_(archivePath),
      options_(WithStart(WithOutputLimit(std::move(options), archivePath), archivePath, format)),
      format_(format) {
    try {
        host_.emplace(path_, format_, options_);
    } catch (const archive_host::HostError& error) {
        throw Error(ErrorKind::kArchive, error.what());
    }
}

void Reader::StreamAll() {
    archive_host::CallHost<Error>([&] { host_->StreamAll(); });
    streaming_ = true;
}

std::optional<Member> Reader::Next() {
    const auto next = archive_host::CallHost<Error>([&] { return host_->Next(); });
    current_.reset();
    if (!next) {
        return anyMember_ || format_ != "tar" ? std::nullopt : NoMembers();
    }
    return Take(*next);
}

std::optional<Member> Reader::Take(const archive_host::HostMember& next) {
    anyMember_ = true;
    Member member;
    static_cast<archive_host::MemberFields&>(member) =
        archive_host::ToMemberFields(next, HostName, archive_host::TargetRule::kAllLinks);
    member.lone = next.formatName == "raw";
    if (member.lone) {
        member.name = LoneMemberName(path_);
        const GzipFacts facts = LoneGzipFacts(path_, options_.archiveOffset);
        member.size = facts.size;
        if (facts.mtime) {
            member.mtime = facts.mtime;
        }
    }
    if (member.kind != MemberKind::kFile) {
        member.size = 0;
    }
    current_ = member;
    return member;
}

std::optional<Member> Reader::NoMembers() {
    anyMember_ = true;  // asked once
    std::optional<archive_host::ArchiveHost> lone;
    bool hasData = false;
    try {
        lone.emplace(path_, kLoneFormat, options_);
        hasData = lone->Next().has_value();
    } catch (const archive_host::HostError&) {
        // Not compressed: the file itself is what the tar reader saw.
        EmptyTarCheck check;
        try {
            const std::string head = FileHead(path_, (1 << 20) + 1, options_.archiveOffset);
            check.Add(std::as_bytes(std::span(head.data(), head.size())));
            check.End();
        } catch (EmptyTarCheck::Verdict verdict) {
            if (verdict == EmptyTarCheck::Verdict::kNotTar) {
                throw Error(ErrorKind::kArchive, "not an archive of this kind");
            }
        }
        return std::nullopt;
    }
    bool tar = true;
    try {
        if (hasData) {
            EmptyTarCheck check;
            lone->ReadData([&check](std::span<const std::byte> data) { check.Add(data); },
                           [](std::uint64_t) {});
            check.End();
        }
    } catch (EmptyTarCheck::Verdict verdict) {
        tar = verdict == EmptyTarCheck::Verdict::kTar;
    } catch (...) {
        tar = false;  // damaged: no empty tar either; the lone member tells
    }
    lone.reset();
    if (tar) {
        return std::nullopt;
    }
    archive_host::CallHost<Error>([&] {
        host_.reset();
        host_.emplace(path_, kLoneFormat, options_);
        if (streaming_) {
            host_->StreamAll();
        }
    });
    const auto next = archive_host::CallHost<Error>([&] { return host_->Next(); });
    return next ? Take(*next) : std::nullopt;
}

void Reader::Extract(const DataSink& sink, const ProgressFn& progress, const HoleSink& holes) {
    const Member member = archive_host::TakeCurrent<Error>(current_);
    if (!member.error.empty()) {
        throw Error(ErrorKind::kMember, member.error);
    }
    archive_host::MemberDataCount<Error> count(member.size, progress);
    const auto data = [&](std::span<const std::byte> piece) {
        count.Add(piece.size());
        sink(piece);
        count.Report();
    };
    archive_host::CallHost<Error>([&] {
        if (holes) {
            host_->ReadData(data, [&](std::uint64_t size) {
                count.Add(size);
                holes(size);
                count.Report();
            });
        } else {
            host_->ReadData(data);
        }
    });
}

}  // namespace zembrat::tar
