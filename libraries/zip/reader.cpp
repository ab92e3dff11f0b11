#include <libdeflate.h>
#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "archive_host/engine_calls.h"
#include "common/name_encoding.h"
#include "container.h"
#include "decoder.h"
#include "zip/zip.h"

namespace zembrat::zip {

namespace {

constexpr std::size_t kInputPiece = 256u << 10;
// A link's target is read whole; no file system takes a longer one.
constexpr std::uint64_t kLongestLinkTarget = 64u << 10;
constexpr std::uint32_t kDosReadOnly = 0x01;

// libarchive names a member's format "ZIP 2.0 (deflation)": the method is in the parentheses.
std::string MethodOf(std::string_view formatName) {
    const auto open = formatName.rfind('(');
    const auto close = formatName.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return std::string(formatName);
    }
    return std::string(formatName.substr(open + 1, close - open - 1));
}

// The helper runs the decoder in a UTF-8 locale: names with the UTF-8 flag or a Unicode path
// field come as UTF-8, others as stored. Those are CP932 unless they are valid UTF-8 (the
// common name decoding, as for a Unix-made name), and Latin-1 when they are neither.
std::string HostName(std::string_view stored) {
    return common::DecodeStoredName(stored, false, 'U');
}

// A member's compressed bytes, read from the archive in pieces into one buffer.
class RangeInput final : public decode::Input {
  public:
    RangeInput(const ArchiveBytes& bytes, std::uint64_t start, std::uint64_t length,
               std::vector<std::byte>& buffer)
        : bytes_(bytes), next_(start), left_(length), length_(length), buffer_(buffer) {}
    std::span<const std::byte> Next() override {
        const auto piece = std::span(buffer_).first(
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), left_)));
        bytes_.ReadInto(next_, piece);
        next_ += piece.size();
        left_ -= piece.size();
        return piece;
    }
    std::uint64_t Length() const override { return length_; }

  private:
    const ArchiveBytes& bytes_;
    std::uint64_t next_;
    std::uint64_t left_;
    std::uint64_t length_;
    std::vector<std::byte>& buffer_;
};

// Counts, checks and passes on what a decoder produces: never more than the directory's
// size, the CRC-32 over all of it, progress after every piece.
class CheckedOutput final : public decode::Output {
  public:
    CheckedOutput(DataSink& sink, std::uint64_t size, const ProgressFn& progress)
        : sink_(sink), size_(size), progress_(progress) {}
    void Write(std::span<const std::byte> data) override {
        if (data.size() > size_ - done_) {
            throw Error(ErrorKind::kMember, "the data runs past its declared size");
        }
        crc_ = libdeflate_crc32(crc_, data.data(), data.size());
        done_ += data.size();
        sink_.Write(data);
        if (progress_ && !progress_(done_, size_)) {
            throw Error(ErrorKind::kAborted, "stopped");
        }
    }
    void Finish(std::uint32_t expectedCrc) const {
        if (done_ != size_) {
            throw Error(ErrorKind::kMember, "the data ends before the member's size");
        }
        if (crc_ != expectedCrc) {
            throw Error(ErrorKind::kMember, "CRC error: the data is damaged");
        }
    }

  private:
    DataSink& sink_;
    std::uint64_t size_;
    const ProgressFn& progress_;
    std::uint64_t done_ = 0;
    std::uint32_t crc_ = 0;
};

class StringSink final : public DataSink {
  public:
    void Write(std::span<const std::byte> data) override {
        text.append(reinterpret_cast<const char*>(data.data()), data.size());
    }
    std::string text;
};

}  // namespace

struct Reader::State {
    std::string path;
    ReaderOptions options;
    // In process.
    std::optional<ParsedArchive> archive;
    std::size_t next = 0;
    std::vector<std::byte> buffer;
    // Through the helper: the whole archive, or (in process) one member of a method of its own.
    std::optional<archive_host::ArchiveHost> host;
    std::optional<Member> current;

