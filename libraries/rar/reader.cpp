// Members in order over the volumes of a set, and their decoding: stored members are copied,
// the others go through the stream's Unpacker, members of a solid stream in order.
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "common/unique_fd.h"
#include "headers.h"
#include "unpacker.h"

namespace zembrat::rar {

namespace {

constexpr std::uint8_t kSignature[kSignatureSize] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
constexpr std::uint8_t kNewerSignature[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
// How far into a self-extracting program the archive is looked for.
constexpr std::uint64_t kSfxSearchLimit = 16u << 20;
constexpr std::uint8_t kMethodStored = 0x30;

class FileInput final : public Input {
  public:
    explicit FileInput(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat info {};
        if (!fd_.Valid() || ::fstat(fd_.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
            throw Error(ErrorKind::kFormat, "cannot open " + path + ": " + std::strerror(errno));
        }
        size_ = static_cast<std::uint64_t>(info.st_size);
    }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> data) override {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t got = ::pread(fd_.Get(), data.data() + done, data.size() - done,
                                        static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            done += static_cast<std::size_t>(got);
        }
        return done;
    }
    std::uint64_t Size() const override { return size_; }

  private:
    common::UniqueFd fd_;
    std::uint64_t size_ = 0;
};

class BytesInput final : public Input {
  public:
    explicit BytesInput(std::span<const std::byte> data) : data_(data) {}
    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> out) override {
        if (offset >= data_.size()) {
            return 0;
        }
        const std::size_t n = std::min<std::uint64_t>(out.size(), data_.size() - offset);
        std::memcpy(out.data(), data_.data() + offset, n);
        return n;
    }
    std::uint64_t Size() const override { return data_.size(); }

  private:
    std::span<const std::byte> data_;
};

bool MainHeaderAt(Input& input, std::uint64_t offset) {
    try {
        const auto block = ReadBlock(input, offset + kSignatureSize);
        return block && block->type == kBlockMain && block->crcOk;
    } catch (const Error&) {
        return false;
    }
}

}  // namespace

std::unique_ptr<Input> OpenFile(const std::string& path) {
    return std::make_unique<FileInput>(path);
}

std::unique_ptr<Input> MemoryInput(std::span<const std::byte> data) {
    return std::make_unique<BytesInput>(data);
}

std::uint32_t Crc32(std::span<const std::byte> data, std::uint32_t crc) {
    return libdeflate_crc32(crc, data.data(), data.size());
}

std::optional<std::uint64_t> FindArchive(Input& input, bool* newer) {
    if (newer != nullptr) {
        *newer = false;
    }
    std::vector<std::uint8_t> chunk(1 << 16);
    const std::uint64_t limit = std::min(input.Size(), kSfxSearchLimit);
    for (std::uint64_t base = 0; base < limit; base += chunk.size() - 8) {
        const std::size_t got = input.ReadAt(base, std::as_writable_bytes(std::span(chunk)));
        if (got < kSignatureSize) {
            break;
        }
        for (std::size_t at = 0; at + kSignatureSize <= got; ++at) {
            const auto found = std::find(chunk.begin() + at, chunk.begin() + got, 'R');
            at = static_cast<std::size_t>(found - chunk.begin());
            if (at + kSignatureSize > got) {
                break;
            }
            // At the start of the file the signature alone makes an archive; further in, a
            // program's bytes could hold it by chance, and a main header must follow.
            if (std::memcmp(chunk.data() + at, kSignature, kSignatureSize) == 0 &&
                (base + at == 0 || MainHeaderAt(input, base + at))) {
                return base + at;
            }
            if (at + 8 <= got && std::memcmp(chunk.data() + at, kNewerSignature, 8) == 0) {
                if (newer != nullptr) {
                    *newer = true;
                }
                return std::nullopt;
            }
        }
        if (got < chunk.size()) {
            break;
        }
    }
    return std::nullopt;
}

struct Reader::State {
    std::vector<std::unique_ptr<Input>> volumes;
    VolumeOpener openVolume;
    VolumeNamer nameVolume;
    MainHeader main;
    std::uint64_t firstBlock = 0;  // after the first volume's main header
    // Where Next() goes on.
    std::size_t volume = 0;
    std::uint64_t offset = 0;
    bool ended = false;
    std::vector<Member> members;  // every member Next() gave, by index
    std::size_t nextIndex = 0;
    std::unique_ptr<Unpacker> unpacker;
    std::optional<std::size_t> lastDecoded;  // the member the unpacker decoded last, whole

    Input* Volume(std::size_t index) {
        while (volumes.size() <= index) {
            std::unique_ptr<Input> next = openVolume ? openVolume(volumes.size()) : nullptr;
            if (!next) {
                return nullptr;
            }
            volumes.push_back(std::move(next));
        }
        return volumes[index].get();
    }

    std::string VolumeName(std::size_t index) const {
        return nameVolume ? nameVolume(index) : "volume " + std::to_string(index + 1);
    }

