#include "bga/reader.h"

#include <bzlib.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "archiver_api.h"
#include "bga/bzip2_blocks.h"
#include "common/failure.h"
#include "common/sfx_trailer.h"

namespace zembrat::bga {

namespace {

constexpr std::size_t kPiece = 256 * 1024;
// Gzip members up to this size (each way) are decoded whole with libdeflate, about twice as
// fast as zlib's streaming; larger ones stream through zlib in kPiece steps.
constexpr std::uint32_t kWholeMember = 128u << 20;

[[noreturn]] void Broken(const std::string& reason) {
    throw common::Failure(ARC_ERROR_BROKEN_ARCHIVE, reason);
}

bool ChecksumHolds(std::span<const std::byte, kHeaderSize> fixed, std::string_view name) {
    return Checksum(fixed.subspan(4), name) == StoredChecksum(fixed);
}

// Feeds the member's compressed bytes to a decoder piece by piece and counts what it gives,
// so that output past the declared size stops the member at once.
class Pump {
  public:
    Pump(int fd, const Member& member, const DataSink& sink)
        : fd_(fd), member_(member), sink_(sink), in_(kPiece), out_(kPiece) {}

    // Fills the input buffer with the next piece; its length (0 at the member's end).
    std::size_t Refill() {
        const std::uint64_t left = member_.header.compressedSize - consumed_;
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, kPiece));
        const std::size_t got =
            want == 0 ? 0 : ReadAt(fd_, member_.dataOffset + consumed_, std::span(in_).first(want));
        if (got < want) {
            Broken("the member's data is cut short");
        }
        consumed_ += got;
        return got;
    }

    void Emit(std::size_t length) {
        if (length == 0) {
            return;
        }
        produced_ += length;
        if (produced_ > member_.header.originalSize) {
            Broken("the member's data decodes past its declared size");
        }
        sink_(std::span<const std::byte>(out_.data(), length));
    }

    void Finish(bool inputLeft) const {
        if (inputLeft || consumed_ != member_.header.compressedSize) {
            Broken("the member's data goes on after its end");
        }
        if (produced_ != member_.header.originalSize) {
            Broken("the member's data is shorter than its declared size");
        }
    }

    std::byte* In() { return in_.data(); }
    std::byte* Out() { return out_.data(); }

  private:
    int fd_;
    const Member& member_;
    const DataSink& sink_;
    std::vector<std::byte> in_;
    std::vector<std::byte> out_;
    std::uint64_t consumed_ = 0;
    std::uint64_t produced_ = 0;
};

void CopyStored(Pump& pump, const Member& member) {
    if (member.header.compressedSize != member.header.originalSize) {
        Broken("a stored member whose sizes differ");
    }
    while (const std::size_t got = pump.Refill()) {
        std::memcpy(pump.Out(), pump.In(), got);
        pump.Emit(got);
    }
    pump.Finish(false);
}

struct InflateEnd {
    void operator()(z_stream* stream) const { inflateEnd(stream); }
};

void Inflate(Pump& pump) {
    z_stream stream{};
    // 16 + 15: one gzip member (header, deflate, CRC-32 and size), checked by zlib.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        throw std::bad_alloc();
    }
    std::unique_ptr<z_stream, InflateEnd> owner(&stream);
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (stream.avail_in == 0) {
            stream.avail_in = static_cast<uInt>(pump.Refill());
            stream.next_in = reinterpret_cast<Bytef*>(pump.In());
            if (stream.avail_in == 0) {
                Broken("the member's gzip data is cut short");
            }
        }
        stream.next_out = reinterpret_cast<Bytef*>(pump.Out());
        stream.avail_out = static_cast<uInt>(kPiece);
        status = inflate(&stream, Z_NO_FLUSH);
        if (status == Z_DATA_ERROR && stream.msg &&
            (std::strcmp(stream.msg, "incorrect data check") == 0 ||
             std::strcmp(stream.msg, "incorrect length check") == 0)) {
            throw common::Failure(ARC_ERROR_CRC, "the member fails its CRC check");
        }
        if (status == Z_MEM_ERROR) {
            throw std::bad_alloc();
        }
        if (status != Z_OK && status != Z_STREAM_END) {
            Broken(std::string("the member's gzip data is damaged") +
                   (stream.msg ? std::string(" (") + stream.msg + ")" : std::string()));
        }
        pump.Emit(kPiece - stream.avail_out);
    }
    pump.Finish(stream.avail_in != 0);
}