    // A member of a method we do not decode (PPMd), from the helper, which lists the members
    // in an order of its own: it is asked for the member of the same name and size, starting
    // over once when it has passed it. What it gives is checked against the directory's size
    // and CRC like everything else.
    void DecodeThroughHelper(const ParsedMember& member, CheckedOutput& output) {
        std::string wanted = member.info.name;
        std::replace(wanted.begin(), wanted.end(), '\\', '/');
        try {
            for (int pass = 0; pass < 2; ++pass) {
                if (!host) {
                    host.emplace(path, "zip", options.host);
                }
                while (auto next = archive_host::CallHost<Error>([&] { return host->Next(); })) {
                    const archive_host::MemberFields fields = archive_host::ToMemberFields(
                        *next, HostName, archive_host::TargetRule::kSymlinks);
                    if (fields.name == wanted && !fields.error.empty()) {
                        throw Error(ErrorKind::kMember, fields.error);
                    }
                    if (fields.name == wanted && fields.kind == MemberKind::kSymlink) {
                        output.Write(std::as_bytes(std::span(fields.linkTarget)));
                        return;
                    }
                    if (fields.name == wanted && fields.size == member.info.size) {
                        archive_host::CallHost<Error>([&] {
                            host->ReadData(
                                [&](std::span<const std::byte> data) { output.Write(data); });
                        });
                        return;
                    }
                }
                host.reset();
            }
        } catch (const archive_host::HostError& error) {
            host.reset();
            throw Error(ErrorKind::kMember, error.what());
        } catch (const Error& error) {
            if (error.Kind() != ErrorKind::kArchive) {
                throw;
            }
            host.reset();  // the helper failed: this member fails, the next starts it anew
            throw Error(ErrorKind::kMember, error.what());
        }
        throw Error(ErrorKind::kMember, "the helper's decoder does not find this member");
    }

    void Decode(const ParsedMember& member, DataSink& sink, const ProgressFn& progress) {
        if (member.info.encrypted) {
            throw Error(ErrorKind::kMember, "encrypted member, not supported");
        }
        const decode::DecodeFunction decoder = decode::FindDecoder(member.central.method);
        CheckedOutput output(sink, member.central.size, progress);
        if (member.central.compressedSize == 0 && member.central.size == 0) {
            // An empty member some writers store under a method without its stream.
            output.Finish(member.central.crc);
            return;
        }
        if (decoder == nullptr) {
            if (options.inProcessOnly) {
                throw Error(ErrorKind::kMember, "unsupported compression method " +
                                                    NamesOfMethod(member.central.method).word);
            }
            DecodeThroughHelper(member, output);
            output.Finish(member.central.crc);
            return;
        }
        if (buffer.empty()) {
            buffer.resize(kInputPiece);
        }
        RangeInput input(*archive->bytes, member.dataStart, member.central.compressedSize, buffer);
        decoder(input, {member.central.method, member.central.flags, member.central.size}, output);
        output.Finish(member.central.crc);
    }

    Member Describe(const ParsedMember& parsed) {
        Member member;
        const ExistingMember& info = parsed.info;
        member.name = info.name;
        member.size = info.size;
        member.mtime = info.mtime;
        member.encrypted = info.encrypted;
        member.method = NamesOfMethod(info.method).word;
        member.madeOnUnix = parsed.madeOnUnix;
        if (parsed.madeOnUnix) {
            member.mode = info.mode & 07777;
        } else {
            member.mode = info.isDirectory ? 0775 : 0664;
            if ((parsed.central.externalAttributes & kDosReadOnly) != 0) {
                member.mode &= ~0222u;
            }
        }
        if (member.name.find('\0') != std::string::npos) {
            // The file system would cut the name there: what the safe-path check saw is not
            // what would be written.
            member.error = "damaged member header: a name holding a NUL byte";
        }
        if (info.isDirectory) {
            member.kind = MemberKind::kDirectory;
        } else if (parsed.special) {
            member.kind = MemberKind::kOther;
        } else if (parsed.symlink) {
            member.kind = MemberKind::kSymlink;
            if (info.size > kLongestLinkTarget) {
                member.error = "a symbolic link's target is too long";
            } else {
                try {
                    StringSink target;
                    Decode(parsed, target, {});
                    member.linkTarget = common::DecodeStoredName(
                        target.text, (parsed.central.flags & format::kFlagUtf8Name) != 0, 'U');
                } catch (const Error& error) {
                    member.error = error.what();
                }
            }
        }
        return member;
    }
};

