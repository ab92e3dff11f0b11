#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "central_entry.h"
#include "common/name_encoding.h"
#include "deflate_chunks.h"
#include "platform/file_time.h"
#include "zip/zip.h"
#include "zip_format.h"

namespace zembrat::zip {

namespace {

using namespace format;

// A member this close to 4 GiB gets ZIP64 sizes in its local header from the start: its
// compressed size is not known in advance and deflate may add a little.
constexpr std::uint64_t kZip64Threshold = 0xFF000000;
constexpr std::size_t kCopyBuffer = 1 << 20;

std::uint32_t Crc32(std::uint32_t crc, std::span<const std::byte> data) {
    return libdeflate_crc32(crc, data.data(), data.size());
}

// The extra fields of a member written here, the same in both headers: the extended
// timestamp and, for a name stored in CP932, the Unicode path.
std::string ExtrasFor(std::int64_t mtime, const std::string& storedName,
                      const std::string& unicodeName) {
    std::string extras;
    if (mtime >= std::numeric_limits<std::int32_t>::min() &&
        mtime <= std::numeric_limits<std::int32_t>::max()) {
        std::string field;
        field += static_cast<char>(1);  // modification time present
        Put32(field, static_cast<std::uint32_t>(static_cast<std::int32_t>(mtime)));
        PutExtra(extras, kExtraTimestamp, field);
    }
    if (!unicodeName.empty()) {
        std::string field;
        field += static_cast<char>(1);  // version
        Put32(field, static_cast<std::uint32_t>(
                         libdeflate_crc32(0, storedName.data(), storedName.size())));
        field += unicodeName;
        PutExtra(extras, kExtraUnicodePath, field);
    }
    return extras;
}

std::string LocalHeader(const CentralEntry& entry) {
    std::string extras;
    if (entry.zip64Sizes) {
        std::string field;
        Put64(field, entry.size);
        Put64(field, entry.compressedSize);
        PutExtra(extras, kExtraZip64, field);
    }
    extras += entry.extras;
    std::string out;
    Put32(out, kLocalHeader);
    Put16(out, entry.zip64Sizes ? kVersionZip64 : kVersionDeflate);
    Put16(out, entry.flags);
    Put16(out, entry.method);
    Put16(out, entry.dosTime);
    Put16(out, entry.dosDate);
    Put32(out, entry.crc);
    Put32(out, entry.zip64Sizes ? kOverflow32 : static_cast<std::uint32_t>(entry.compressedSize));
    Put32(out, entry.zip64Sizes ? kOverflow32 : static_cast<std::uint32_t>(entry.size));
    Put16(out, static_cast<std::uint16_t>(entry.storedName.size()));
    Put16(out, static_cast<std::uint16_t>(extras.size()));
    out += entry.storedName;
    out += extras;
    return out;
}

}  // namespace

// ---- Inputs ----

FileInput::FileInput(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
        const int error = errno;
        if (fd_ >= 0) {
            ::close(fd_);
        }
        throw Error(ErrorKind::kIo, "cannot open " + path + ": " + std::strerror(error));
    }
    size_ = static_cast<std::uint64_t>(info.st_size);
}

FileInput::~FileInput() {
    ::close(fd_);
}

std::size_t FileInput::Read(std::span<std::byte> buffer) {
    for (;;) {
        const ssize_t got =
            ::pread(fd_, buffer.data(), buffer.size(), static_cast<off_t>(position_));
        if (got >= 0) {
            position_ += static_cast<std::uint64_t>(got);
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            throw Error(ErrorKind::kIo, std::string("cannot read: ") + std::strerror(errno));
        }
    }
}

bool FileInput::Rewind() {
    position_ = 0;
    return true;
}

std::size_t MemoryInput::Read(std::span<std::byte> buffer) {
    const std::size_t count = std::min(buffer.size(), data_.size() - position_);
    std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(position_), count, buffer.begin());
    position_ += count;
    return count;
}

// ---- The writer ----

struct Writer::State {
    int fd;
    WriterOptions options;
    std::uint64_t offset = 0;
    std::vector<CentralEntry> entries;
    std::unique_ptr<ChunkCompressor> compressor;
    std::vector<std::vector<std::byte>> chunks;  // input, one per thread
    std::vector<std::vector<std::byte>> outputs;
    bool finished = false;