    // The offset of the first block after a later volume's main header.
    std::uint64_t StartOfVolume(std::size_t index) {
        Input& input = *Volume(index);
        const std::optional<std::uint64_t> start = FindArchive(input);
        if (!start) {
            throw Error(ErrorKind::kFormat, VolumeName(index) + " is not a volume of the set");
        }
        const auto block = ReadBlock(input, *start + kSignatureSize);
        return block && block->type == kBlockMain ? block->offset + block->headerSize
                                                  : *start + kSignatureSize;
    }

    // Opens the volume after `index`; throws when it is missing.
    std::uint64_t NextVolume(std::size_t index) {
        if (Volume(index + 1) == nullptr) {
            throw Error(ErrorKind::kVolume, "the volume " + VolumeName(index + 1) +
                                                " is missing (the set continues after " +
                                                VolumeName(index) + ")");
        }
        return StartOfVolume(index + 1);
    }
};

Reader::Reader(std::unique_ptr<Input> first, VolumeOpener openVolume, VolumeNamer nameVolume)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.openVolume = std::move(openVolume);
    s.nameVolume = std::move(nameVolume);
    bool newer = false;
    const std::optional<std::uint64_t> start = FindArchive(*first, &newer);
    if (!start) {
        throw Error(ErrorKind::kFormat,
                    newer ? "an archive of the newer format (RAR5)" : "not a RAR archive");
    }
    s.main.archiveStart = *start;
    s.firstBlock = *start + kSignatureSize;
    const auto main = ReadBlock(*first, s.firstBlock);
    if (main && main->type == kBlockMain) {
        s.main.flags = main->flags;
        if ((main->flags & kMainEncryptedHeaders) != 0) {
            throw Error(ErrorKind::kFormat, "encrypted headers");
        }
        s.firstBlock = main->offset + main->headerSize;
    }
    s.volumes.push_back(std::move(first));
    Restart();
}

Reader::~Reader() = default;

const MainHeader& Reader::Main() const {
    return state_->main;
}

void Reader::Restart() {
    State& s = *state_;
    s.volume = 0;
    s.offset = s.firstBlock;
    s.ended = false;
    s.nextIndex = 0;
}

std::optional<Member> Reader::Next() {
    State& s = *state_;
    while (!s.ended) {
        Input& input = *s.Volume(s.volume);
        const std::optional<Block> block = ReadBlock(input, s.offset);
        const bool volumeEnds = !block || block->type == kBlockEnd;
        if (volumeEnds) {
            const bool more = block && (block->flags & kEndNextVolume) != 0 && block->crcOk;
            if ((s.main.flags & kMainVolume) == 0 || (!more && s.Volume(s.volume + 1) == nullptr)) {
                s.ended = true;
                break;
            }
            s.offset = s.NextVolume(s.volume);
            ++s.volume;
            continue;
        }
        const std::uint64_t next = block->offset + block->headerSize + block->dataSize;
        if (next < block->offset || block->dataSize > input.Size()) {
            s.ended = true;  // a size no volume can hold
        }
        s.offset = next;
        if (block->type != kBlockFile) {
            continue;  // comments, service data, authenticity and recovery records
        }
        if (!block->crcOk) {
            throw Error(ErrorKind::kFormat, "a damaged file header (its CRC does not match)");
        }
        Member member = ParseFileBlock(*block);
        if ((member.flags & kFileContinuedFromPrevious) != 0 && s.nextIndex == 0 && s.volume == 0) {
            // The first volume given starts inside a member: its rest cannot be decoded.
            continue;
        }
        member.parts.push_back({s.volume, block->offset + block->headerSize, block->dataSize});
        std::uint16_t flags = member.flags;
        while ((flags & kFileContinuesInNext) != 0) {
            const std::uint64_t at = s.NextVolume(s.volume);
            ++s.volume;
            Input& next = *s.Volume(s.volume);
            std::optional<Block> part = ReadBlock(next, at);
            while (part && part->type != kBlockFile && part->type != kBlockEnd) {
                part = ReadBlock(next, part->offset + part->headerSize + part->dataSize);
            }
            if (!part || part->type != kBlockFile || !part->crcOk) {
                throw Error(ErrorKind::kFormat, s.VolumeName(s.volume) +
                                                    " does not continue the member " + member.name);
            }
            const Member continued = ParseFileBlock(*part);
            if ((continued.flags & kFileContinuedFromPrevious) == 0) {
                throw Error(ErrorKind::kFormat, s.VolumeName(s.volume) +
                                                    " does not continue the member " + member.name);
            }
            member.parts.push_back({s.volume, part->offset + part->headerSize, part->dataSize});
            member.packedSize += part->dataSize;
            member.crc = continued.crc;
            flags = continued.flags;
            s.offset = part->offset + part->headerSize + part->dataSize;
        }
        member.index = s.nextIndex++;
        if (s.members.size() <= member.index) {
            s.members.push_back(member);
        }
        return member;
    }
    return std::nullopt;
}

