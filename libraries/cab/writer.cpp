// Writing cabinets: one folder of MSZIP (or stored) data blocks, compressed with libdeflate
// on every core, and the self-extracting file (stub + cabinet).
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <thread>

#include "archive_host/cab_member.h"
#include "archiver_api.h"
#include "cab/cab.h"
#include "common/archive_output.h"
#include "common/failure.h"
#include "common/name_encoding.h"
#include "common/safe_path.h"
#include "common/source_file.h"
#include "common/source_walk.h"
#include "common/unique_fd.h"
#include "strict_inflate_check.h"

namespace zembrat::cab {

namespace {

// The most members a cabinet can count (a 16-bit field).
constexpr std::size_t kMaxMembers = 0xFFFF;

// A host name as a cabinet stores it: '\' between folders, plain ASCII as it is, anything
// else in UTF-8 with the UTF attribute.
std::pair<std::string, std::uint32_t> StoredName(const std::string& hostName) {
    const common::StoredName stored = common::EncodeStoredName(hostName);
    std::string bytes = stored.utf8.empty() ? stored.bytes : stored.utf8;
    std::replace(bytes.begin(), bytes.end(), '/', '\\');
    return {bytes, stored.utf8.empty() ? 0u : kAttributeUtf8Name};
}

// The name a command-line name is stored under: relative names as given (cleaned), absolute
// ones under their last part.
std::string StoredFor(const std::string& name) {
    if (!name.empty() && name.front() == '/') {
        const std::string cleaned = common::CleanRelative(name);
        const std::size_t slash = cleaned.find_last_of('/');
        return slash == std::string::npos ? cleaned : cleaned.substr(slash + 1);
    }
    return common::CleanRelative(name);
}

constexpr std::size_t kBlockSize = 32768;
constexpr std::uint32_t kHeaderSize = 36;
constexpr std::uint32_t kFolderSize = 8;
constexpr std::uint32_t kFileEntrySize = 16;
// Blocks compressed together, spread over the threads.
constexpr std::size_t kBatchBlocks = 64;
// libdeflate's level 6: smaller than what zlib makes at its default, and faster.
constexpr int kDeflateLevel = 6;

struct PlannedFile {
    std::string path;
    // Open from the planning on when stat could not tell its size (files of /proc and the
    // like): their data was read aside then, and is packed from there.
    std::shared_ptr<common::SourceFile> readAside;
    std::string hostName;
    std::string stored;
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
    std::int64_t mtime = 0;
};

void PutU16(std::string& out, unsigned value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void PutU32(std::string& out, std::uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

void DosDateTime(std::int64_t seconds, std::uint16_t& date, std::uint16_t& time) {
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!::localtime_r(&when, &local) || local.tm_year < 80) {
        date = (1 << 5) | 1;  // 1980-01-01
        time = 0;
        return;
    }
    date = static_cast<std::uint16_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) |
                                      local.tm_mday);
    time = static_cast<std::uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) |
                                      (local.tm_sec / 2));
}

struct CompressorFree {
    void operator()(libdeflate_compressor* compressor) const {
        libdeflate_free_compressor(compressor);
    }
};

// zlib's raw deflater, for the blocks whose libdeflate stream a strict MSZIP reader refuses:
// zlib gives every code at least two codewords (a block of literals still carries a
// distance code), so whatever it writes every reader takes.
class ZlibDeflater {
  public:
    ZlibDeflater() = default;
    ZlibDeflater(const ZlibDeflater&) = delete;
    ZlibDeflater& operator=(const ZlibDeflater&) = delete;
    ~ZlibDeflater() {
        if (ready_) {
            deflateEnd(&stream_);
        }
    }

    // data compressed as one raw deflate stream, appended to out; false (out unchanged) when
    // zlib has no memory.
    bool Compress(std::string_view data, std::string& out) {
        if (!ready_) {
            if (deflateInit2(&stream_, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8,
                             Z_DEFAULT_STRATEGY) != Z_OK) {
                return false;
            }
            ready_ = true;
        }
        deflateReset(&stream_);
        const std::size_t start = out.size();
        out.resize(start + deflateBound(&stream_, static_cast<uLong>(data.size())));
        // zlib only reads its input.
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        stream_.avail_in = static_cast<uInt>(data.size());
        stream_.next_out = reinterpret_cast<Bytef*>(out.data() + start);
        stream_.avail_out = static_cast<uInt>(out.size() - start);
        if (deflate(&stream_, Z_FINISH) != Z_STREAM_END) {
            out.resize(start);
            return false;
        }
        out.resize(out.size() - stream_.avail_out);
        return true;
    }

