// Writes an archive: a header placeholder, the data, then the header patched with sizes and CRC.
//
// When compression does not make a member smaller it is stored instead, which needs its data a
// second time: a SeekableInput is rewound; any other input is copied to an anonymous temporary
// file while it is compressed (memory stays flat either way).
#include <optional>

#include "encoder.h"
#include "header.h"
#include "member_streams.h"
#include "name_codec.h"
#include "temp_spool.h"

namespace zembrat::lha {

struct Writer::State {
    State(SeekableOutput& out, WriterOptions opts) : output(out), options(std::move(opts)) {}
    SeekableOutput& output;
    WriterOptions options;
    bool finished = false;
};

namespace {

constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;

struct NotSmaller {};

// Passes data on while its total stays below a limit; beyond it, compression has not paid.
class LimitedOutput final : public OutputStream {
  public:
    LimitedOutput(OutputStream& output, std::uint64_t limit) : output_(output), limit_(limit) {}
    void Write(std::span<const std::byte> data) override {
        if (data.size() > limit_ - count_) {
            throw NotSmaller{};
        }
        output_.Write(data);
        count_ += data.size();
    }
    std::uint64_t Count() const { return count_; }

  private:
    OutputStream& output_;
    std::uint64_t limit_;
    std::uint64_t count_ = 0;
};

// Reads from another input while computing the CRC, reporting progress (at least every
// kProgressPiece bytes, whatever pieces the encoder asks for) and optionally keeping a copy.
class TrackedInput final : public InputStream {
  public:
    TrackedInput(InputStream& input, std::uint64_t total, const ProgressFn& progress,
                 TempSpool* copy)
        : input_(input), total_(total), progress_(progress), copy_(copy) {}
    std::size_t Read(std::span<std::byte> buffer) override {
        if (progress_ && buffer.size() > kProgressPiece) {
            buffer = buffer.first(kProgressPiece);
        }
        std::size_t got = input_.Read(buffer);
        auto data = buffer.first(got);
        crc_ = Crc16(data, crc_);
        count_ += got;
        if (copy_ != nullptr) {
            copy_->Write(data);
        }
        if (got > 0 && progress_ && !progress_(count_, total_)) {
            throw Aborted();
        }
        return got;
    }
    std::uint16_t Crc() const { return crc_; }

  private:
    InputStream& input_;
    std::uint64_t total_;
    const ProgressFn& progress_;
    TempSpool* copy_;
    std::uint64_t count_ = 0;
    std::uint16_t crc_ = 0;
};

// What was spooled, then the rest of the original input.
class SpoolThenRest final : public InputStream {
  public:
    SpoolThenRest(TempSpool& spool, InputStream& rest) : spool_(spool), rest_(rest) {
        spool_.Rewind();
    }
    std::size_t Read(std::span<std::byte> buffer) override {
        if (!spoolDone_) {
            std::size_t got = spool_.Read(buffer);
            if (got > 0) {
                return got;
            }
            spoolDone_ = true;
        }
        return rest_.Read(buffer);
    }

