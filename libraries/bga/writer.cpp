#include "bga/writer.h"

#include <bzlib.h>
#include <libdeflate.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "archiver_api.h"
#include "common/failure.h"
#include "deflate_chunks.h"

namespace zembrat::bga {

namespace {

constexpr std::uint64_t kLargest = 0xFFFFFFFFu;
constexpr std::size_t kCopyPiece = 256 * 1024;

[[noreturn]] void ThrowCannotWrite() {
    throw common::Failure(ARC_ERROR_CANNOT_WRITE,
                          std::string("cannot write the archive: ") + std::strerror(errno));
}

std::uint64_t Position(int fd) {
    const off_t at = lseek(fd, 0, SEEK_CUR);
    if (at < 0) {
        ThrowCannotWrite();
    }
    return static_cast<std::uint64_t>(at);
}

void WriteHeaderAt(int out, std::uint64_t at, const MemberHeader& header) {
    const std::string bytes = EncodeHeader(header);
    const ssize_t wrote = pwrite(out, bytes.data(), bytes.size(), static_cast<off_t>(at));
    if (wrote != static_cast<ssize_t>(bytes.size())) {
        if (wrote >= 0) {
            errno = ENOSPC;
        }
        ThrowCannotWrite();
    }
}

// Reads the source piece by piece, each of exactly the size asked for (the last may be
// shorter); the source fails when the file is shorter than it was.
class SourceReader {
  public:
    SourceReader(const common::SourceFile& source, const WriteProgress& progress)
        : source_(source), size_(source.Size()), progress_(progress) {}
    std::span<const std::byte> Next(std::vector<std::byte>& buffer, std::size_t piece) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(piece, size_ - done_));
        buffer.resize(want);
        source_.ReadAt(buffer, done_);
        done_ += want;
        if (progress_) {
            progress_(done_);
        }
        return buffer;
    }
    bool AtEnd() const { return done_ == size_; }

  private:
    const common::SourceFile& source_;
    std::uint64_t size_;
    std::uint64_t done_ = 0;
    const WriteProgress& progress_;
};

// Counts what is written so that a member that grows past what the format holds, or past its
// original, is caught as it is written.
class CountingOut {
  public:
    explicit CountingOut(int fd) : fd_(fd) {}
    void Write(std::span<const std::byte> data) {
        WriteAll(fd_, data);
        count_ += data.size();
    }
    std::uint64_t Count() const { return count_; }

  private:
    int fd_;
    std::uint64_t count_ = 0;
};

struct BzipEnd {
    void operator()(bz_stream* stream) const { BZ2_bzCompressEnd(stream); }
};

}  // namespace

struct MemberWriter::Codecs {
    std::unique_ptr<zip::ChunkCompressor> deflate;
};

MemberWriter::MemberWriter(Codec codec, int level)
    : codec_(codec), level_(std::clamp(level, 0, 9)), codecs_(std::make_unique<Codecs>()) {
    if (codec_ == Codec::kGzip && level_ > 0) {
        codecs_->deflate = std::make_unique<zip::ChunkCompressor>(level_, 0);
    }
}

MemberWriter::~MemberWriter() = default;

void MemberWriter::AddFolder(int out, MemberHeader header) {
    header.codec = codec_;
    header.compressedSize = header.originalSize = 0;
    header.kind = kKindStored;
    header.attributes |= kFolderAttribute;
    const std::string bytes = EncodeHeader(header);
    WriteAll(out, std::as_bytes(std::span(bytes)));
}

