// Reads an archive member by member.
#include <array>
#include <thread>
#include <vector>

#include "decoder.h"
#include "embedded.h"
#include "header.h"
#include "member_streams.h"

namespace zembrat::lha {

struct Reader::State {
    explicit State(SeekableInput& in) : input(in) {}
    SeekableInput& input;
    std::uint64_t start = 0;
    std::uint64_t nextHeader = 0;
    std::optional<Member> current;
    bool ended = false;
};

namespace {

constexpr std::uint64_t kBackgroundBytes = std::uint64_t{4} << 20;

bool HeaderParsesAt(SeekableInput& input, std::uint64_t offset) {
    try {
        return ReadHeader(input, offset).has_value();
    } catch (const Error&) {
        return false;
    }
}

}  // namespace

Reader::Reader(SeekableInput& input, ReaderOptions options)
    : state_(std::make_unique<State>(input)) {
    std::uint64_t size = input.Size();
    if (size == 0) {
        throw Error(ErrorKind::kFormat, "empty file, no archive");
    }
    std::byte first{};
    input.Seek(0);
    if (input.Read(std::span(&first, 1)) != 1) {
        throw Error(ErrorKind::kIo, "cannot read the archive");
    }
    if (first == std::byte{0} && size == 1) {
        return;  // an archive with no members: only the end mark
    }
    if (HeaderParsesAt(input, 0)) {
        return;
    }
    // A file that starts like a header is an archive whose first header is damaged: report
    // that, rather than skip to a later member found by the search.
    std::array<std::byte, 21> start{};
    input.Seek(0);
    bool startsLikeHeader = input.Read(start) == start.size() && start[2] == std::byte{'-'} &&
                            start[3] == std::byte{'l'} && start[6] == std::byte{'-'} &&
                            std::to_integer<int>(start[20]) <= 3;
    if (options.searchEmbedded && !startsLikeHeader) {
        if (auto found = FindEmbeddedArchive(input)) {
            state_->start = state_->nextHeader = *found;
            return;
        }
    }
    // Report the reason the first header failed, or that there is none.
    if (first != std::byte{0}) {
        ReadHeader(input, 0);
    }
    throw Error(ErrorKind::kFormat, "no LHA archive found");
}

Reader::~Reader() = default;

std::uint64_t Reader::ArchiveStart() const {
    return state_->start;
}

std::optional<Member> Reader::Next() {
    State& s = *state_;
    if (s.ended) {
        return std::nullopt;
    }
    if (s.current) {
        s.nextHeader = s.current->dataOffset + s.current->compressedSize;
    }
    s.current.reset();
    auto member = ReadHeader(s.input, s.nextHeader);
    if (!member) {
        s.ended = true;
        return std::nullopt;
    }
    s.current = member;
    return member;
}

void Reader::Extract(OutputStream& out, const ProgressFn& progress) {
    State& s = *state_;
    if (!s.current) {
        throw std::logic_error("Reader::Extract without a current member");
    }
    const Member& m = *s.current;
    DecodeFunction decode = FindDecoder(m.method);
    if (decode == nullptr) {
        throw Error(ErrorKind::kUnsupportedMethod, "unsupported method " + m.method);
    }
    s.input.Seek(m.dataOffset);
    BoundedInput data(s.input, m.compressedSize);
    std::uint16_t crc = 0;
    std::uint64_t count = 0;
    if (m.originalSize >= kBackgroundBytes && std::thread::hardware_concurrency() > 1) {
        // Large members are checked and written on a second thread while decoding goes on.
        BackgroundCrcOutput background(out);
        CheckedOutput checked(background, m.originalSize, progress, false);
        decode(data, m.compressedSize, m.originalSize, checked);
        background.Finish();
        crc = background.Crc();
        count = checked.Count();
    } else {
        CheckedOutput checked(out, m.originalSize, progress);
        decode(data, m.compressedSize, m.originalSize, checked);
        crc = checked.Crc();
        count = checked.Count();
    }
    if (count != m.originalSize) {
        throw Error(ErrorKind::kCorruptData, "decoded data shorter than the member");
    }
    if (m.method != "-lhd-" && crc != m.crc) {
        throw Error(ErrorKind::kCrc, "CRC mismatch in " + m.path);
    }
}

void Reader::CopyRaw(OutputStream& out) {
    State& s = *state_;
    if (!s.current) {
        throw std::logic_error("Reader::CopyRaw without a current member");
    }
    const Member& m = *s.current;
    std::uint64_t left = m.dataOffset + m.compressedSize - m.headerOffset;
    s.input.Seek(m.headerOffset);
    std::vector<std::byte> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(left, 1 << 18)));
    while (left > 0) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        std::size_t got = s.input.Read(std::span(buffer).first(want));
        if (got == 0) {
            throw Error(ErrorKind::kTruncated, "archive ends inside member data");
        }
        out.Write(std::span(buffer).first(got));
        left -= got;
    }
}

}  // namespace zembrat::lha