  private:
    z_stream stream_{};
    bool ready_ = false;
};

struct BlockCompressor {
    std::unique_ptr<libdeflate_compressor, CompressorFree> libdeflate;
    ZlibDeflater zlib;
};

// Writes whole, or throws.
void WriteAll(int fd, std::string_view data, const std::string& archivePath) {
    while (!data.empty()) {
        const ssize_t wrote = ::write(fd, data.data(), data.size());
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            throw common::Failure(ARC_ERROR_CANNOT_WRITE,
                                  "cannot write " + archivePath + ": " + std::strerror(errno));
        }
        data.remove_prefix(static_cast<std::size_t>(wrote));
    }
}

// The data blocks of the one folder: the files' bytes one after another, cut into 32 KiB
// blocks, each compressed on its own (an MSZIP block may use the one before it; not using it
// costs little and lets every core work).
class BlockWriter {
  public:
    BlockWriter(int fd, const std::string& archivePath, Compression compression,
                const ProgressFn& progress, std::uint64_t total)
        : fd_(fd),
          archivePath_(archivePath),
          compression_(compression),
          progress_(progress),
          total_(total),
          threads_(std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, 8)) {
        compressors_ = std::vector<BlockCompressor>(threads_);
        for (BlockCompressor& compressor : compressors_) {
            compressor.libdeflate.reset(libdeflate_alloc_compressor(kDeflateLevel));
            if (!compressor.libdeflate) {
                throw std::bad_alloc();
            }
        }
        input_.reserve(kBatchBlocks * kBlockSize);
    }

    void Add(std::string_view data) {
        while (!data.empty()) {
            const std::size_t take = std::min(data.size(), input_.capacity() - input_.size());
            input_.append(data.substr(0, take));
            data.remove_prefix(take);
            if (input_.size() == input_.capacity()) {
                Flush();
            }
        }
    }

    void Finish() { Flush(); }

  private:
    void Flush() {
        if (input_.empty()) {
            return;
        }
        const std::size_t count = (input_.size() + kBlockSize - 1) / kBlockSize;
        std::vector<std::string> blocks(count);
        auto work = [&](unsigned thread) {
            for (std::size_t i = thread; i < count; i += threads_) {
                blocks[i] = Block(compressors_[thread],
                                  std::string_view(input_).substr(i * kBlockSize, kBlockSize));
            }
        };
        if (threads_ == 1 || count == 1) {
            work(0);
        } else {
            std::vector<std::jthread> workers;
            for (unsigned thread = 1; thread < threads_; ++thread) {
                workers.emplace_back(work, thread);
            }
            work(0);
        }
        std::string out;
        for (const std::string& block : blocks) {
            out += block;
        }
        WriteAll(fd_, out, archivePath_);
        done_ += input_.size();
        input_.clear();
        if (progress_ && !progress_(done_, total_)) {
            throw Error(ErrorKind::kAborted, "stopped at the owner window's request");
        }
    }

    // One CFDATA record: checksum, sizes, the data ("CK" and a deflate stream for MSZIP).
    std::string Block(BlockCompressor& compressor, std::string_view data) const {
        std::string payload;
        if (compression_ == Compression::kStored) {
            payload = data;
        } else {
            payload.resize(
                2 + libdeflate_deflate_compress_bound(compressor.libdeflate.get(), data.size()));
            payload[0] = 'C';
            payload[1] = 'K';
            const std::size_t size =
                libdeflate_deflate_compress(compressor.libdeflate.get(), data.data(), data.size(),
                                            payload.data() + 2, payload.size() - 2);
            payload.resize(2 + size);
            // libdeflate leaves a block of literals without distance codes, which deflate
            // allows and libmspack (cabextract, our self-extracting program) refuses.
            if (size == 0 ||
                !StrictReadersTake(
                    std::span(reinterpret_cast<const unsigned char*>(payload.data()) + 2, size))) {
                payload.resize(2);
                if (!compressor.zlib.Compress(data, payload)) {
                    // One stored deflate block: the final bit, type 0, the length and its
                    // complement (a block holds at most 32 KiB).
                    payload += '\x01';
                    PutU16(payload, static_cast<unsigned>(data.size()));
                    PutU16(payload, static_cast<unsigned>(~data.size() & 0xFFFF));
                    payload += data;
                }
            }
        }
        std::string sizes;
        PutU16(sizes, static_cast<unsigned>(payload.size()));
        PutU16(sizes, static_cast<unsigned>(data.size()));
        std::string record;
        PutU32(record, archive_host::CabinetBlockChecksum(
                           sizes, archive_host::CabinetBlockChecksum(payload, 0)));
        return record + sizes + payload;
    }

    int fd_;
    const std::string& archivePath_;
    Compression compression_;
    const ProgressFn& progress_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    unsigned threads_;
    std::vector<BlockCompressor> compressors_;
    std::string input_;
};

