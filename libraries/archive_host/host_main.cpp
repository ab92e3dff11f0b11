// zembrat-archive-host: parses one archive with libarchive on behalf of a library, under the
// limits the library gives, and answers its commands (archive_host/protocol.h). The archive
// is descriptor 3 (the volumes that continue it 4, 5, ...), from --offset on (an archive
// behind a program); commands arrive on standard input, answers leave on standard output. It
// never writes a file.
#include <archive.h>
#include <archive_entry.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "archive_host/gunzip_source.h"
#include "archive_host/protocol.h"
#include "archive_host/sandbox.h"
#include "cab_host.h"
#include "rar5_scan.h"

namespace {

using namespace zembrat::archive_host;

constexpr int kArchiveFd = 3;
constexpr int kOutput = 1;
// Consecutive damaged headers at one position before the archive is given up: the decoder
// can report the same failure forever without moving on.
constexpr int kMaxFailuresWithoutProgress = 3;
constexpr int kMaxDamagedHeaders = 1000;
constexpr int kMaxVolumes = 1000;

// A decoder that cannot get memory under the address-space limit often reports bad data
// instead; the allocator notes the refusal, so that the answer can say what happened.
std::atomic<bool> allocationRefused{false};
unsigned long long memoryLimit = 0;

std::string WithMemoryCause(std::string reason) {
    if (allocationRefused) {
        reason = "the archive needs more memory than the helper's limit of " +
                 std::to_string(memoryLimit >> 20) + " MiB (" + reason + ")";
    }
    return reason;
}

struct Source {
    int fd = kArchiveFd;
    la_int64_t base = 0;  // where the archive starts in the file; positions count from there
    la_int64_t position = 0;
    la_int64_t size = 0;
    std::vector<char> buffer = std::vector<char>(64 * 1024);
};

la_ssize_t ReadSource(archive*, void* data, const void** block) {
    auto* source = static_cast<Source*>(data);
    ssize_t got;
    while ((got = ::pread(source->fd, source->buffer.data(), source->buffer.size(),
                          source->base + source->position)) < 0 &&
           errno == EINTR) {
    }
    if (got < 0) {
        return ARCHIVE_FATAL;
    }
    source->position += got;
    *block = source->buffer.data();
    return got;
}

la_int64_t SkipSource(archive*, void* data, la_int64_t request) {
    auto* source = static_cast<Source*>(data);
    const la_int64_t room = std::max<la_int64_t>(0, source->size - source->position);
    const la_int64_t skipped = std::min(request, room);
    source->position += skipped;
    return skipped;
}

// The decoder moves on to the next volume: it is read from its start.
int SwitchSource(archive*, void*, void* next) {
    static_cast<Source*>(next)->position = 0;
    return ARCHIVE_OK;
}

la_int64_t SeekSource(archive*, void* data, la_int64_t offset, int whence) {
    auto* source = static_cast<Source*>(data);
    la_int64_t base = 0;
    if (whence == SEEK_CUR) {
        base = source->position;
    } else if (whence == SEEK_END) {
        base = source->size;
    }
    const la_int64_t target = base + offset;
    if (target < 0) {
        return ARCHIVE_FATAL;
    }
    source->position = target;
    return target;
}

// A gzip file of the tar family, inflated by the helper itself.
struct InflatedSource {
    explicit InflatedSource(off_t start) : gunzip(kArchiveFd, start) {}
    GunzipSource gunzip;
    std::vector<std::byte> buffer = std::vector<std::byte>(256 * 1024);
};

la_ssize_t ReadInflated(archive* reader, void* data, const void** block) {
    auto* source = static_cast<InflatedSource*>(data);
    const ssize_t got = source->gunzip.Read(source->buffer.data(), source->buffer.size());
    if (got < 0) {
        archive_set_error(reader, EINVAL, "%s", source->gunzip.Error().c_str());
        return ARCHIVE_FATAL;
    }
    *block = source->buffer.data();
    return got;
}

bool SetUpFormat(archive* reader, std::string_view format) {
    if (format == "zip") {
        // The central directory where there is one; an archive without a usable one is read
        // from its local headers (the seekable reader bids higher when it can work).
        return archive_read_support_format_zip_seekable(reader) == ARCHIVE_OK &&
               archive_read_support_format_zip_streamable(reader) == ARCHIVE_OK;
    }
    if (format == "rar") {
        // Only the two RAR readers: with every reader enabled, a ZIP stored in a RAR is taken
        // for the archive. Both find an archive behind a self-extracting program.
        return archive_read_support_format_rar(reader) == ARCHIVE_OK &&
               archive_read_support_format_rar5(reader) == ARCHIVE_OK;
    }
    if (format == "tar" || format == "tar-lone") {
        // The tar family: every tar dialect, cpio, ar (and so .deb, an ar archive), rpm (a
        // filter in front of cpio), under any of the usual compressors. "raw" takes a lone
        // compressed file as one member; the session refuses it when nothing was decompressed.
        // A filter that would run an external program is refused: every filter named here is
        // built in (ARCHIVE_WARN means an external program).
        for (auto setUp : {archive_read_support_filter_gzip, archive_read_support_filter_bzip2,
                           archive_read_support_filter_compress, archive_read_support_filter_xz,
                           archive_read_support_filter_lzma, archive_read_support_filter_zstd,
                           archive_read_support_filter_lzip, archive_read_support_filter_rpm}) {
            if (setUp(reader) == ARCHIVE_FATAL) {
                return false;
            }
        }
        if (format == "tar-lone") {
            // A compressed file whose data did not read as an archive: its data as it is.
            return archive_read_support_format_raw(reader) == ARCHIVE_OK;
        }
        return archive_read_support_format_tar(reader) == ARCHIVE_OK &&
               archive_read_support_format_gnutar(reader) == ARCHIVE_OK &&
               archive_read_support_format_cpio(reader) == ARCHIVE_OK &&
               archive_read_support_format_ar(reader) == ARCHIVE_OK &&
               archive_read_support_format_raw(reader) == ARCHIVE_OK;
    }
    return false;
}

void ApplyLimits(unsigned long long memory, unsigned long long cpuSeconds) {
    // Ends with the library's process, whatever happens to it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    const rlimit noFiles{0, 0};
    ::setrlimit(RLIMIT_FSIZE, &noFiles);
    const rlimit cpu{cpuSeconds, cpuSeconds + 1};
    ::setrlimit(RLIMIT_CPU, &cpu);
#if !defined(__SANITIZE_ADDRESS__)
    // The sanitizer's shadow memory needs terabytes of address space; under it the CPU limit
    // and the library's timeout still bound the helper.
    const rlimit space{memory, memory};
    ::setrlimit(RLIMIT_AS, &space);
#else
    (void)memory;
#endif
}

std::string ErrorText(archive* reader, std::string_view fallback) {
    const char* text = archive_error_string(reader);
    std::string reason = text && *text ? std::string(text) : std::string(fallback);
    while (!reason.empty() && std::isspace(static_cast<unsigned char>(reason.back()))) {
        reason.pop_back();
    }
    return reason;
}

HostMember Describe(archive* reader, archive_entry* entry) {
    HostMember member;
    if (const char* path = archive_entry_pathname(entry)) {
        member.path = path;
    }
    if (const char* target = archive_entry_hardlink(entry); target && *target) {
        // A hard link names an earlier member; its own data, if any, is not read.
        member.kind = MemberKind::kHardlink;
        member.linkTarget = target;
    } else
        switch (archive_entry_filetype(entry)) {
            case AE_IFREG:
                member.kind = MemberKind::kFile;
                break;
            case AE_IFDIR:
                member.kind = MemberKind::kDirectory;
                break;
            case AE_IFLNK:
                member.kind = MemberKind::kSymlink;
                if (const char* target = archive_entry_symlink(entry)) {
                    member.linkTarget = target;
                }
                break;
            default:
                member.kind = MemberKind::kOther;
                break;
        }
    if (archive_entry_size_is_set(entry)) {
        member.size =
            static_cast<std::uint64_t>(std::max<la_int64_t>(0, archive_entry_size(entry)));
    }
    if (archive_entry_mtime_is_set(entry)) {
        member.mtime = archive_entry_mtime(entry);
    }
    member.mode = archive_entry_perm(entry);
    member.encrypted =
        archive_entry_is_encrypted(entry) != 0 || archive_entry_is_data_encrypted(entry) != 0;
    if (const char* name = archive_format_name(reader)) {
        member.formatName = name;
    }
    return member;
}

class Session {
  public:
    // outputLimit: the most data all members together may decompress to (0: no limit).
    // encrypted: members known to be encrypted although the decoder does not say so;
    // inflatedHere: the helper decompresses the file before the decoder sees it.
    Session(archive* reader, std::uint64_t outputLimit, std::set<std::string> encrypted = {},
            bool inflatedHere = false)
        : reader_(reader),
          outputLimit_(outputLimit),
          inflatedHere_(inflatedHere),
          encrypted_(std::move(encrypted)) {}