    void WriteAt(std::uint64_t at, std::span<const std::byte> data) {
        while (!data.empty()) {
            const ssize_t done = ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(at));
            if (done < 0 && errno == EINTR) {
                continue;
            }
            if (done <= 0) {
                throw Error(ErrorKind::kIo,
                            std::string("cannot write the archive: ") + std::strerror(errno));
            }
            data = data.subspan(static_cast<std::size_t>(done));
            at += static_cast<std::uint64_t>(done);
        }
    }
    void WriteAt(std::uint64_t at, std::string_view text) {
        WriteAt(at, std::as_bytes(std::span(text.data(), text.size())));
    }

    CentralEntry NewEntry(const EntryInfo& info, std::string_view suffix, std::uint32_t type,
                          std::uint32_t defaultMode) {
        if (finished) {
            throw std::logic_error("the archive is already finished");
        }
        common::StoredName name = common::EncodeStoredName(info.name);
        CentralEntry entry;
        entry.storedName = name.bytes + std::string(suffix);
        std::string unicodeName;
        if (name.unicode) {
            entry.flags |= kFlagUtf8Name;
        } else if (!name.utf8.empty()) {
            unicodeName = name.utf8 + std::string(suffix);
        }
        if (entry.storedName.size() > 0xFFFF) {
            throw Error(ErrorKind::kTooLarge, "member name too long: " + info.name);
        }
        platform::FileTimeToDosDateTime(
            platform::FileTimeToLocalFileTime(platform::FileTimeFromUnix(info.mtime)),
            entry.dosDate, entry.dosTime);
        entry.extras = ExtrasFor(info.mtime, entry.storedName, unicodeName);
        if (entry.extras.size() > 0xFFFF - 20) {  // room for a ZIP64 field in the same length
            throw Error(ErrorKind::kTooLarge, "member name too long: " + info.name);
        }
        const std::uint32_t mode =
            type | ((info.mode & 07777) != 0 ? (info.mode & 07777) : defaultMode);
        entry.externalAttributes = (mode << 16) | (type == S_IFDIR ? kDosDirectory : 0);
        entry.localOffset = offset;
        return entry;
    }

    WrittenMember Record(CentralEntry entry) {
        const std::string header = LocalHeader(entry);
        WriteAt(entry.localOffset, header);
        offset = entry.localOffset + header.size() + entry.compressedSize;
        WrittenMember written{entry.storedName, entry.method == kMethodDeflate, entry.size,
                              entry.compressedSize, entry.crc};
        entries.push_back(std::move(entry));
        return written;
    }

    // Reads exactly buffer.size() bytes; Error(kChanged) when the input ends first.
    static void ReadFull(Input& data, std::span<std::byte> buffer) {
        while (!buffer.empty()) {
            const std::size_t got = data.Read(buffer);
            if (got == 0) {
                throw Error(ErrorKind::kChanged, "the file became shorter while it was read");
            }
            buffer = buffer.subspan(got);
        }
    }

    static void Report(const ProgressFn& progress, std::uint64_t done, std::uint64_t total) {
        if (progress && !progress(done, total)) {
            throw Error(ErrorKind::kAborted, "stopped");
        }
    }

    // Copies the data unchanged; returns its CRC.
    std::uint32_t Store(Input& data, std::uint64_t size, std::uint64_t at,
                        const ProgressFn& progress) {
        std::vector<std::byte> buffer(static_cast<std::size_t>(
            std::min<std::uint64_t>(kCopyBuffer, std::max<std::uint64_t>(size, 1))));
        std::uint32_t crc = 0;
        for (std::uint64_t done = 0; done < size;) {
            const auto piece = std::span(buffer).first(
                static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - done)));
            ReadFull(data, piece);
            crc = Crc32(crc, piece);
            WriteAt(at + done, piece);
            done += piece.size();
            Report(progress, done, size);
        }
        return crc;
    }

    // Deflates the data in chunks; returns the compressed size and sets crc.
    std::uint64_t Deflate(Input& data, std::uint64_t size, std::uint64_t at, std::uint32_t& crc,
                          const ProgressFn& progress) {
        if (!compressor) {
            compressor = std::make_unique<ChunkCompressor>(options.level, options.threads);
            chunks.resize(compressor->Parallelism());
            outputs.resize(compressor->Parallelism());
        }
        const std::size_t chunkSize = ChunkSize(options.level);
        std::uint64_t done = 0;
        std::uint64_t written = 0;
        crc = 0;
        while (done < size) {
            std::vector<std::span<const std::byte>> batch;
            for (auto& chunk : chunks) {
                if (done >= size) {
                    break;
                }
                chunk.resize(
                    static_cast<std::size_t>(std::min<std::uint64_t>(chunkSize, size - done)));
                ReadFull(data, chunk);
                crc = Crc32(crc, chunk);
                done += chunk.size();
                batch.emplace_back(chunk);
            }
            compressor->Compress(batch, std::span(outputs).first(batch.size()), done == size);
            for (std::size_t i = 0; i < batch.size(); ++i) {
                WriteAt(at + written, outputs[i]);
                written += outputs[i].size();
            }
            Report(progress, done, size);
        }
        return written;
    }
};

Writer::Writer(int fd, WriterOptions options) : state_(std::make_unique<State>()) {
    state_->fd = fd;
    state_->options = options;
    state_->options.level = std::clamp(options.level, 0, 9);
    const off_t start = ::lseek(fd, 0, SEEK_CUR);
    state_->offset = start > 0 ? static_cast<std::uint64_t>(start) : 0;
}

Writer::~Writer() = default;