MemberHeader MemberWriter::AddFile(int out, MemberHeader header, const common::SourceFile& source,
                                   const WriteProgress& progress) {
    const std::uint64_t size = source.Size();
    if (size > kLargest) {
        throw common::Failure(ARC_ERROR_TOO_LARGE,
                              "larger than the 4 GiB a GZA or BZA member can hold");
    }
    header.codec = codec_;
    header.originalSize = static_cast<std::uint32_t>(size);
    header.compressedSize = 0;
    header.kind = kKindCompressed;
    const std::uint64_t headerAt = Position(out);
    const std::string placeholder = EncodeHeader(header);
    WriteAll(out, std::as_bytes(std::span(placeholder)));
    const std::uint64_t dataAt = headerAt + placeholder.size();

    CountingOut counted(out);
    bool compressed = false;
    if (level_ > 0 && size > 0) {
        SourceReader reader(source, progress);
        if (codec_ == Codec::kGzip) {
            // One gzip member: a bare 10-byte header, the deflate stream, CRC-32 and size.
            static constexpr std::array<unsigned char, 10> kGzipHeader = {0x1F, 0x8B, 8, 0, 0,
                                                                          0,    0,    0, 0, 3};
            counted.Write(std::as_bytes(std::span(kGzipHeader)));
            zip::ChunkCompressor& deflate = *codecs_->deflate;
            const std::size_t parallel = deflate.Parallelism();
            std::vector<std::vector<std::byte>> inputs(parallel);
            std::vector<std::vector<std::byte>> outputs(parallel);
            std::uint32_t crc = 0;
            while (!reader.AtEnd() && counted.Count() < size) {
                std::vector<std::span<const std::byte>> chunks;
                for (std::size_t i = 0; i < parallel && !reader.AtEnd(); ++i) {
                    chunks.push_back(reader.Next(inputs[i], zip::ChunkSize(level_)));
                    crc = libdeflate_crc32(crc, chunks.back().data(), chunks.back().size());
                }
                deflate.Compress(chunks, std::span(outputs).first(chunks.size()), reader.AtEnd());
                for (std::size_t i = 0; i < chunks.size(); ++i) {
                    counted.Write(outputs[i]);
                }
            }
            if (reader.AtEnd()) {
                std::array<std::byte, 8> trailer{};
                for (int i = 0; i < 4; ++i) {
                    trailer[i] = static_cast<std::byte>(crc >> (8 * i));
                    trailer[4 + i] = static_cast<std::byte>(size >> (8 * i));
                }
                counted.Write(trailer);
                compressed = true;
            }
        } else {
            bz_stream stream{};
            if (BZ2_bzCompressInit(&stream, level_, 0, 0) != BZ_OK) {
                throw std::bad_alloc();
            }
            std::unique_ptr<bz_stream, BzipEnd> owner(&stream);
            std::vector<std::byte> input;
            std::vector<std::byte> output(kCopyPiece);
            int status = BZ_RUN_OK;
            while (status != BZ_STREAM_END && counted.Count() < size) {
                if (stream.avail_in == 0 && !reader.AtEnd()) {
                    const auto piece = reader.Next(input, kCopyPiece);
                    stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(piece.data()));
                    stream.avail_in = static_cast<unsigned>(piece.size());
                }
                stream.next_out = reinterpret_cast<char*>(output.data());
                stream.avail_out = static_cast<unsigned>(output.size());
                status = BZ2_bzCompress(&stream, reader.AtEnd() ? BZ_FINISH : BZ_RUN);
                if (status < 0) {
                    throw common::Failure(ARC_ERROR_INTERNAL, "bzip2 compression failed");
                }
                counted.Write(std::span(output).first(output.size() - stream.avail_out));
            }
            compressed = status == BZ_STREAM_END;
        }
    }
    if (compressed && counted.Count() < size) {
        header.compressedSize = static_cast<std::uint32_t>(counted.Count());
    } else {
        // Data that does not shrink is stored as it is.
        if (ftruncate(out, static_cast<off_t>(dataAt)) != 0 ||
            lseek(out, static_cast<off_t>(dataAt), SEEK_SET) < 0) {
            ThrowCannotWrite();
        }
        SourceReader reader(source, progress);
        std::vector<std::byte> piece;
        while (!reader.AtEnd()) {
            WriteAll(out, reader.Next(piece, kCopyPiece));
        }
        header.kind = kKindStored;
        header.compressedSize = header.originalSize;
    }
    WriteHeaderAt(out, headerAt, header);
    return header;
}

void CopyMember(int from, const Member& member, int out) {
    CopyBytes(from, member.headerOffset, member.dataOffset + member.header.compressedSize, out);
}

}  // namespace zembrat::bga
