#include "tar/tar_stream.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

namespace zembrat::tar {

namespace {

constexpr std::size_t kBlock = 512;
// Longest name or pax header taken: real ones are far shorter.
constexpr std::uint64_t kMaxExtendedHeader = 1 << 20;

class FileRegion : public ByteSource {
  public:
    FileRegion(int fd, std::uint64_t offset) : fd_(fd), offset_(offset) {}

    std::size_t Read(std::byte* data, std::size_t size) override {
        for (;;) {
            const ssize_t got = ::pread(fd_, data, size, static_cast<off_t>(offset_));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                throw TarStreamError(std::string("cannot read: ") + std::strerror(errno));
            }
            offset_ += static_cast<std::uint64_t>(got);
            return static_cast<std::size_t>(got);
        }
    }

  private:
    int fd_;
    std::uint64_t offset_;
};

// gzip members one after another, each checked against its CRC and length; bytes after the
// last member that do not start another one end the stream, as gzip readers do.
class Gunzip : public ByteSource {
  public:
    explicit Gunzip(std::unique_ptr<ByteSource> in) : in_(std::move(in)), buffer_(1 << 16) {
        if (inflateInit2(&stream_, 16 + MAX_WBITS) != Z_OK) {
            throw TarStreamError("out of memory");
        }
    }
    ~Gunzip() override { inflateEnd(&stream_); }
    Gunzip(const Gunzip&) = delete;
    Gunzip& operator=(const Gunzip&) = delete;

    std::size_t Read(std::byte* data, std::size_t size) override {
        stream_.next_out = reinterpret_cast<Bytef*>(data);
        stream_.avail_out = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        while (stream_.avail_out > 0 && !ended_) {
            if (stream_.avail_in == 0 && !Refill()) {
                if (!betweenMembers_) {
                    throw TarStreamError("damaged archive: the compressed data ends early");
                }
                ended_ = true;
                break;
            }
            if (betweenMembers_) {
                if (static_cast<unsigned char>(*stream_.next_in) != 0x1f) {
                    ended_ = true;
                    break;
                }
                betweenMembers_ = false;
            }
            const int result = inflate(&stream_, Z_NO_FLUSH);
            if (result == Z_STREAM_END) {
                inflateReset(&stream_);
                betweenMembers_ = true;
            } else if (result != Z_OK && result != Z_BUF_ERROR) {
                throw TarStreamError("damaged archive: bad compressed data");
            }
        }
        return size - stream_.avail_out;
    }

  private:
    bool Refill() {
        const std::size_t got = in_->Read(buffer_.data(), buffer_.size());
        stream_.next_in = reinterpret_cast<Bytef*>(buffer_.data());
        stream_.avail_in = static_cast<uInt>(got);
        return got > 0;
    }

