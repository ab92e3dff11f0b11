#include <libdeflate.h>

#include "decoders.h"
#include "dos_time.h"
#include "headers.h"
#include "member_streams.h"

namespace zembrat::arj {

namespace {

// Volume numbers run to .a99 and then .100 ... .999.
constexpr std::size_t kMaxVolumes = 999;

// Computes the CRC-32 of what passes through it.
class Crc32Output final : public OutputStream {
  public:
    explicit Crc32Output(OutputStream& output) : output_(output) {}
    void Write(std::span<const std::byte> data) override {
        crc_ = Crc32(data, crc_);
        output_.Write(data);
    }
    std::uint32_t Crc() const { return crc_; }

  private:
    OutputStream& output_;
    std::uint32_t crc_ = 0;
};

MainHeader ReadMainHeader(SeekableInput& input, std::uint64_t offset, std::uint64_t& next) {
    std::optional<RawHeader> raw = ReadHeader(input, offset);
    if (!raw || raw->fileType != kTypeMain) {
        throw Error(ErrorKind::kFormat, "no ARJ main header");
    }
    next = raw->dataOffset;
    return MainHeader{raw->name, raw->comment, raw->hostOs, raw->flags, raw->timeStamp};
}

Section SectionOf(const RawHeader& raw, std::size_t volume, SeekableInput& input) {
    if (raw.dataOffset + raw.compressedSize > input.Size()) {
        throw Error(ErrorKind::kTruncated, "archive ends inside member data");
    }
    return Section{volume,           raw.method, raw.dataOffset,     raw.compressedSize,
                   raw.originalSize, raw.crc,    raw.extFilePosition};
}

}  // namespace

std::int64_t Member::UnixTime() const {
    return hostOs == kHostUnix ? static_cast<std::int64_t>(timeStamp)
                               : lha::DosTimeToUnix(timeStamp);
}

std::uint32_t Crc32(std::span<const std::byte> data, std::uint32_t crc) {
    return libdeflate_crc32(crc, data.data(), data.size());
}

struct Reader::State {
    SeekableInput& first;
    std::uint64_t start;
    VolumeOpener openVolume;
    MainHeader main;
    std::vector<std::unique_ptr<SeekableInput>> later;  // volumes 1, 2, ... at [0], [1], ...
    std::size_t volume = 0;                             // the volume the next header is in
    bool volumeContinues = false;  // its main header says another volume follows
    std::uint64_t next = 0;
    bool ended = false;

    SeekableInput& Volume(std::size_t index) {
        if (index == 0) {
            return first;
        }
        if (!later[index - 1]) {
            throw Error(ErrorKind::kFormat, "volume " + std::to_string(index) + " was closed");
        }
        return *later[index - 1];
    }