// Reads one file into the blocks; throws when it cannot, or when it changed since it was
// planned (the file table is already written).
void CopyInto(BlockWriter& blocks, const PlannedFile& file, const std::string& archivePath) {
    std::optional<common::SourceFile> opened;
    common::SourceFile& source = file.readAside ? *file.readAside : opened.emplace(file.path, true);
    if (source.Size() != file.size) {
        throw common::Failure(ARC_ERROR_CANNOT_READ,
                              common::EscapeControlCharacters(file.path) +
                                  ": file changed while it was being read; " + archivePath +
                                  " is not written");
    }
    source.Rewind();
    std::vector<std::byte> buffer(1 << 20);
    while (const std::size_t got = source.Read(buffer)) {
        blocks.Add(std::string_view(reinterpret_cast<const char*>(buffer.data()), got));
    }
    source.RequireUnchanged();
}

}  // namespace

void Create(const std::string& archivePath, const std::vector<std::string>& names,
            const CreateOptions& options, CreateEvents& events) {
    const std::string base =
        options.baseFolder.empty()
            ? std::string()
            : (options.baseFolder.back() == '/' ? options.baseFolder : options.baseFolder + "/");
    // The first name refused, for the reason when nothing at all could be stored.
    std::string firstRefused;
    auto refuse = [&](const std::string& name, const std::string& reason) {
        if (firstRefused.empty()) {
            firstRefused = name + ": " + reason;
        }
        events.Failed(name, reason);
    };
    common::SourceWalk walk({true, options.intoFolders, {}});
    for (const std::string& name : names) {
        const std::string path = !name.empty() && name.front() == '/' ? name : base + name;
        struct stat info {};
        // A symbolic link named or met stands for what it points to: cabinets hold no links.
        if (::stat(path.c_str(), &info) != 0) {
            refuse(name, std::string("cannot read: ") + std::strerror(errno));
            continue;
        }
        try {
            walk.Add(path, StoredFor(name), info, true);
        } catch (const common::Failure& failure) {
            refuse(name, failure.what());
        }
    }
    std::vector<PlannedFile> files;
    std::uint64_t total = 0;
    for (const common::SourceEntry& entry : walk.Take()) {
        struct stat info = entry.info;
        if (S_ISLNK(info.st_mode) && ::stat(entry.path.c_str(), &info) != 0) {
            refuse(entry.stored, "a symbolic link that leads nowhere: not stored");
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            continue;  // cabinets hold no folders, only the names of the files in them
        }
        if (!S_ISREG(info.st_mode)) {
            refuse(entry.stored, "not a regular file: not stored");
            continue;
        }
        PlannedFile file;
        file.path = entry.path;
        file.hostName = entry.stored;
        if (!options.keepFolders) {
            const std::size_t slash = file.hostName.find_last_of('/');
            file.hostName =
                slash == std::string::npos ? file.hostName : file.hostName.substr(slash + 1);
        }
        // Every reader splits a stored name at '\\': such a name would come back as folders.
        if (file.hostName.find('\\') != std::string::npos) {
            refuse(entry.stored,
                   "not stored: a cabinet takes '\\' in a name as a folder separator, so "
                   "this name would come back as folders");
            continue;
        }
        std::uint32_t nameAttribute = 0;
        std::tie(file.stored, nameAttribute) = StoredName(file.hostName);
        file.attributes = kAttributeArchive | nameAttribute;
        if ((info.st_mode & 0111) != 0) {
            file.attributes |= kAttributeExecute;
        }
        if ((info.st_mode & 0222) == 0) {
            file.attributes |= kAttributeReadOnly;
        }
        file.size = static_cast<std::uint64_t>(info.st_size);
        file.mtime = info.st_mtime;
        if (info.st_size < 65536) {
            // Small or empty by stat: made-up files (/proc) are among them; their size is
            // known only once they are read.
            auto source = std::make_shared<common::SourceFile>(file.path, true);
            if (source->ReadAside()) {
                file.size = source->Size();
                file.readAside = std::move(source);
            }
        }
        total += file.size;
        files.push_back(std::move(file));
    }
    if (files.empty()) {
        throw common::Failure(
            ARC_ERROR_NO_FILES,
            !firstRefused.empty() ? "no file could be stored (" + firstRefused + ")"
            : options.intoFolders ? std::string("no files to pack")
                                  : "no files to pack (a folder brings its files only with -r)");
    }
    if (files.size() > kMaxMembers) {
        throw common::Failure(
            ARC_ERROR_TOO_LARGE,
            "a cabinet holds at most 65535 files; " + std::to_string(files.size()) + " were named");
    }
    if (total > kMaxCabinetContent) {
        throw common::Failure(ARC_ERROR_TOO_LARGE, "the files come to " + std::to_string(total) +
                                                       " bytes; a cabinet holds at most 2 GiB (" +
                                                       std::to_string(kMaxCabinetContent) +
                                                       " bytes): not written");
    }

    std::string table;
    for (const PlannedFile& file : files) {
        std::uint16_t date = 0, time = 0;
        DosDateTime(file.mtime, date, time);
        PutU32(table, static_cast<std::uint32_t>(file.size));
        PutU32(table, 0);  // the offset in the folder, set below
        PutU16(table, 0);  // the one folder
        PutU16(table, date);
        PutU16(table, time);
        PutU16(table, file.attributes);
        table += file.stored + '\0';
    }
    std::uint32_t offset = 0;
    std::size_t at = 0;
    for (const PlannedFile& file : files) {
        for (int i = 0; i < 4; ++i) {
            table[at + 4 + static_cast<std::size_t>(i)] =
                static_cast<char>((offset >> (8 * i)) & 0xFF);
        }
        offset += static_cast<std::uint32_t>(file.size);
        at += kFileEntrySize + file.stored.size() + 1;
    }
    const auto blockCount = static_cast<unsigned>((total + kBlockSize - 1) / kBlockSize);
    const std::uint32_t dataStart =
        kHeaderSize + kFolderSize + static_cast<std::uint32_t>(table.size());
    std::string head = "MSCF";
    PutU32(head, 0);
    PutU32(head, 0);  // the cabinet's size, set at the end
    PutU32(head, 0);
    PutU32(head, kHeaderSize + kFolderSize);
    PutU32(head, 0);
    head += "\x03\x01";  // format 1.3
    PutU16(head, 1);     // folders
    PutU16(head, static_cast<unsigned>(files.size()));
    PutU16(head, 0);  // no reserved fields, no neighbours in a set
    PutU16(head, 0);  // the set's id
    PutU16(head, 0);  // the cabinet's place in the set
    PutU32(head, dataStart);
    PutU16(head, blockCount);
    PutU16(head, options.compression == Compression::kMszip ? 1 : 0);

    common::ArchiveOutput output(archivePath);
    const int fd = output.Fd();
    WriteAll(fd, head + table, archivePath);
    BlockWriter blocks(fd, archivePath, options.compression, options.progress, total);
    for (const PlannedFile& file : files) {
        CopyInto(blocks, file, archivePath);
    }
    blocks.Finish();
    const off_t size = ::lseek(fd, 0, SEEK_CUR);
    if (size < 0 || static_cast<std::uint64_t>(size) > 0xFFFFFFFFu) {
        throw common::Failure(ARC_ERROR_TOO_LARGE, "the cabinet would pass 4 GiB: not written");
    }
    std::string sizeField;
    PutU32(sizeField, static_cast<std::uint32_t>(size));
    output.WriteAt(std::as_bytes(std::span(sizeField)), 8);
    output.Commit(common::ArchiveOutput::ModeFor(archivePath));
    for (const PlannedFile& file : files) {
        events.Added(file.hostName);
    }
}

void MakeSelfExtracting(const std::string& stubPath, const std::string& cabinetPath,
                        const std::string& sfxPath) {
    common::ArchiveOutput output(sfxPath);
    for (const std::string& part : {stubPath, cabinetPath}) {
        const common::UniqueFd in(::open(part.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat info {};
        if (!in.Valid() || ::fstat(in.Get(), &info) != 0) {
            throw common::Failure(ARC_ERROR_CANNOT_READ,
                                  "cannot read " + part + ": " + std::strerror(errno));
        }
        output.AppendRange(in.Get(), 0, static_cast<std::uint64_t>(info.st_size));
    }
    output.Commit(common::ArchiveOutput::ModeFor(sfxPath, true));
}

}  // namespace zembrat::cab