struct DecompressorFree {
    void operator()(libdeflate_decompressor* decompressor) const {
        libdeflate_free_decompressor(decompressor);
    }
};

// Decodes a gzip member in memory; false, with nothing given to the sink, when the member
// is not sound, so that the streaming path can tell what is wrong with it.
bool InflateWhole(int fd, const Member& member, const DataSink& sink) {
    const MemberHeader& header = member.header;
    if (header.originalSize > kWholeMember || header.compressedSize > kWholeMember) {
        return false;
    }
    const std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(
        libdeflate_alloc_decompressor());
    if (!decompressor) {
        return false;
    }
    // Not zero-filled: pages a crafted size never reaches are never touched.
    const auto packed = std::make_unique_for_overwrite<std::byte[]>(header.compressedSize);
    const auto original = std::make_unique_for_overwrite<std::byte[]>(header.originalSize + 1);
    if (ReadAt(fd, member.dataOffset, std::span(packed.get(), header.compressedSize)) !=
        header.compressedSize) {
        return false;
    }
    std::size_t consumed = 0;
    std::size_t produced = 0;
    // One byte of room more than declared: a member that fills it inflates past its size.
    const libdeflate_result result = libdeflate_gzip_decompress_ex(
        decompressor.get(), packed.get(), header.compressedSize, original.get(),
        header.originalSize + std::size_t{1}, &consumed, &produced);
    if (result != LIBDEFLATE_SUCCESS || consumed != header.compressedSize ||
        produced != header.originalSize) {
        return false;
    }
    sink(std::span<const std::byte>(original.get(), produced));
    return true;
}

// Decodes a bzip2 member's blocks on two cores; false, with nothing given to the sink, when
// the member is too large for that or cannot be decoded that way.
bool BunzipWhole(int fd, const Member& member, const DataSink& sink) {
    const MemberHeader& header = member.header;
    // The blocks cost a quarter more work than one stream (measured): it pays only with a
    // core to spare, and on a busy machine the plain decoder is faster.
    double load = 0;
    const unsigned cores = std::thread::hardware_concurrency();
    if (cores < 2 || getloadavg(&load, 1) != 1 || load > cores - 0.5 ||
        header.originalSize > kWholeMember || header.compressedSize > kWholeMember) {
        return false;
    }
    std::vector<std::byte> packed(header.compressedSize);
    if (ReadAt(fd, member.dataOffset, packed) != packed.size()) {
        return false;
    }
    std::vector<std::vector<std::byte>> blocks;
    if (!DecodeBzip2Blocks(packed, header.originalSize, blocks)) {
        return false;
    }
    for (const auto& block : blocks) {
        sink(block);
    }
    return true;
}

struct DecompressEnd {
    void operator()(bz_stream* stream) const { BZ2_bzDecompressEnd(stream); }
};

void Bunzip(Pump& pump) {
    bz_stream stream{};
    if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) {
        throw std::bad_alloc();
    }
    std::unique_ptr<bz_stream, DecompressEnd> owner(&stream);
    int status = BZ_OK;
    while (status != BZ_STREAM_END) {
        if (stream.avail_in == 0) {
            stream.avail_in = static_cast<unsigned>(pump.Refill());
            stream.next_in = reinterpret_cast<char*>(pump.In());
            if (stream.avail_in == 0) {
                Broken("the member's bzip2 data is cut short");
            }
        }
        stream.next_out = reinterpret_cast<char*>(pump.Out());
        stream.avail_out = static_cast<unsigned>(kPiece);
        status = BZ2_bzDecompress(&stream);
        if (status == BZ_DATA_ERROR) {
            // libbz2 reports a failed block or stream CRC and damaged blocks alike.
            throw common::Failure(ARC_ERROR_CRC, "the member fails its CRC check or is damaged");
        }
        if (status == BZ_MEM_ERROR) {
            throw std::bad_alloc();
        }
        if (status != BZ_OK && status != BZ_STREAM_END) {
            Broken("the member's bzip2 data is damaged");
        }
        pump.Emit(kPiece - stream.avail_out);
    }
    pump.Finish(stream.avail_in != 0);
}

}  // namespace