  private:
    TempSpool& spool_;
    InputStream& rest_;
    bool spoolDone_ = false;
};

void WriteAll(SeekableOutput& output, std::uint64_t at, const std::vector<std::byte>& bytes) {
    output.Seek(at);
    output.Write(bytes);
}

}  // namespace

Writer::Writer(SeekableOutput& output, WriterOptions options)
    : state_(std::make_unique<State>(output, std::move(options))) {
    const WriterOptions& o = state_->options;
    if (o.headerLevel < 0 || o.headerLevel > 2) {
        throw Error(ErrorKind::kFormat, "the writer makes header levels 0, 1 and 2");
    }
    if (o.level < 0 || o.level > 1) {
        throw Error(ErrorKind::kFormat, "the writer has levels 0 and 1");
    }
    if (!CanEncode(o.method)) {
        throw Error(ErrorKind::kUnsupportedMethod, "cannot write method " + o.method);
    }
}

Writer::~Writer() = default;

namespace {

Member Prepare(const Member& header, const WriterOptions& options) {
    if (header.path.empty()) {
        throw Error(ErrorKind::kFormat, "a member needs a name");
    }
    Member m = header;
    m.headerLevel = options.headerLevel;
    // Level 0 has no separator but '\\' (and 0xFF), and no Unicode name: a name that holds
    // either as a character, or a name in no code page, gets a level 2 header.
    if (m.headerLevel == 0 &&
        (SeparatorsToSlash(m.path) != m.path ||
         (!m.unicodePath.empty() && BytesOfLatin1Pair(m.path, m.unicodePath)))) {
        m.headerLevel = 2;
    }
    m.osId = options.osId;
    m.encoding = NameEncoding::kLegacy;
    m.compressedSize = m.originalSize = 0;
    m.crc = 0;
    return m;
}

}  // namespace

void Writer::AddFile(const Member& header, InputStream& data, std::uint64_t size,
                     const ProgressFn& progress) {
    State& s = *state_;
    if (s.finished) {
        throw std::logic_error("Writer::AddFile after Finish");
    }
    Member m = Prepare(header, s.options);
    // Levels 0 and 1 have no room for a 64-bit size: such a member alone gets a level 2
    // header (an archive may mix levels), rather than failing the whole archive. The margin
    // covers level 1, which counts its extended headers in the compressed size.
    if (size > kMax32 - kMaxHeaderBytes) {
        m.headerLevel = 2;
    }
    m.linkTarget.clear();
    m.method = size == 0 ? "-lh0-" : s.options.method;
    m.originalSize = size;
    std::uint64_t headerAt = s.output.Tell();
    std::vector<std::byte> placeholder = EncodeHeader(m);
    s.output.Write(placeholder);
    std::uint64_t dataAt = s.output.Tell();

    InputStream* storeFrom = &data;
    std::optional<TempSpool> spool;
    bool store = m.method == "-lh0-";
    if (!store) {
        auto* seekable = dynamic_cast<SeekableInput*>(&data);
        std::uint64_t inputStart = seekable != nullptr ? seekable->Tell() : 0;
        if (seekable == nullptr) {
            spool.emplace();
        }
        TrackedInput tracked(data, size, progress, spool ? &*spool : nullptr);
        LimitedOutput limited(s.output, size - 1);
        try {
            FindEncoder(m.method)(
                tracked, size, limited,
                EncodeSettings{.level = s.options.level, .threads = s.options.threads});
            m.compressedSize = limited.Count();
            m.crc = tracked.Crc();
        } catch (const NotSmaller&) {
            store = true;
            s.output.Seek(dataAt);
            if (seekable != nullptr) {
                seekable->Seek(inputStart);
            }
        }
    }
    std::optional<SpoolThenRest> replay;
    if (store && spool) {
        storeFrom = &replay.emplace(*spool, data);
    }
    if (store) {
        m.method = "-lh0-";
        TrackedInput tracked(*storeFrom, size, progress, nullptr);
        EncodeStored(tracked, size, s.output, EncodeSettings{});
        m.compressedSize = size;
        m.crc = tracked.Crc();
    }
    std::uint64_t end = s.output.Tell();
    std::vector<std::byte> final = EncodeHeader(m);
    if (final.size() != placeholder.size()) {
        throw std::logic_error("header size changed while patching");
    }
    WriteAll(s.output, headerAt, final);
    s.output.Seek(end);
}

void Writer::AddDirectory(const Member& header) {
    State& s = *state_;
    Member m = Prepare(header, s.options);
    m.method = "-lhd-";
    m.linkTarget.clear();
    m.msdosAttributes = 0x10;
    s.output.Write(EncodeHeader(m));
}

void Writer::AddSymlink(const Member& header) {
    State& s = *state_;
    if (header.linkTarget.empty()) {
        throw Error(ErrorKind::kFormat, header.path + ": a symbolic link needs a target");
    }
    Member m = Prepare(header, s.options);
    m.method = "-lhd-";
    s.output.Write(EncodeHeader(m));
}

void Writer::AddRaw(Reader& reader) {
    reader.CopyRaw(state_->output);
}

void Writer::Finish() {
    State& s = *state_;
    if (s.finished) {
        return;
    }
    std::byte endMark{0};
    s.output.Write(std::span(&endMark, 1));
    s.finished = true;
}

}  // namespace zembrat::lha
