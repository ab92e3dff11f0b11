#include <array>
#include <vector>

#include "byte_order.h"
#include "headers.h"

namespace zembrat::arj {

namespace {

using lha::U16;
using lha::U32;
using lha::U8;

constexpr std::size_t kFixedPart = 30;  // first_hdr_size of the oldest archivers
constexpr int kMaxExtendedHeaders = 256;

void ReadExact(SeekableInput& input, std::span<std::byte> bytes, const char* what) {
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const std::size_t got = input.Read(bytes.subspan(filled));
        if (got == 0) {
            throw Error(ErrorKind::kTruncated, std::string("archive ends inside ") + what);
        }
        filled += got;
    }
}

// The NUL-terminated text at `at` of the header; its end (after the NUL) goes to `at`.
std::string TextAt(std::span<const std::byte> basic, std::size_t& at) {
    std::string text;
    while (at < basic.size() && U8(basic, at) != 0) {
        text.push_back(static_cast<char>(U8(basic, at++)));
    }
    if (at >= basic.size()) {
        throw Error(ErrorKind::kFormat, "header text without its end");
    }
    ++at;
    return text;
}

}  // namespace

std::optional<RawHeader> ReadHeader(SeekableInput& input, std::uint64_t offset) {
    input.Seek(offset);
    std::array<std::byte, 4> lead{};
    ReadExact(input, lead, "a header");
    if (U8(lead, 0) != 0x60 || U8(lead, 1) != 0xEA) {
        throw Error(ErrorKind::kFormat, "no header where one belongs");
    }
    const std::size_t size = U16(lead, 2);
    if (size == 0) {
        return std::nullopt;
    }
    if (size < kFixedPart || size > kMaxBasicHeader) {
        throw Error(ErrorKind::kFormat, "header size out of range");
    }
    std::vector<std::byte> basic(size + 4);
    ReadExact(input, basic, "a header");
    const std::span<const std::byte> fields = std::span(basic).first(size);
    if (Crc32(fields) != U32(basic, size)) {
        throw Error(ErrorKind::kFormat, "header CRC mismatch");
    }
    const std::size_t fixed = U8(fields, 0);
    if (fixed < kFixedPart || fixed > size) {
        throw Error(ErrorKind::kFormat, "fixed header part out of range");
    }
    RawHeader header;
    header.offset = offset;
    header.hostOs = U8(fields, 3);
    header.flags = U8(fields, 4);
    header.method = U8(fields, 5);
    header.fileType = U8(fields, 6);
    header.timeStamp = U32(fields, 8);
    header.compressedSize = U32(fields, 12);
    header.originalSize = U32(fields, 16);
    header.crc = U32(fields, 20);
    header.accessMode = U16(fields, 26);
    if (fixed >= kFixedPart + 4) {
        header.extFilePosition = U32(fields, kFixedPart);
    }
    std::size_t at = fixed;
    header.name = TextAt(fields, at);
    header.comment = TextAt(fields, at);

    std::uint64_t position = offset + 4 + size + 4;
    for (int count = 0;; ++count) {
        if (count > kMaxExtendedHeaders) {
            throw Error(ErrorKind::kFormat, "too many extended headers");
        }
        std::array<std::byte, 2> extendedSize{};
        ReadExact(input, extendedSize, "a header");
        position += 2;
        const std::uint64_t skip = U16(extendedSize, 0);
        if (skip == 0) {
            break;
        }
        position += skip + 4;  // its bytes and their CRC
        if (position > input.Size()) {
            throw Error(ErrorKind::kTruncated, "archive ends inside an extended header");
        }
        input.Seek(position);
    }
    header.dataOffset = position;
    return header;
}

}  // namespace zembrat::arj