    std::unique_ptr<ByteSource> in_;
    std::vector<std::byte> buffer_;
    z_stream stream_{};
    bool betweenMembers_ = false;
    bool ended_ = false;
};

std::string_view Field(const std::byte* block, std::size_t offset, std::size_t size) {
    const auto* text = reinterpret_cast<const char*>(block) + offset;
    return std::string_view(text, strnlen(text, size));
}

// An octal number (space or NUL padded), or base-256 when the first byte has its top bit.
std::uint64_t Number(const std::byte* block, std::size_t offset, std::size_t size) {
    const auto* field = reinterpret_cast<const unsigned char*>(block) + offset;
    std::uint64_t value = 0;
    if (field[0] & 0x80) {
        if (field[0] != 0x80 || size < 9) {
            throw TarStreamError("damaged archive: a number out of range");
        }
        for (std::size_t i = 1; i < size; ++i) {
            if (value >> 56) {
                throw TarStreamError("damaged archive: a number out of range");
            }
            value = (value << 8) | field[i];
        }
        return value;
    }
    std::size_t i = 0;
    while (i < size && field[i] == ' ') {
        ++i;
    }
    for (; i < size && field[i] >= '0' && field[i] <= '7'; ++i) {
        if (value >> 60) {
            throw TarStreamError("damaged archive: a number out of range");
        }
        value = value * 8 + (field[i] - '0');
    }
    if (i < size && field[i] != ' ' && field[i] != '\0') {
        throw TarStreamError("damaged archive: a bad number in a header");
    }
    return value;
}

bool ChecksumMatches(const std::byte* block) {
    const std::uint64_t stored = Number(block, 148, 8);
    std::uint64_t unsignedSum = 0;
    std::int64_t signedSum = 0;
    for (std::size_t i = 0; i < kBlock; ++i) {
        const auto byte = (i >= 148 && i < 156) ? std::byte{' '} : block[i];
        unsignedSum += std::to_integer<unsigned char>(byte);
        signedSum += static_cast<signed char>(std::to_integer<unsigned char>(byte));
    }
    return stored == unsignedSum || static_cast<std::int64_t>(stored) == signedSum;
}

struct PaxValues {
    std::string path;
    std::string linkPath;
    std::optional<std::uint64_t> size;
    std::optional<std::int64_t> mtime;
    bool sparse = false;
    // pax 1.0 sparse: GNU.sparse.major=1, minor=0, the real name and size.
    std::string sparseMajor;
    std::string sparseMinor;
    std::string sparseName;
    std::optional<std::uint64_t> sparseSize;
};

std::optional<std::uint64_t> Decimal(std::string_view text) {
    std::uint64_t number = 0;
    if (text.empty()) {
        return std::nullopt;
    }
    for (char digit : text) {
        if (digit < '0' || digit > '9' || number >> 58) {
            return std::nullopt;
        }
        number = number * 10 + static_cast<std::uint64_t>(digit - '0');
    }
    return number;
}

// "LEN key=value\n" records; unknown keys are ignored.
void ParsePax(std::string_view text, PaxValues& values) {
    while (!text.empty()) {
        const std::size_t space = text.find(' ');
        std::uint64_t length = 0;
        if (space == std::string_view::npos || space == 0 || space > 20) {
            throw TarStreamError("damaged archive: a bad pax record");
        }
        for (char digit : text.substr(0, space)) {
            if (digit < '0' || digit > '9') {
                throw TarStreamError("damaged archive: a bad pax record");
            }
            length = length * 10 + static_cast<std::uint64_t>(digit - '0');
        }
        if (length <= space + 1 || length > text.size() || text[length - 1] != '\n') {
            throw TarStreamError("damaged archive: a bad pax record");
        }
        const std::string_view record = text.substr(space + 1, length - space - 2);
        text.remove_prefix(length);
        const std::size_t equals = record.find('=');
        if (equals == std::string_view::npos) {
            throw TarStreamError("damaged archive: a bad pax record");
        }
        const std::string_view key = record.substr(0, equals);
        const std::string_view value = record.substr(equals + 1);
        if (key == "GNU.sparse.major") {
            values.sparseMajor = value;
        } else if (key == "GNU.sparse.minor") {
            values.sparseMinor = value;
        } else if (key == "GNU.sparse.name") {
            values.sparseName = value;
        } else if (key == "GNU.sparse.realsize") {
            values.sparseSize = Decimal(value);
            if (!values.sparseSize) {
                throw TarStreamError("damaged archive: a bad pax number");
            }
        } else if (key.starts_with("GNU.sparse.")) {
            values.sparse = true;
        } else if (key == "path") {
            values.path = value;
        } else if (key == "linkpath") {
            values.linkPath = value;
        } else if (key == "size" || key == "mtime") {
            std::uint64_t number = 0;
            for (char digit : value) {
                if (digit == '.') {
                    break;  // fractions of a second
                }
                if (digit < '0' || digit > '9' || number >> 58) {
                    throw TarStreamError("damaged archive: a bad pax number");
                }
                number = number * 10 + static_cast<std::uint64_t>(digit - '0');
            }
            if (key == "size") {
                values.size = number;
            } else {
                values.mtime = static_cast<std::int64_t>(number);
            }
        }
    }
}

}  // namespace

std::unique_ptr<ByteSource> OpenRegion(int fd, std::uint64_t offset) {
    std::array<unsigned char, 2> magic{};
    const bool gzip = ::pread(fd, magic.data(), magic.size(), static_cast<off_t>(offset)) == 2 &&
                      magic[0] == 0x1f && magic[1] == 0x8b;
    auto region = std::make_unique<FileRegion>(fd, offset);
    if (gzip) {
        return std::make_unique<Gunzip>(std::move(region));
    }
    return region;
}

