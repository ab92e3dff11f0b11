// The cabinet setup of zembrat-archive-host. libmspack reads through an I/O layer of ours:
// the cabinet is descriptor 3 (searched at any offset in a program or a file named .cab),
// the other cabinets of a spanned set, before and after it, are the cabinets beside it,
// opened read-only before the helper locks itself and handed out by their bare file names,
// and whatever the decoder writes goes to the library as data frames.
#include "cab_host.h"

#include <dirent.h>
#include <fcntl.h>
#include <mspack.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive_host/cab_member.h"
#include "archive_host/protocol.h"
#include "lzx_decoder.h"

namespace zembrat::archive_host {

namespace {

constexpr int kArchiveFd = 3;
constexpr int kOutput = 1;
// The name the decoder is given for descriptor 3, and for the member being extracted. Both
// start with a byte no cabinet's next-cabinet name can hold.
constexpr const char* kArchiveName =
    "\x01"
    "archive";
constexpr const char* kMemberSink =
    "\x01"
    "member";
// A set longer than this is a loop of cabinets naming each other.
constexpr int kMaxCabinetsInSet = 256;

struct HostFile {
    int fd = -1;
    bool owned = false;  // opened here (a cabinet of the set), closed with the handle
    bool sink = false;   // the member's data: every write becomes data frames
    off_t position = 0;
};

// What the sink writes count against, and why it stopped.
struct SinkState {
    std::uint64_t outputLimit = 0;
    std::uint64_t produced = 0;
    std::uint64_t memberSize = 0;
    std::uint64_t memberProduced = 0;
    std::string fatal;        // non-empty: the archive is lost (limit, peer gone)
    std::string memberFault;  // non-empty: only this member is lost
};

SinkState sinkState;

// The archive's name and the cabinets beside it, found before the helper locks itself:
// after that it opens nothing, so a set's other parts are handed out from here.
struct Surroundings {
    std::string path;                                   // the archive's, from its descriptor
    std::vector<std::pair<std::string, int>> cabinets;  // bare name, descriptor
};

Surroundings surroundings;

// Files of the folder looked at for cabinets, and cabinets kept open.
constexpr std::size_t kMaxFilesLookedAt = 4096;
constexpr std::size_t kMaxCabinetsKept = 2 * kMaxCabinetsInSet;

std::string ArchivePath() {
    return surroundings.path;
}

std::string ArchiveFolder() {
    const std::string path = ArchivePath();
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Whether the archive's name ends in ".cab", in any letter case: such a file is searched for
// its cabinet when it does not start with one (other bytes before it, several cabinets).
bool NamedAsCabinet() {
    const std::string path = ArchivePath();
    return path.size() > 4 && ::strcasecmp(path.c_str() + path.size() - 4, ".cab") == 0;
}

// A cabinet of the set, by the bare name the previous cabinet gives: first as written, then
// in any letter case (the set was made where case does not matter). A descriptor of its own.
int OpenBeside(std::string_view name) {
    if (name.empty() || name.find('/') != std::string_view::npos || name == "." || name == "..") {
        return -1;
    }
    const std::string wanted(name);
    for (const bool exact : {true, false}) {
        for (const auto& [found, fd] : surroundings.cabinets) {
            if (exact ? found == wanted : ::strcasecmp(found.c_str(), wanted.c_str()) == 0) {
                return ::dup(fd);
            }
        }
    }
    return -1;
}

}  // namespace

void PrepareCabinetSet() {
    std::vector<char> buffer(4096);
    const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(kArchiveFd)).c_str(),
                                      buffer.data(), buffer.size() - 1);
    surroundings.path =
        length <= 0 ? std::string() : std::string(buffer.data(), static_cast<std::size_t>(length));
    const std::string folder = ArchiveFolder();
    std::unique_ptr<DIR, int (*)(DIR*)> listing(
        folder.empty() ? nullptr : ::opendir(folder.c_str()), ::closedir);
    if (!listing) {
        return;
    }
    std::size_t looked = 0;
    while (const dirent* entry = ::readdir(listing.get())) {
        if (++looked > kMaxFilesLookedAt || surroundings.cabinets.size() >= kMaxCabinetsKept) {
            break;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        const int fd =
            ::open((folder + name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        struct stat info {};
        char magic[4] = {};
        if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            ::pread(fd, magic, sizeof magic, 0) == 4 && std::memcmp(magic, "MSCF", 4) == 0) {
            surroundings.cabinets.emplace_back(name, fd);
        } else if (fd >= 0) {
            ::close(fd);
        }
    }
}

namespace {

mspack_file* OpenFile(mspack_system*, const char* filename, int mode) {
    auto file = std::make_unique<HostFile>();
    if (mode == MSPACK_SYS_OPEN_WRITE && std::strcmp(filename, kMemberSink) == 0) {
        file->sink = true;
    } else if (mode != MSPACK_SYS_OPEN_READ) {
        return nullptr;  // the helper writes no file
    } else if (std::strcmp(filename, kArchiveName) == 0) {
        file->fd = kArchiveFd;
    } else {
        file->fd = OpenBeside(filename);
        file->owned = true;
        if (file->fd < 0) {
            return nullptr;
        }
    }
    return reinterpret_cast<mspack_file*>(file.release());
}

HostFile* Host(mspack_file* file) {
    return reinterpret_cast<HostFile*>(file);
}

void CloseFile(mspack_file* file) {
    std::unique_ptr<HostFile> host(Host(file));
    if (host && host->owned && host->fd >= 0) {
        ::close(host->fd);
    }
}

int ReadFile(mspack_file* file, void* buffer, int bytes) {
    HostFile* host = Host(file);
    if (host->sink || bytes < 0) {
        return -1;
    }
    ssize_t got;
    while ((got = ::pread(host->fd, buffer, static_cast<std::size_t>(bytes), host->position)) < 0 &&
           errno == EINTR) {
    }
    if (got > 0) {
        host->position += got;
    }
    return static_cast<int>(got);
}

// The member's data to the library, counted against the limits; false when it must stop
// (the reason in sinkState).
bool Sink(std::string_view data) {
    SinkState& state = sinkState;
    state.produced += data.size();
    state.memberProduced += data.size();
    if (state.outputLimit != 0 && state.produced > state.outputLimit) {
        state.fatal = "the archive expands to more than " + std::to_string(state.outputLimit) +
                      " bytes, far beyond its own size: refused as a decompression bomb";
        return false;
    }
    if (state.memberProduced > state.memberSize) {
        state.memberFault = "damaged member: its data runs past its declared size";
        return false;
    }
    while (!data.empty()) {
        const std::size_t piece = std::min(data.size(), kDataFrameSize);
        if (!WriteFrame(kOutput, FrameType::kData, data.substr(0, piece))) {
            state.fatal = "the library is gone";
            return false;
        }
        data.remove_prefix(piece);
    }
    return true;
}

int WriteFile(mspack_file* file, void* buffer, int bytes) {
    if (!Host(file)->sink || bytes < 0) {
        return -1;
    }
    return Sink(std::string_view(static_cast<const char*>(buffer), static_cast<std::size_t>(bytes)))
               ? bytes
               : -1;
}

int SeekFile(mspack_file* file, off_t offset, int mode) {
    HostFile* host = Host(file);
    if (host->sink) {
        return -1;
    }
    off_t base = 0;
    if (mode == MSPACK_SYS_SEEK_CUR) {
        base = host->position;
    } else if (mode == MSPACK_SYS_SEEK_END) {
        struct stat info {};
        if (::fstat(host->fd, &info) != 0) {
            return -1;
        }
        base = info.st_size;
    }
    if (base + offset < 0) {
        return -1;
    }
    host->position = base + offset;
    return 0;
}

off_t TellFile(mspack_file* file) {
    return Host(file)->position;
}

void Message(mspack_file*, const char*, ...) {}

void* Allocate(mspack_system*, std::size_t bytes) {
    return std::malloc(bytes);
}

void Free(void* pointer) {
    std::free(pointer);
}

void Copy(void* source, void* destination, std::size_t bytes) {
    std::memmove(destination, source, bytes);
}

mspack_system hostSystem = {OpenFile, CloseFile, ReadFile, WriteFile, SeekFile, TellFile,
                            Message,  Allocate,  Free,     Copy,      nullptr};

std::string MethodName(int compression) {
    switch (MSCABD_COMP_METHOD(compression)) {
        case MSCAB_COMP_NONE:
            return "Stored";
        case MSCAB_COMP_MSZIP:
            return "MSZIP";
        case MSCAB_COMP_QUANTUM:
            return "Quantum";
        case MSCAB_COMP_LZX:
            return "LZX" + std::to_string(MSCABD_COMP_LEVEL(compression));
        default:
            return "Unknown";
    }
}

std::string ErrorText(int code) {
    switch (code) {
        case MSPACK_ERR_OPEN:
            return "cannot open the cabinet";
        case MSPACK_ERR_READ:
            return "the cabinet ends early";
        case MSPACK_ERR_SEEK:
            return "a place past the end of the cabinet";
        case MSPACK_ERR_NOMEMORY:
            return "out of memory";
        case MSPACK_ERR_SIGNATURE:
            return "not a cabinet";
        case MSPACK_ERR_DATAFORMAT:
            return "damaged cabinet data";
        case MSPACK_ERR_CHECKSUM:
            return "checksum error";
        case MSPACK_ERR_DECRUNCH:
            return "damaged compressed data";
        default:
            return "unreadable (error " + std::to_string(code) + ")";
    }
}

HostMember Describe(const mscabd_file& file) {
    HostMember member;
    member.path = file.filename ? file.filename : "";
    member.kind = MemberKind::kFile;
    member.size = file.length;
    member.mtime = CabinetMemberTime(file);
    member.mode = (file.attribs & MSCAB_ATTRIB_EXEC) ? 0755 : 0644;
    if (file.attribs & MSCAB_ATTRIB_RDONLY) {
        member.mode &= ~0222u;
    }
    member.formatName =
        EncodeCabinetInfo({file.folder ? MethodName(file.folder->comp_type) : "Unknown",
                           static_cast<std::uint32_t>(file.attribs)});
    return member;
}

struct DecompressorDeleter {
    void operator()(mscab_decompressor* decompressor) const {
        mspack_destroy_cab_decompressor(decompressor);
    }
};

std::uint32_t ReadU32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

unsigned ReadU16(const unsigned char* bytes) {
    return bytes[0] | static_cast<unsigned>(bytes[1]) << 8;
}

// A raw inflater, ended with its owner.
struct Inflater {
    Inflater() = default;
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    ~Inflater() {
        if (ready) {
            inflateEnd(&stream);
        }
    }
    z_stream stream{};
    bool ready = false;
};

// The MSZIP and LZX folders of a cabinet that stands alone (no set, no reserved fields) are
// decoded here: MSZIP with zlib, much faster than libmspack's own inflater, LZX with our own
// decoder (faster than libmspack's too). The blocks are read and their checksums checked the
// same way. Every other folder goes to libmspack.
class OwnFolders {
  public:
    // Reads the folder table of the cabinet; nothing is handled here when it is unusual.
    void Open(const mscabd_cabinet& cabinet) {
        unsigned char head[36];
        if (cabinet.prevname || cabinet.nextname ||
            ::pread(kArchiveFd, head, sizeof head, cabinet.base_offset) != sizeof head ||
            ReadU16(head + 30) != 0) {
            return;  // a set, or reserved fields
        }
        const unsigned count = ReadU16(head + 26);
        std::vector<unsigned char> table(std::size_t{count} * 8);
        if (::pread(kArchiveFd, table.data(), table.size(), cabinet.base_offset + 36) !=
            static_cast<ssize_t>(table.size())) {
            return;
        }
        unsigned index = 0;
        for (const mscabd_folder* folder = cabinet.folders; folder && index < count;
             folder = folder->next, ++index) {
            const unsigned char* record = table.data() + std::size_t{index} * 8;
            const int method = MSCABD_COMP_METHOD(folder->comp_type);
            const unsigned windowBits = MSCABD_COMP_LEVEL(folder->comp_type);
            const bool ours =
                method == MSCAB_COMP_MSZIP ||
                (method == MSCAB_COMP_LZX && windowBits >= cab::LzxDecoder::kMinWindowBits &&
                 windowBits <= cab::LzxDecoder::kMaxWindowBits);
            if (ours && ReadU16(record + 4) == folder->num_blocks) {
                places_.push_back({folder, cabinet.base_offset + ReadU32(record),
                                   folder->num_blocks, method == MSCAB_COMP_LZX ? windowBits : 0});
            }
        }
    }

    bool Handles(const mscabd_file& file) const { return Find(file.folder) != nullptr; }

    // Streams the file's data to the sink; "" or the reason it failed.
    std::string Extract(const mscabd_file& file) {
        const Place* place = Find(file.folder);
        if (place != current_ || file.offset < blockStart_) {
            StartFolder(place);
        }
        std::uint64_t at = file.offset;
        std::uint64_t remaining = file.length;
        pending_.clear();
        while (remaining > 0) {
            if (at >= blockStart_ + block_.size()) {
                if (std::string failure = NextBlock(); !failure.empty()) {
                    current_ = nullptr;
                    return failure;
                }
                continue;
            }
            const std::uint64_t inBlock = at - blockStart_;
            const std::size_t take = static_cast<std::size_t>(
                std::min<std::uint64_t>(remaining, block_.size() - inBlock));
            pending_.insert(pending_.end(), block_.begin() + static_cast<std::ptrdiff_t>(inBlock),
                            block_.begin() + static_cast<std::ptrdiff_t>(inBlock + take));
            at += take;
            remaining -= take;
            if ((pending_.size() >= kBatchSize || remaining == 0) && !SinkPending()) {
                current_ = nullptr;
                return "stopped";
            }
        }
        return {};
    }

  private:
    static constexpr std::size_t kBlockSize = 32768;
    // Decoded data goes to the library in batches of several frames: fewer round trips
    // through the socket, and fewer wake-ups of the library waiting for them.
    static constexpr std::size_t kBatchSize = 4 * kDataFrameSize;

    bool SinkPending() {
        const bool sent =
            Sink(std::string_view(reinterpret_cast<const char*>(pending_.data()), pending_.size()));
        pending_.clear();
        return sent;
    }

    struct Place {
        const mscabd_folder* folder;
        off_t dataOffset;
        unsigned blocks;
        unsigned lzxWindowBits;  // 0: MSZIP
    };

    const Place* Find(const mscabd_folder* folder) const {
        for (const Place& place : places_) {
            if (place.folder == folder) {
                return &place;
            }
        }
        return nullptr;
    }

    void StartFolder(const Place* place) {
        current_ = place;
        nextBlock_ = 0;
        nextBlockAt_ = place->dataOffset;
        blockStart_ = 0;
        block_ = {};
        window_.clear();
        if (place->lzxWindowBits != 0) {
            if (!lzx_ || lzxWindowBits_ != place->lzxWindowBits) {
                lzx_ = std::make_unique<cab::LzxDecoder>(place->lzxWindowBits);
                lzxWindowBits_ = place->lzxWindowBits;
            }
            lzx_->Reset();
        }
    }

    std::string NextBlock() {
        if (nextBlock_ >= current_->blocks) {
            return "damaged member: the folder's data ends early";
        }
        const std::span<const unsigned char> record = ReadAt(nextBlockAt_, 8);
        if (record.empty()) {
            return "damaged member: the cabinet ends early";
        }
        unsigned char head[8];
        std::copy(record.begin(), record.end(), head);
        const unsigned packed = ReadU16(head + 4), size = ReadU16(head + 6);
        input_ = ReadAt(nextBlockAt_ + 8, packed);
        if (size > kBlockSize || input_.size() != packed) {
            return "damaged member: damaged cabinet data";
        }
        if (const std::uint32_t declared = ReadU32(head);
            declared != 0 &&
            CabinetBlockChecksum(
                std::string_view(reinterpret_cast<const char*>(head) + 4, 4),
                CabinetBlockChecksum(
                    std::string_view(reinterpret_cast<const char*>(input_.data()), packed), 0)) !=
                declared) {
            return "damaged member: checksum error";
        }
        blockStart_ += block_.size();
        bool decoded;
        if (current_->lzxWindowBits != 0) {
            block_ = lzx_->DecodeFrame(input_, size);
            decoded = !block_.empty();
        } else {
            decoded = Inflate(size);
        }
        if (!decoded) {
            block_ = {};
            return "damaged member: damaged compressed data";
        }
        nextBlockAt_ += 8 + packed;
        ++nextBlock_;
        return {};
    }

    // count bytes of the cabinet at at, read ahead in large pieces (two small reads per
    // block cost more system time than the data); empty when the cabinet ends before. Valid
    // until the next call.
    std::span<const unsigned char> ReadAt(off_t at, std::size_t count) {
        constexpr std::size_t kReadAhead = 1 << 20;
        if (at < readStart_ ||
            at + static_cast<off_t>(count) > readStart_ + static_cast<off_t>(readAhead_.size())) {
            readAhead_.resize(std::max(count, kReadAhead));
            ssize_t got;
            while ((got = ::pread(kArchiveFd, readAhead_.data(), readAhead_.size(), at)) < 0 &&
                   errno == EINTR) {
            }
            readAhead_.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            readStart_ = at;
            if (readAhead_.size() < count) {
                return {};
            }
        }
        return {readAhead_.data() + (at - readStart_), count};
    }

    // One MSZIP block ("CK" and a deflate stream that may refer to the block before) of size
    // bytes.
    bool Inflate(unsigned size) {
        inflated_.resize(size);
        block_ = inflated_;
        if (input_.size() < 2 || input_[0] != 'C' || input_[1] != 'K') {
            return false;
        }
        if (!inflater_.ready) {
            if (inflateInit2(&inflater_.stream, -MAX_WBITS) != Z_OK) {
                return false;
            }
            inflater_.ready = true;
        }
        z_stream* stream = &inflater_.stream;
        inflateReset(stream);
        if (!window_.empty()) {
            inflateSetDictionary(stream, window_.data(), static_cast<uInt>(window_.size()));
        }
        stream->next_in = const_cast<Bytef*>(input_.data() + 2);  // zlib only reads it
        stream->avail_in = static_cast<uInt>(input_.size() - 2);
        stream->next_out = inflated_.data();
        stream->avail_out = static_cast<uInt>(inflated_.size());
        const int result = inflate(stream, Z_FINISH);
        if ((result != Z_STREAM_END && result != Z_BUF_ERROR) || stream->avail_out != 0) {
            return false;
        }
        // The next block may refer to the 32 KiB before it.
        window_.insert(window_.end(), inflated_.begin(), inflated_.end());
        if (window_.size() > kBlockSize) {
            window_.erase(window_.begin(), window_.end() - kBlockSize);
        }
        return true;
    }

    std::vector<Place> places_;
    const Place* current_ = nullptr;
    unsigned nextBlock_ = 0;
    off_t nextBlockAt_ = 0;
    std::uint64_t blockStart_ = 0;          // the folder offset of block_'s first byte
    std::span<const unsigned char> block_;  // the data of the block read last
    std::span<const unsigned char> input_;  // the compressed data of the block read last
    std::vector<unsigned char> inflated_, window_, pending_, readAhead_;
    off_t readStart_ = 0;  // where readAhead_ starts in the cabinet
    Inflater inflater_;
    std::unique_ptr<cab::LzxDecoder> lzx_;
    unsigned lzxWindowBits_ = 0;
};

class CabinetSession {
  public:
    explicit CabinetSession(mscab_decompressor* decompressor) : decompressor_(decompressor) {}

    ~CabinetSession() {
        // Closing a cabinet frees every cabinet joined to it and those after it in a search.
        for (auto it = roots_.rbegin(); it != roots_.rend(); ++it) {
            decompressor_->close(decompressor_, *it);
        }
    }
    CabinetSession(const CabinetSession&) = delete;
    CabinetSession& operator=(const CabinetSession&) = delete;

    // Finds the cabinet and joins the rest of its set; false (reported) when there is none.
    // A cabinet is read at the start of the file, anywhere inside a program (a
    // self-extracting cabinet: the first one found), or, in a file named .cab, after other
    // bytes (every cabinet found, each with its set). Other files are not searched: a ZIP
    // archive holding a cabinet stays a ZIP archive.
    bool Open() {
        char head[4] = {};
        const bool program = ::pread(kArchiveFd, head, sizeof head, 0) == sizeof head &&
                             (std::memcmp(head, "MZ", 2) == 0 || std::memcmp(head,
                                                                             "\x7f"
                                                                             "ELF",
                                                                             4) == 0);
        mscabd_cabinet* found =
            program ? nullptr : decompressor_->open(decompressor_, kArchiveName);
        if (!found && (program || NamedAsCabinet())) {
            // The search checks each candidate's header fields and reads its tables; what
            // does not read as a cabinet is skipped.
            found = decompressor_->search(decompressor_, kArchiveName);
        }
        if (!found) {
            const int code = decompressor_->last_error(decompressor_);
            return Fatal(code == MSPACK_ERR_OK || code == MSPACK_ERR_SIGNATURE
                             ? "not a cabinet"
                             : "not a cabinet: " + ErrorText(code));
        }
        roots_.push_back(found);
        for (mscabd_cabinet* cabinet = found; cabinet;
             cabinet = program ? nullptr : cabinet->next) {
            groups_.push_back(JoinSet(cabinet));
            ownFolders_.Open(*cabinet);
        }
        next_ = groups_.front().files;
        return true;
    }

    bool Next() {
        while (!next_ && group_ + 1 < groups_.size()) {
            next_ = groups_[++group_].files;
        }
        current_ = next_;
        if (!current_) {
            // After an extraction, a missing part that no member runs into (the set is cut
            // between two folders there): what it holds is not even listed, so say so.
            for (const Group& group : groups_) {
                if (!dataAsked_) {
                    break;
                }
                if (!group.previousMissing.empty() && !group.previousContinued) {
                    return Fatal("the set begins before this cabinet, in " + group.previousMissing +
                                 ", which is not beside it");
                }
                if (!group.nextMissing.empty() && !group.nextContinued) {
                    return Fatal("the set goes on in " + group.nextMissing +
                                 ", which is not beside it");
                }
            }
            return WriteFrame(kOutput, FrameType::kEnd, std::string_view());
        }
        next_ = current_->next;
        return WriteFrame(kOutput, FrameType::kMember, EncodeMember(Describe(*current_)));
    }

    bool Data() {
        mscabd_file* file = current_;
        current_ = nullptr;
        dataAsked_ = true;
        if (!file) {
            return WriteFrame(kOutput, FrameType::kMemberError, "no member to read");
        }
        sinkState.memberSize = file->length;
        sinkState.memberProduced = 0;
        sinkState.memberFault.clear();
        if (ownFolders_.Handles(*file)) {
            const std::string failure = ownFolders_.Extract(*file);
            if (!sinkState.fatal.empty()) {
                return Fatal(sinkState.fatal);
            }
            if (!failure.empty()) {
                return WriteFrame(kOutput, FrameType::kMemberError,
                                  sinkState.memberFault.empty() ? failure : sinkState.memberFault);
            }
            return WriteFrame(kOutput, FrameType::kDataEnd, std::string_view());
        }
        const int code = decompressor_->extract(decompressor_, file, kMemberSink);
        if (!sinkState.fatal.empty()) {
            return Fatal(sinkState.fatal);
        }
        if (code != MSPACK_ERR_OK || !sinkState.memberFault.empty() ||
            sinkState.memberProduced != file->length) {
            if (std::string missing = MissingPartOf(*file); !missing.empty()) {
                return WriteFrame(kOutput, FrameType::kMemberError, missing);
            }
        }
        if (!sinkState.memberFault.empty()) {
            return WriteFrame(kOutput, FrameType::kMemberError, sinkState.memberFault);
        }
        if (code != MSPACK_ERR_OK) {
            return WriteFrame(kOutput, FrameType::kMemberError,
                              "damaged member: " + ErrorText(code));
        }
        if (sinkState.memberProduced != file->length) {
            return WriteFrame(kOutput, FrameType::kMemberError,
                              "damaged member: its data ends before its declared size");
        }
        return WriteFrame(kOutput, FrameType::kDataEnd, std::string_view());
    }

    bool Fatal(const std::string& reason) {
        WriteFrame(kOutput, FrameType::kFatal, reason);
        return false;
    }

  private:
    // A cabinet found in the file with the cabinets of its set joined to it.
    struct Group {
        mscabd_file* files = nullptr;  // from the set's first cabinet that is there
        const mscabd_folder* firstFolder = nullptr;
        const mscabd_folder* lastFolder = nullptr;
        std::string previousMissing, nextMissing;  // the parts that are not beside it
        // Whether a member runs into the missing part (its folder goes on there).
        bool previousContinued = false, nextContinued = false;
    };

    // Joins the cabinets before (each names the one before it) and after; a cabinet that is
    // not beside it, or does not continue the set, ends the set on that side.
    Group JoinSet(mscabd_cabinet* found) {
        Group group;
        mscabd_cabinet* first = found;
        for (int count = 1; first->prevname && count < kMaxCabinetsInSet; ++count) {
            mscabd_cabinet* previous = decompressor_->open(decompressor_, first->prevname);
            if (!previous) {
                group.previousMissing = first->prevname;
                break;
            }
            if (decompressor_->prepend(decompressor_, first, previous) != MSPACK_ERR_OK) {
                roots_.push_back(previous);  // not joined: closed on its own
                group.previousMissing = first->prevname;
                break;
            }
            first = previous;
        }
        mscabd_cabinet* last = found;
        for (int count = 1; last->nextname && count < kMaxCabinetsInSet; ++count) {
            mscabd_cabinet* next = decompressor_->open(decompressor_, last->nextname);
            if (!next) {
                group.nextMissing = last->nextname;
                break;
            }
            if (decompressor_->append(decompressor_, last, next) != MSPACK_ERR_OK) {
                roots_.push_back(next);
                group.nextMissing = last->nextname;
                break;
            }
            last = next;
        }
        group.previousContinued = !group.previousMissing.empty() && MarksContinuation(*first, true);
        group.nextContinued = !group.nextMissing.empty() && MarksContinuation(*last, false);
        // Joined cabinets share one list of members and one of folders.
        group.files = first->files;
        group.firstFolder = first->folders;
        for (const mscabd_folder* folder = first->folders; folder; folder = folder->next) {
            group.lastFolder = folder;
        }
        return group;
    }

    // Why a member that failed could not be read when its data lies in a part of the set
    // that is missing (its folder begins before the first part there, or goes on after the
    // last); "" when that is not the cause.
    std::string MissingPartOf(const mscabd_file& file) const {
        const Group& group = groups_[group_];
        if (group.previousContinued && file.folder == group.firstFolder) {
            return "continued from " + group.previousMissing + ", which is not beside it";
        }
        if (group.nextContinued && file.folder == group.lastFolder) {
            return "goes on in " + group.nextMissing + ", which is not beside it";
        }
        return {};
    }

    // Whether one of the cabinet's member records says it is continued from the cabinet
    // before (fromPrevious) or goes on in the next one: the folder numbers 0xFFFD to 0xFFFF,
    // which the decoder does not pass on.
    static bool MarksContinuation(const mscabd_cabinet& cabinet, bool fromPrevious) {
        const bool ours = std::strcmp(cabinet.filename, kArchiveName) == 0;
        const int fd = ours ? kArchiveFd : OpenBeside(cabinet.filename);
        if (fd < 0) {
            return false;
        }
        unsigned char head[36] = {};
        std::vector<unsigned char> records;
        if (::pread(fd, head, sizeof head, cabinet.base_offset) == sizeof head) {
            // The table of member records: 16 bytes and a name of at most 256 each.
            const std::uint32_t recordsAt = ReadU32(head + 16);
            records.resize(std::min<std::size_t>(
                std::size_t{ReadU16(head + 28)} * (16 + 256),
                ReadU32(head + 8) > recordsAt ? ReadU32(head + 8) - recordsAt : 0));
            const ssize_t got =
                ::pread(fd, records.data(), records.size(), cabinet.base_offset + recordsAt);
            records.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        }
        if (!ours) {
            ::close(fd);
        }
        const unsigned count = ReadU16(head + 28);
        for (std::size_t at = 0, index = 0; index < count && at + 16 < records.size(); ++index) {
            const unsigned folder = ReadU16(records.data() + at + 8);
            if (folder == 0xFFFF || folder == (fromPrevious ? 0xFFFDu : 0xFFFEu)) {
                return true;
            }
            const auto end =
                std::find(records.begin() + static_cast<std::ptrdiff_t>(at + 16), records.end(), 0);
            at = static_cast<std::size_t>(end - records.begin()) + 1;
        }
        return false;
    }

    mscab_decompressor* decompressor_;
    std::vector<mscabd_cabinet*> roots_;  // each closed once, with whatever is joined to it
    std::vector<Group> groups_;
    std::size_t group_ = 0;
    bool dataAsked_ = false;  // a member's data was asked for: an extraction or a test
    OwnFolders ownFolders_;
    mscabd_file* next_ = nullptr;
    mscabd_file* current_ = nullptr;
};

}  // namespace

int RunCabinetSession(std::uint64_t outputLimit) {
    sinkState.outputLimit = outputLimit;
    std::unique_ptr<mscab_decompressor, DecompressorDeleter> decompressor(
        mspack_create_cab_decompressor(&hostSystem));
    if (!decompressor) {
        WriteFrame(kOutput, FrameType::kFatal, "the helper cannot read cabinets");
        return 2;
    }
    // A larger input buffer: fewer reads of the cabinet.
    decompressor->set_param(decompressor.get(), MSCABD_PARAM_DECOMPBUF, 64 * 1024);
    CabinetSession session(decompressor.get());
    if (!session.Open()) {
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
        const bool goOn = command == static_cast<char>(Command::kNext)   ? session.Next()
                          : command == static_cast<char>(Command::kData) ? session.Data()
                                                                         : false;
        if (!goOn) {
            return 0;
        }
    }
}

}  // namespace zembrat::archive_host