    // Answers one "next" command; false once the conversation is over.
    bool Next() {
        if (current_ && sparse_) {
            // The decoder's skip loses its place after some sparse members (pax with a hole
            // map in the data); reading the data through does not.
            std::vector<char> discard(kDataFrameSize);
            while (archive_read_data(reader_, discard.data(), discard.size()) > 0) {
            }
        }
        archive_entry* entry = nullptr;
        const la_int64_t position = archive_read_header_position(reader_);
        const int result = archive_read_next_header(reader_, &entry);
        if (result == ARCHIVE_EOF) {
            current_ = false;
            ended_ = true;
            return WriteFrame(kOutput, FrameType::kEnd, std::string_view());
        }
        if (result == ARCHIVE_OK || result == ARCHIVE_WARN) {
            if (!CompressedOrArchive()) {
                return Fatal("not an archive of this kind");
            }
            failuresHere_ = 0;
            member_ = Describe(reader_, entry);
            sparse_ = archive_entry_sparse_count(entry) > 0;
            current_ = true;
            return WriteFrame(kOutput, FrameType::kMember, EncodeMember(member_));
        }
        if (result == ARCHIVE_FAILED && entry != nullptr) {
            failuresHere_ = position == lastFailure_ ? failuresHere_ + 1 : 1;
            lastFailure_ = position;
            if (failuresHere_ >= kMaxFailuresWithoutProgress) {
                return Fatal("damaged archive: the same header fails again and again");
            }
            if (++damaged_ >= kMaxDamagedHeaders) {
                return Fatal("damaged archive: too many damaged headers");
            }
            HostMember member = Describe(reader_, entry);
            member.error = "damaged member header: " + ErrorText(reader_, "unreadable");
            current_ = false;
            return WriteFrame(kOutput, FrameType::kMember, EncodeMember(member));
        }
        return Fatal("damaged archive: " + ErrorText(reader_, "unreadable header"));
    }