    // Opens the volume after the current one and reads its main header.
    void EnterNextVolume() {
        const std::size_t index = volume + 1;
        if (index > kMaxVolumes) {
            throw Error(ErrorKind::kFormat, "more volumes than a set can have");
        }
        if (later.size() < index) {
            later.resize(index);
        }
        if (!later[index - 1]) {
            later[index - 1] = openVolume ? openVolume(index) : nullptr;
            if (!later[index - 1]) {
                throw Error(ErrorKind::kTruncated,
                            "volume " + std::to_string(index) + " of the set is missing");
            }
        }
        volume = index;
        volumeContinues = (ReadMainHeader(Volume(index), 0, next).flags & kFlagVolume) != 0;
    }
};

Reader::Reader(SeekableInput& input, std::uint64_t start, VolumeOpener openVolume)
    : state_(std::make_unique<State>(State{input, start, std::move(openVolume), {}, {}})) {
    Restart();
}

Reader::~Reader() = default;

const MainHeader& Reader::Main() const {
    return state_->main;
}

void Reader::Restart() {
    State& s = *state_;
    s.main = ReadMainHeader(s.first, s.start, s.next);
    s.volume = 0;
    s.volumeContinues = (s.main.flags & kFlagVolume) != 0;
    s.ended = false;
}

std::optional<Member> Reader::Next() {
    State& s = *state_;
    if (s.ended) {
        return std::nullopt;
    }
    // Only the volumes from the one the next member starts in stay open.
    for (std::size_t i = 0; i + 1 < s.volume && i < s.later.size(); ++i) {
        s.later[i].reset();
    }
    std::optional<RawHeader> raw = ReadHeader(s.Volume(s.volume), s.next);
    while (!raw && s.volumeContinues && s.openVolume) {
        s.EnterNextVolume();
        raw = ReadHeader(s.Volume(s.volume), s.next);
    }
    if (!raw) {
        s.ended = true;
        return std::nullopt;
    }
    Member member;
    member.name = raw->name;
    member.comment = raw->comment;
    member.hostOs = raw->hostOs;
    member.flags = raw->flags;
    member.method = raw->method;
    member.fileType = raw->fileType;
    member.timeStamp = raw->timeStamp;
    member.accessMode = raw->accessMode;
    member.crc = raw->crc;
    member.headerOffset = raw->offset;
    member.sections.push_back(SectionOf(*raw, s.volume, s.Volume(s.volume)));
    s.next = raw->dataOffset + raw->compressedSize;
    std::uint64_t whole = raw->originalSize;
    std::uint8_t flags = raw->flags;
    while ((flags & kFlagVolume) != 0 && s.openVolume && !member.IsDirectory()) {
        s.EnterNextVolume();
        std::optional<RawHeader> part = ReadHeader(s.Volume(s.volume), s.next);
        if (!part || (part->flags & kFlagExtFile) == 0 || part->name != member.name ||
            part->extFilePosition != whole) {
            throw Error(ErrorKind::kFormat, "volume " + std::to_string(s.volume) +
                                                " does not go on with the member before it");
        }
        member.sections.push_back(SectionOf(*part, s.volume, s.Volume(s.volume)));
        s.next = part->dataOffset + part->compressedSize;
        whole += part->originalSize;
        flags = part->flags;
    }
    for (const Section& section : member.sections) {
        member.compressedSize += section.compressedSize;
        member.originalSize += section.originalSize;
    }
    return member;
}

void Reader::Extract(const Member& member, OutputStream& out, const ProgressFn& progress) {
    if (member.IsDirectory()) {
        return;
    }
    if (member.IsGarbled()) {
        throw Error(ErrorKind::kUnsupportedMethod, "encrypted, not supported");
    }
    std::uint64_t done = 0;
    for (const Section& section : member.sections) {
        const DecodeFunction decode = FindDecoder(section.method);
        if (!decode) {
            throw Error(ErrorKind::kUnsupportedMethod,
                        "unsupported method " + std::to_string(section.method));
        }
        const ProgressFn sectionProgress =
            progress ? ProgressFn([&](std::uint64_t count, std::uint64_t) {
                return progress(done + count, member.originalSize);
            })
                     : ProgressFn();
        SeekableInput& input = state_->Volume(section.volume);
        input.Seek(section.dataOffset);
        Crc32Output crc(out);
        lha::CheckedOutput checked(crc, section.originalSize, sectionProgress, false);
        try {
            decode(input, section.compressedSize, section.originalSize, checked);
        } catch (const Error& error) {
            // The data lies inside the file (Next() checked), so a stream that runs out of
            // bits is a broken member, not a cut archive: the next header is still there.
            if (error.Kind() != ErrorKind::kTruncated) {
                throw;
            }
            throw Error(ErrorKind::kCorruptData, error.what());
        }
        if (checked.Count() != section.originalSize) {
            throw Error(ErrorKind::kCorruptData, "decoded data shorter than the member");
        }
        if (crc.Crc() != section.crc) {
            throw Error(ErrorKind::kCrc, "CRC mismatch");
        }
        done += section.originalSize;
    }
}

}  // namespace zembrat::arj