void TarStream::ReadExactly(std::byte* data, std::size_t size) {
    while (size > 0) {
        const std::size_t got = source_.Read(data, size);
        if (got == 0) {
            throw TarStreamError("damaged archive: it ends in the middle of a member");
        }
        data += got;
        size -= got;
    }
}

bool TarStream::ReadBlock(std::byte* block) {
    std::size_t have = 0;
    while (have < kBlock) {
        const std::size_t got = source_.Read(block + have, kBlock - have);
        if (got == 0) {
            if (have == 0) {
                return false;  // no end blocks: taken as the end all the same
            }
            throw TarStreamError("damaged archive: it ends in the middle of a header");
        }
        have += got;
    }
    return true;
}

std::string TarStream::ReadText(std::uint64_t size) {
    if (size > kMaxExtendedHeader) {
        throw TarStreamError("damaged archive: an extended header too long");
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    ReadExactly(reinterpret_cast<std::byte*>(text.data()), text.size());
    std::array<std::byte, kBlock> padding{};
    ReadExactly(padding.data(), (kBlock - size % kBlock) % kBlock);
    return text;
}

bool TarStream::Next(StreamEntry& entry) {
    if (dataLeft_ + paddingLeft_ > 0) {
        ReadData({});
    }
    PaxValues pax;
    std::string longName;
    std::string longLink;
    std::array<std::byte, kBlock> block{};
    for (;;) {
        if (!ReadBlock(block.data())) {
            return false;
        }
        if (std::all_of(block.begin(), block.end(),
                        [](std::byte b) { return b == std::byte{0}; })) {
            // The rest is read through, so that a compressed stream's own checks (its CRC
            // and length at the very end) are made.
            while (source_.Read(block.data(), block.size()) > 0) {
            }
            return false;
        }
        if (!ChecksumMatches(block.data())) {
            throw TarStreamError("damaged archive: a header checksum does not match");
        }
        const char type = static_cast<char>(block[156]);
        const std::uint64_t size = Number(block.data(), 124, 12);
        if (type == 'x') {
            ParsePax(ReadText(size), pax);
        } else if (type == 'g') {
            ReadText(size);  // global defaults: nothing the stub uses
        } else if (type == 'L') {
            longName = ReadText(size).c_str();
        } else if (type == 'K') {
            longLink = ReadText(size).c_str();
        } else {
            std::string name(Field(block.data(), 0, 100));
            const std::string_view prefix = Field(block.data(), 345, 155);
            if (Field(block.data(), 257, 5) == "ustar" && !prefix.empty() &&
                Field(block.data(), 257, 8) != "ustar  ") {
                name = std::string(prefix) + "/" + name;
            }
            entry = StreamEntry{};
            entry.name = !pax.path.empty() ? pax.path : !longName.empty() ? longName : name;
            entry.linkTarget = !pax.linkPath.empty() ? pax.linkPath
                               : !longLink.empty()   ? longLink
                                                     : std::string(Field(block.data(), 157, 100));
            entry.mode = static_cast<unsigned>(Number(block.data(), 100, 8) & 07777);
            entry.mtime =
                pax.mtime.value_or(static_cast<std::int64_t>(Number(block.data(), 136, 12)));
            const std::uint64_t stored = pax.size.value_or(size);
            switch (type) {
                case '0':
                case '\0':
                case '7':
                    entry.kind = StreamEntry::Kind::kFile;
                    break;
                case '1':
                    entry.kind = StreamEntry::Kind::kHardlink;
                    break;
                case '2':
                    entry.kind = StreamEntry::Kind::kSymlink;
                    break;
                case '5':
                    entry.kind = StreamEntry::Kind::kDirectory;
                    break;
                default:
                    entry.kind = StreamEntry::Kind::kOther;
                    break;
            }
            // Whatever data follows is skipped for kinds that carry none.
            dataLeft_ = stored;
            paddingLeft_ = (kBlock - stored % kBlock) % kBlock;
            entry.size = entry.kind == StreamEntry::Kind::kFile ? stored : 0;
            const bool sparse10 = pax.sparseMajor == "1" && pax.sparseMinor == "0" &&
                                  pax.sparseSize && entry.kind == StreamEntry::Kind::kFile;
            entry.sparse = !sparse10 && (pax.sparse || !pax.sparseMajor.empty() || type == 'S');
            sparseSize_.reset();
            if (sparse10) {
                sparseSize_ = pax.sparseSize;
                entry.size = *pax.sparseSize;
                if (!pax.sparseName.empty()) {
                    entry.name = pax.sparseName;
                }
            }
            while (entry.name.size() > 1 && entry.name.back() == '/') {
                entry.name.pop_back();
            }
            return true;
        }
    }
}

void TarStream::ReadData(const std::function<void(std::span<const std::byte>)>& sink,
                         const std::function<void(std::uint64_t)>& holes) {
    const bool sparse = sparseSize_ && sink;
    if (sparse) {
        ReadSparse(sink, holes);
    }
    sparseSize_.reset();
    ReadRaw(dataLeft_, sparse ? nullptr : sink);
    std::array<std::byte, kBlock> padding{};
    ReadExactly(padding.data(), static_cast<std::size_t>(paddingLeft_));
    paddingLeft_ = 0;
}

// size bytes of the member's stored data to sink (nothing when sink is empty).
void TarStream::ReadRaw(std::uint64_t size,
                        const std::function<void(std::span<const std::byte>)>& sink) {
    if (size > dataLeft_) {
        throw TarStreamError("damaged archive: a sparse member's data is shorter than its map");
    }
    std::vector<std::byte> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size, 1 << 16)));
    while (size > 0) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, buffer.size()));
        ReadExactly(buffer.data(), piece);
        dataLeft_ -= piece;
        size -= piece;
        if (sink) {
            sink(std::span(buffer.data(), piece));
        }
    }
}