    // Answers a "stream" command: every member's header and then its data as "data" would
    // answer, to the end, without waiting to be asked.
    bool Stream() {
        while (Next()) {
            if (ended_) {
                return true;
            }
            if (!Data()) {
                return false;
            }
        }
        return false;
    }

    // Answers one "data" command.
    bool Data() {
        if (!current_) {
            return WriteFrame(kOutput, FrameType::kMemberError, "no member to read");
        }
        current_ = false;
        if (member_.encrypted) {
            return WriteFrame(kOutput, FrameType::kMemberError, "encrypted member, not supported");
        }
        if (sparse_) {
            return SparseData();
        }
        std::vector<char> buffer(kDataFrameSize);
        std::uint64_t total = 0;
        for (;;) {
            const la_ssize_t got = archive_read_data(reader_, buffer.data(), buffer.size());
            if (got == 0) {
                return WriteFrame(kOutput, FrameType::kDataEnd, std::string_view());
            }
            if (got < 0) {
                // A warning after the data is an integrity failure (a bad CRC): the member is
                // lost, the archive is not.
                if (encrypted_.count(member_.path) != 0) {
                    return WriteFrame(kOutput, FrameType::kMemberError,
                                      "encrypted member, not supported");
                }
                if (got == ARCHIVE_FATAL) {
                    return Fatal("damaged archive: " + ErrorText(reader_, "unreadable data"));
                }
                return WriteFrame(
                    kOutput, FrameType::kMemberError,
                    WithMemoryCause("damaged member: " + ErrorText(reader_, "unreadable data")));
            }
            total += static_cast<std::uint64_t>(got);
            if (!CountOutput(static_cast<std::uint64_t>(got))) {
                return false;
            }
            if (member_.size && total > *member_.size) {
                return WriteFrame(kOutput, FrameType::kMemberError,
                                  "damaged member: its data runs past its declared size");
            }
            if (!WriteFrame(kOutput, FrameType::kData,
                            std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
                return false;
            }
        }
    }

    bool Fatal(const std::string& reason) {
        WriteFrame(kOutput, FrameType::kFatal, WithMemoryCause(reason));
        return false;
    }

  private:
    bool CountOutput(std::uint64_t bytes) {
        produced_ += bytes;
        if (outputLimit_ != 0 && produced_ > outputLimit_) {
            return Fatal("the archive expands to more than " + std::to_string(outputLimit_) +
                         " bytes, far beyond its own size: refused as a decompression bomb");
        }
        return true;
    }

    // A sparse member: its data blocks where they lie, the holes between them and one at its
    // end as hole frames. Holes cost no output: an 8 GiB sparse file in a small archive is no
    // decompression bomb.
    bool SparseData() {
        std::uint64_t total = 0;
        for (;;) {
            const void* block = nullptr;
            std::size_t size = 0;
            la_int64_t offset = 0;
            const int result = archive_read_data_block(reader_, &block, &size, &offset);
            if (result == ARCHIVE_EOF) {
                break;
            }
            if (result != ARCHIVE_OK) {
                if (result == ARCHIVE_FATAL) {
                    return Fatal("damaged archive: " + ErrorText(reader_, "unreadable data"));
                }
                return WriteFrame(kOutput, FrameType::kMemberError,
                                  "damaged member: " + ErrorText(reader_, "unreadable data"));
            }
            if (offset < 0 || static_cast<std::uint64_t>(offset) < total ||
                (member_.size && static_cast<std::uint64_t>(offset) + size > *member_.size)) {
                return WriteFrame(kOutput, FrameType::kMemberError,
                                  "damaged member: its sparse map does not fit its size");
            }
            if (static_cast<std::uint64_t>(offset) > total &&
                !WriteFrame(kOutput, FrameType::kHole, EncodeHole(offset - total))) {
                return false;
            }
            total = static_cast<std::uint64_t>(offset) + size;
            if (!CountOutput(size)) {
                return false;
            }
            const auto* data = static_cast<const char*>(block);
            for (std::size_t at = 0; at < size; at += kDataFrameSize) {
                if (!WriteFrame(kOutput, FrameType::kData,
                                std::string_view(data + at, std::min(kDataFrameSize, size - at)))) {
                    return false;
                }
            }
        }
        if (member_.size && total < *member_.size &&
            !WriteFrame(kOutput, FrameType::kHole, EncodeHole(*member_.size - total))) {
            return false;
        }
        return WriteFrame(kOutput, FrameType::kDataEnd, std::string_view());
    }

    // The raw reader takes any file as one member: that is only an archive of ours when a
    // decompressor stands in front of it (a lone .gz, .bz2, .Z).
    bool CompressedOrArchive() const {
        return archive_format(reader_) != ARCHIVE_FORMAT_RAW || archive_filter_count(reader_) > 1 ||
               inflatedHere_;
    }

    archive* reader_;
    std::uint64_t outputLimit_;
    bool inflatedHere_;
    bool ended_ = false;
    std::uint64_t produced_ = 0;
    std::set<std::string> encrypted_;
    HostMember member_;
    bool current_ = false;
    bool sparse_ = false;
    la_int64_t lastFailure_ = -1;
    int failuresHere_ = 0;
    int damaged_ = 0;
};

struct ArchiveDeleter {
    void operator()(archive* reader) const { archive_read_free(reader); }
};

}  // namespace

#if !defined(__SANITIZE_ADDRESS__)
// The allocator's entries, noting a refusal (the sanitizer brings its own allocator).
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_realloc(void* old, std::size_t size);

namespace {
void* Noted(void* block, std::size_t size) {
    if (block == nullptr && size != 0) {
        allocationRefused = true;
    }
    return block;
}
}  // namespace

extern "C" void* malloc(std::size_t size) noexcept {
    return Noted(__libc_malloc(size), size);
}
extern "C" void* calloc(std::size_t count, std::size_t size) noexcept {
    return Noted(__libc_calloc(count, size), count * size);
}
extern "C" void* realloc(void* old, std::size_t size) noexcept {
    return Noted(__libc_realloc(old, size), size);
}
#endif

#if defined(__SANITIZE_ADDRESS__)
// Without an address-space limit (see ApplyLimits) the sanitizer's own memory limit stops a
// decoder that asks for ever more, as the address-space limit does in a normal build.
extern "C" const char* __asan_default_options() {
    return "hard_rss_limit_mb=512:allocator_may_return_null=1";
}
#endif

int main(int argc, char** argv) {
    std::string format;
    unsigned long long memory = 1024ull * 1024 * 1024;
    unsigned long long cpuSeconds = 120;
    unsigned long long outputLimit = 0;
    int volumeCount = 1;
    long long archiveOffset = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view option = argv[i];
        if (option == "--format") {
            format = argv[i + 1];
        } else if (option == "--memory") {
            memory = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (option == "--cpu") {
            cpuSeconds = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (option == "--max-output") {
            outputLimit = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (option == "--volumes") {
            volumeCount = std::clamp(std::atoi(argv[i + 1]), 1, kMaxVolumes);
        } else if (option == "--offset") {
            archiveOffset = std::strtoll(argv[i + 1], nullptr, 10);
        }
    }
    memoryLimit = memory;
    ApplyLimits(memory, cpuSeconds);
    ::close_range(static_cast<unsigned>(kArchiveFd + volumeCount), ~0U, 0);
    // The decoder converts names by the locale: UTF-8 names stay UTF-8, others come as stored.
    std::setlocale(LC_ALL, "C.UTF-8");
    // Everything it will read is open now (a cabinet set's other parts just below); from
    // here on the helper can reach nothing else.
    if (format == "cab") {
        PrepareCabinetSet();
    }
    // A helper that cannot lock itself still reads (within its limits), and says so.
    if (const SandboxState lock = LockDown(); !lock.missing.empty()) {
        WriteFrame(kOutput, FrameType::kNote,
                   "the helper process reads without part of its sandbox (" + lock.missing + ")");
    }
    if (format == "cab") {
        return RunCabinetSession(outputLimit);
    }

    std::unique_ptr<archive, ArchiveDeleter> reader(archive_read_new());
    std::vector<Source> sources(static_cast<std::size_t>(volumeCount));
    bool sized = true;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        sources[i].fd = kArchiveFd + static_cast<int>(i);
        sources[i].size = ::lseek(sources[i].fd, 0, SEEK_END);
        sized = sized && sources[i].size >= 0;
    }
    if (sized && (archiveOffset < 0 || archiveOffset > sources[0].size)) {
        WriteFrame(kOutput, FrameType::kFatal, "the archive's offset lies outside the file");
        return 2;
    }
    sources[0].base = archiveOffset;
    sources[0].size -= archiveOffset;
    if (!reader || !sized || !SetUpFormat(reader.get(), format)) {
        WriteFrame(kOutput, FrameType::kFatal, "the helper cannot read this kind of archive");
        return 2;
    }
    // A gzip file of the tar family is inflated here, several times faster than by the
    // decoder's own filter; the decoder sees the archive inside.
    std::optional<InflatedSource> inflated;
    if ((format == "tar" || format == "tar-lone") &&
        GunzipSource::Starts(kArchiveFd, archiveOffset)) {
        inflated.emplace(archiveOffset);
        archive_read_set_callback_data(reader.get(), &*inflated);
        archive_read_set_read_callback(reader.get(), ReadInflated);
    } else {
        archive_read_set_callback_data(reader.get(), &sources[0]);
        for (std::size_t i = 1; i < sources.size(); ++i) {
            archive_read_append_callback_data(reader.get(), &sources[i]);
        }
        archive_read_set_read_callback(reader.get(), ReadSource);
        archive_read_set_skip_callback(reader.get(), SkipSource);
        archive_read_set_seek_callback(reader.get(), SeekSource);
        archive_read_set_switch_callback(reader.get(), SwitchSource);
    }
    Rar5Encryption encryption;
    if (format == "rar") {
        std::vector<int> volumes;
        for (const Source& source : sources) {
            volumes.push_back(source.fd);
        }
        encryption = ScanRar5Encryption(volumes);
    }
    Session session(reader.get(), outputLimit, std::move(encryption.members), inflated.has_value());
    if (encryption.headers) {
        session.Fatal("encrypted archive (its headers too), not supported");
        return 0;
    }
    if (archive_read_open1(reader.get()) != ARCHIVE_OK) {
        session.Fatal("not a readable archive: " + ErrorText(reader.get(), "unknown format"));
        return 0;
    }
    char command;
    for (;;) {
        const ssize_t got = ::read(0, &command, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got != 1) {
            return 0;
        }
        const bool goOn = command == static_cast<char>(Command::kNext)     ? session.Next()
                          : command == static_cast<char>(Command::kData)   ? session.Data()
                          : command == static_cast<char>(Command::kStream) ? session.Stream()
                                                                           : false;
        if (!goOn) {
            return 0;
        }
    }
}