WrittenMember Writer::AddFile(const EntryInfo& info, Input& data, std::uint64_t size,
                              const ProgressFn& progress) {
    CentralEntry entry = state_->NewEntry(info, "", S_IFREG, 0644);
    entry.size = size;
    entry.zip64Sizes = size >= kZip64Threshold;
    const std::uint64_t dataStart = entry.localOffset + LocalHeader(entry).size();
    State::Report(progress, 0, size);
    if (state_->options.level == 0 || size == 0) {
        entry.crc = state_->Store(data, size, dataStart, progress);
        entry.compressedSize = size;
        return state_->Record(std::move(entry));
    }
    entry.method = kMethodDeflate;
    entry.compressedSize = state_->Deflate(data, size, dataStart, entry.crc, progress);
    if (entry.compressedSize >= size) {
        // Did not shrink: stored instead, over the deflated data (which is at least as long).
        if (size <= ChunkSize(state_->options.level)) {  // the one chunk is still in memory
            state_->WriteAt(dataStart, std::span<const std::byte>(state_->chunks.front()));
            entry.method = kMethodStored;
            entry.compressedSize = size;
        } else if (data.Rewind()) {
            const std::uint32_t crc = state_->Store(data, size, dataStart, progress);
            if (crc != entry.crc) {
                throw Error(ErrorKind::kChanged, "the file changed while it was read");
            }
            entry.method = kMethodStored;
            entry.compressedSize = size;
        }
    }
    return state_->Record(std::move(entry));
}

WrittenMember Writer::AddDirectory(const EntryInfo& info) {
    return state_->Record(state_->NewEntry(info, "/", S_IFDIR, 0755));
}

WrittenMember Writer::AddSymlink(const EntryInfo& info, std::string_view target) {
    CentralEntry entry = state_->NewEntry(info, "", S_IFLNK, 0777);
    entry.size = target.size();
    entry.compressedSize = target.size();
    entry.crc = Crc32(0, std::as_bytes(std::span(target.data(), target.size())));
    state_->WriteAt(entry.localOffset + LocalHeader(entry).size(), target);
    return state_->Record(std::move(entry));
}

WrittenMember Writer::CopyMember(const ExistingArchive& archive, std::size_t index) {
    if (state_->finished) {
        throw std::logic_error("the archive is already finished");
    }
    CentralEntry entry = archive.Central(index);
    entry.localOffset = state_->offset;
    std::uint64_t at = state_->offset;
    archive.CopyRaw(index, [&](std::span<const std::byte> data) {
        state_->WriteAt(at, data);
        at += data.size();
    });
    state_->offset = at;
    WrittenMember written{entry.storedName, entry.method == kMethodDeflate, entry.size,
                          entry.compressedSize, entry.crc};
    state_->entries.push_back(std::move(entry));
    return written;
}

void Writer::Finish() {
    State& state = *state_;
    if (state.finished) {
        return;
    }
    const std::uint64_t directoryStart = state.offset;
    std::string pending;
    std::uint64_t at = directoryStart;
    for (const CentralEntry& entry : state.entries) {
        entry.AppendTo(pending);
        if (pending.size() >= kCopyBuffer) {
            state.WriteAt(at, pending);
            at += pending.size();
            pending.clear();
        }
    }
    const std::uint64_t count = state.entries.size();
    const std::uint64_t directorySize = at + pending.size() - directoryStart;
    std::string end = std::move(pending);
    const bool zip64 =
        count >= kOverflow16 || directoryStart >= kOverflow32 || directorySize >= kOverflow32;
    if (zip64) {
        const std::uint64_t recordAt = directoryStart + directorySize;
        Put32(end, kZip64EndRecord);
        Put64(end, 44);  // size of the rest of this record
        Put16(end, kMadeByUnix | kVersionZip64);
        Put16(end, kVersionZip64);
        Put32(end, 0);  // this disk
        Put32(end, 0);  // disk with the directory
        Put64(end, count);
        Put64(end, count);
        Put64(end, directorySize);
        Put64(end, directoryStart);
        Put32(end, kZip64EndLocator);
        Put32(end, 0);
        Put64(end, recordAt);
        Put32(end, 1);  // disks in all
    }
    Put32(end, kEndRecord);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, zip64 ? kOverflow16 : static_cast<std::uint16_t>(count));
    Put16(end, zip64 ? kOverflow16 : static_cast<std::uint16_t>(count));
    Put32(end, zip64 ? kOverflow32 : static_cast<std::uint32_t>(directorySize));
    Put32(end, zip64 ? kOverflow32 : static_cast<std::uint32_t>(directoryStart));
    Put16(end, 0);  // comment length
    state.WriteAt(at, end);
    state.offset = at + end.size();
    if (::ftruncate(state.fd, static_cast<off_t>(state.offset)) != 0) {
        throw Error(ErrorKind::kIo,
                    std::string("cannot finish the archive: ") + std::strerror(errno));
    }
    state.finished = true;
}

}  // namespace zembrat::zip