// One decimal number of a pax 1.0 sparse map, ended by a newline.
std::uint64_t TarStream::ReadMapNumber() {
    std::string digits;
    for (;;) {
        std::byte byte{};
        if (dataLeft_ == 0 || digits.size() > 20) {
            throw TarStreamError("damaged archive: a bad sparse map");
        }
        ReadExactly(&byte, 1);
        --dataLeft_;
        if (byte == std::byte{'\n'}) {
            break;
        }
        digits.push_back(static_cast<char>(byte));
    }
    const auto number = Decimal(digits);
    if (!number) {
        throw TarStreamError("damaged archive: a bad sparse map");
    }
    return *number;
}

// A pax 1.0 sparse member: the map (a count, then offset and length of each run, one number
// a line, padded to a block), then the runs' data one after another.
void TarStream::ReadSparse(const std::function<void(std::span<const std::byte>)>& sink,
                           const std::function<void(std::uint64_t)>& holes) {
    const std::uint64_t stored = dataLeft_;
    const std::uint64_t count = ReadMapNumber();
    if (count > stored / 4) {
        throw TarStreamError("damaged archive: a bad sparse map");
    }
    std::vector<Run> runs;
    std::uint64_t at = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const Run run{ReadMapNumber(), ReadMapNumber()};
        if (run.offset < at || run.length > *sparseSize_ ||
            run.offset > *sparseSize_ - run.length) {
            throw TarStreamError("damaged archive: a bad sparse map");
        }
        at = run.offset + run.length;
        runs.push_back(run);
    }
    ReadRaw((kBlock - (stored - dataLeft_) % kBlock) % kBlock, {});
    const auto hole = [&](std::uint64_t size) {
        if (holes) {
            holes(size);
            return;
        }
        const std::vector<std::byte> zeros(
            static_cast<std::size_t>(std::min<std::uint64_t>(size, 1 << 16)));
        for (; size > 0; size -= std::min<std::uint64_t>(size, zeros.size())) {
            sink(std::span(zeros.data(),
                           static_cast<std::size_t>(std::min<std::uint64_t>(size, zeros.size()))));
        }
    };
    at = 0;
    for (const Run& run : runs) {
        if (run.offset > at) {
            hole(run.offset - at);
        }
        ReadRaw(run.length, sink);
        at = run.offset + run.length;
    }
    if (*sparseSize_ > at) {
        hole(*sparseSize_ - at);
    }
}

}  // namespace zembrat::tar