namespace {

// The packed bytes of a member, part after part.
class PartsSource {
  public:
    using VolumeFn = std::function<Input*(std::size_t)>;
    PartsSource(VolumeFn volume, const Member& member)
        : volume_(std::move(volume)), member_(member) {}

    std::size_t Read(std::span<std::uint8_t> out) {
        while (part_ < member_.parts.size()) {
            const Part& part = member_.parts[part_];
            if (done_ >= part.size) {
                ++part_;
                done_ = 0;
                continue;
            }
            Input* input = volume_(part.volume);
            const std::size_t want = std::min<std::uint64_t>(out.size(), part.size - done_);
            const std::size_t got =
                input == nullptr
                    ? 0
                    : input->ReadAt(part.offset + done_, std::as_writable_bytes(out.first(want)));
            if (got == 0) {
                part_ = member_.parts.size();  // the volume ends early
                return 0;
            }
            done_ += got;
            return got;
        }
        return 0;
    }

  private:
    VolumeFn volume_;
    const Member& member_;
    std::size_t part_ = 0;
    std::uint64_t done_ = 0;
};

// Whether the member goes through the stream's decoder. An empty member with no packed data
// leaves the stream as it is.
bool HasData(const Member& member) {
    return !member.IsDirectory() && !member.IsEncrypted() && member.method != kMethodStored &&
           member.packedSize != 0;
}

}  // namespace

void Reader::Extract(const Member& member, const DataSink& sink, const ProgressFn& progress) {
    State& s = *state_;
    if (member.IsEncrypted()) {
        throw Error(ErrorKind::kMember, "encrypted, not supported");
    }
    if (member.IsDirectory()) {
        return;
    }
    std::uint32_t crc = 0;
    std::uint64_t done = 0;
    std::uint64_t lastReport = 0;
    const auto deliver = [&](std::span<const std::uint8_t> data) {
        const auto bytes = std::as_bytes(data);
        crc = Crc32(bytes, crc);
        done += data.size();
        sink(bytes);
        if (progress && done - lastReport >= (1u << 16)) {
            lastReport = done;
            if (!progress(done, member.size)) {
                throw Error(ErrorKind::kAborted, "stopped");
            }
        }
    };
    if (member.packedSize == 0) {
        // Nothing to decode: an empty member is sound, a longer one fails its size below.
    } else if (member.method == kMethodStored) {
        PartsSource source([&s](std::size_t v) { return s.Volume(v); }, member);
        std::vector<std::uint8_t> buffer(1 << 16);
        while (const std::size_t got = source.Read(buffer)) {
            const std::size_t room = static_cast<std::size_t>(
                std::min<std::uint64_t>(got, member.size - std::min(member.size, done)));
            deliver(std::span(buffer).first(room));
        }
    } else {
        if (member.method < kMethodStored || member.method > 0x35) {
            throw Error(ErrorKind::kMember, "unknown method " + std::to_string(member.method));
        }
        if (!s.unpacker) {
            s.unpacker = std::make_unique<Unpacker>();
        }
        const auto decode = [&](const Member& one, const ByteSink& out) {
            PartsSource source([&s](std::size_t v) { return s.Volume(v); }, one);
            const PackedSource read = [&source](std::span<std::uint8_t> into) {
                return source.Read(into);
            };
            s.lastDecoded.reset();
            s.unpacker->Decode(one.version, one.IsSolid(), read, one.size, out);
            s.lastDecoded = one.index;
        };
        if (member.IsSolid() && member.index > 0 &&
            (!s.lastDecoded || *s.lastDecoded + 1 != member.index)) {
            // The members before it in the stream, from its start, without writing them.
            std::size_t first = member.index;
            while (first > 0) {
                --first;
                const Member& before = s.members[first];
                if (HasData(before) && !before.IsSolid()) {
                    break;
                }
            }
            if (s.lastDecoded && *s.lastDecoded >= first && *s.lastDecoded < member.index) {
                first = *s.lastDecoded + 1;
            }
            const ByteSink discard = [](std::span<const std::uint8_t>) {};
            for (std::size_t k = first; k < member.index; ++k) {
                const Member& before = s.members[k];
                if (!HasData(before)) {
                    continue;
                }
                try {
                    decode(before, discard);
                } catch (const Error& error) {
                    if (error.Kind() == ErrorKind::kMember) {
                        throw Error(ErrorKind::kMember, "the member " + before.name +
                                                            " before it in the solid stream "
                                                            "cannot be decoded: " +
                                                            error.what());
                    }
                    throw;
                }
            }
        }
        decode(member, [&](std::span<const std::uint8_t> data) { deliver(data); });
    }
    if (progress && !progress(done, member.size)) {
        throw Error(ErrorKind::kAborted, "stopped");
    }
    if (done != member.size) {
        s.lastDecoded.reset();
        throw Error(ErrorKind::kMember, "the data is damaged (" + std::to_string(done) + " of " +
                                            std::to_string(member.size) + " bytes decoded)");
    }
    if (crc != member.crc) {
        throw Error(ErrorKind::kMember, "CRC error");
    }
}

}  // namespace zembrat::rar