ArchiveReader::ArchiveReader(const std::string& path)
    : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat info {};
    if (!fd_.Valid() || fstat(fd_.Get(), &info) != 0) {
        throw common::Failure(ARC_ERROR_CANNOT_READ,
                              "cannot open the archive: " + std::string(std::strerror(errno)));
    }
    if (!S_ISREG(info.st_mode)) {
        throw common::Failure(ARC_ERROR_CANNOT_READ, "the archive is not a regular file");
    }
    end_ = static_cast<std::uint64_t>(info.st_size);
    std::vector<std::byte> head(kHeaderSize + 0x20000);
    head.resize(ReadAt(fd_.Get(), 0, head));
    // A file that starts with a member's mark is read as an archive, so that a damaged first
    // header is reported as damage rather than as some other kind of file.
    const auto marked = [](std::span<const std::byte> bytes) {
        if (bytes.size() < kHeaderSize) {
            return false;
        }
        const std::string_view mark(reinterpret_cast<const char*>(bytes.data()) + 4, 4);
        return mark == std::string_view("GZIP", 4) || mark == std::string_view("BZ2\0", 4);
    };
    if (!head.empty() && !marked(head)) {
        const std::optional<common::EmbeddedArchive> embedded = common::FindSfxArchive(path);
        std::vector<std::byte> first(head.size());
        if (!embedded) {
            throw common::Failure(ARC_ERROR_NOT_ARCHIVE, "not a GZA or BZA archive");
        }
        first.resize(ReadAt(fd_.Get(), embedded->offset, first));
        first.resize(std::min<std::uint64_t>(first.size(), embedded->end - embedded->offset));
        if (!first.empty() && !StartsWithMember(first)) {
            throw common::Failure(ARC_ERROR_NOT_ARCHIVE, "not a GZA or BZA archive");
        }
        start_ = embedded->offset;
        end_ = embedded->end;
    }
    position_ = start_;
}

std::optional<Member> ArchiveReader::Next() {
    if (position_ >= end_) {
        return std::nullopt;
    }
    std::array<std::byte, kHeaderSize> fixed{};
    if (end_ - position_ < kHeaderSize || ReadAt(fd_.Get(), position_, fixed) < kHeaderSize) {
        Broken("the archive ends inside a member header");
    }
    Member member;
    member.header = DecodeFixedHeader(fixed);
    member.headerOffset = position_;
    const std::size_t nameLength = NameLength(fixed);
    member.header.name.resize(nameLength);
    if (end_ - position_ - kHeaderSize < nameLength ||
        ReadAt(fd_.Get(), position_ + kHeaderSize,
               std::as_writable_bytes(std::span(member.header.name))) < nameLength) {
        Broken("the archive ends inside a member name");
    }
    if (!ChecksumHolds(fixed, member.header.name)) {
        Broken("a member header fails its checksum");
    }
    // The file system would cut such a name at the NUL: "..\0x" would become "..".
    if (member.header.name.find('\0') != std::string::npos) {
        Broken("a member name holds a NUL byte");
    }
    member.dataOffset = position_ + kHeaderSize + nameLength;
    if (end_ - member.dataOffset < member.header.compressedSize) {
        Broken("the archive ends inside a member's data");
    }
    position_ = member.dataOffset + member.header.compressedSize;
    return member;
}

void DecodeMember(int fd, const Member& member, const DataSink& sink) {
    Pump pump(fd, member, sink);
    if (member.header.IsFolder() || member.header.IsStored()) {
        CopyStored(pump, member);
    } else if (member.header.codec == Codec::kGzip) {
        if (!InflateWhole(fd, member, sink)) {
            Inflate(pump);
        }
    } else if (!BunzipWhole(fd, member, sink)) {
        Bunzip(pump);
    }
}

bool StartsWithMember(std::span<const std::byte> bytes) {
    if (bytes.size() < kHeaderSize) {
        return false;
    }
    const std::span<const std::byte, kHeaderSize> fixed = bytes.first<kHeaderSize>();
    try {
        DecodeFixedHeader(fixed);
    } catch (const common::Failure&) {
        return false;
    }
    const std::size_t nameLength = NameLength(fixed);
    if (bytes.size() - kHeaderSize < nameLength) {
        return false;
    }
    const std::string_view name(reinterpret_cast<const char*>(bytes.data()) + kHeaderSize,
                                nameLength);
    return ChecksumHolds(fixed, name);
}

}  // namespace zembrat::bga