Reader::Reader(const std::string& archivePath, ReaderOptions options)
    : state_(std::make_unique<State>()) {
    state_->path = archivePath;
    state_->options = options;
    try {
        state_->archive = ParseArchive(archivePath);
        return;
    } catch (const RefusedArchive&) {
        throw;
    } catch (const Error&) {
        // No usable directory: the helper reads the members from their local headers.
        if (options.inProcessOnly) {
            throw;
        }
    }
    try {
        state_->host.emplace(archivePath, "zip", options.host);
    } catch (const archive_host::HostError& error) {
        throw Error(ErrorKind::kArchive, error.what());
    }
}

Reader::~Reader() = default;

bool Reader::InProcess() const {
    return state_->archive.has_value();
}

std::optional<Member> Reader::Next() {
    state_->current.reset();
    if (state_->archive) {
        if (state_->next >= state_->archive->members.size()) {
            return std::nullopt;
        }
        Member member = state_->Describe(state_->archive->members[state_->next++]);
        state_->current = member;
        return member;
    }
    const auto next = archive_host::CallHost<Error>([&] { return state_->host->Next(); });
    if (!next) {
        return std::nullopt;
    }
    Member member;
    static_cast<archive_host::MemberFields&>(member) =
        archive_host::ToMemberFields(*next, HostName, archive_host::TargetRule::kSymlinks);
    member.method = MethodOf(next->formatName);
    state_->current = member;
    return member;
}

void Reader::Extract(DataSink& sink, const ProgressFn& progress) {
    const Member member = archive_host::TakeCurrent<Error>(state_->current);
    if (!member.error.empty()) {
        throw Error(ErrorKind::kMember, member.error);
    }
    if (member.encrypted) {
        throw Error(ErrorKind::kMember, "encrypted member, not supported");
    }
    if (state_->archive) {
        state_->Decode(state_->archive->members[state_->next - 1], sink, progress);
        return;
    }
    // The helper stops a member at its declared size; the count holds even if it did not.
    archive_host::MemberDataCount<Error> count(member.size, progress);
    archive_host::CallHost<Error>([&] {
        state_->host->ReadData([&](std::span<const std::byte> data) {
            count.Add(data.size());
            sink.Write(data);
            count.Report();
        });
    });
}

MethodNames NamesOfMethod(std::uint16_t method) {
    struct Known {
        std::uint16_t method;
        std::string_view word, label;
    };
    static constexpr Known kKnown[] = {{0, "uncompressed", "stored"}, {1, "shrink", "shrink"},
                                       {2, "reduce", "reduce1"},      {3, "reduce", "reduce2"},
                                       {4, "reduce", "reduce3"},      {5, "reduce", "reduce4"},
                                       {6, "implode", "implode"},     {8, "deflation", "deflate"},
                                       {9, "deflate64", "defl64"},    {12, "bzip2", "bzip2"},
                                       {14, "lzma", "lzma"},          {20, "zstd", "zstd"},
                                       {93, "zstd", "zstd"},          {95, "xz", "xz"},
                                       {98, "ppmd", "ppmd"},          {99, "aes", "aes"}};
    for (const Known& known : kKnown) {
        if (known.method == method) {
            return {std::string(known.word), std::string(known.label)};
        }
    }
    return {"method " + std::to_string(method), "m" + std::to_string(method)};
}

}  // namespace zembrat::zip
