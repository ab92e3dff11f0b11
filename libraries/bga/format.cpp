#include "bga/format.h"

#include <algorithm>
#include <cstring>

#include "archiver_api.h"
#include "common/failure.h"

namespace zembrat::bga {

namespace {

std::uint32_t Read16(std::span<const std::byte> bytes, std::size_t at) {
    return std::to_integer<std::uint32_t>(bytes[at]) | std::to_integer<std::uint32_t>(bytes[at + 1])
                                                           << 8;
}

std::uint32_t Read32(std::span<const std::byte> bytes, std::size_t at) {
    return Read16(bytes, at) | Read16(bytes, at + 2) << 16;
}

void Put16(std::string& out, std::size_t at, std::uint32_t value) {
    out[at] = static_cast<char>(value & 0xFF);
    out[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::size_t at, std::uint32_t value) {
    Put16(out, at, value & 0xFFFF);
    Put16(out, at + 2, value >> 16);
}

constexpr std::string_view kGzipMark("GZIP", 4);
constexpr std::string_view kBzip2Mark("BZ2\0", 4);

[[noreturn]] void Broken(const std::string& reason) {
    throw common::Failure(ARC_ERROR_BROKEN_ARCHIVE, reason);
}

}  // namespace

bool HasArchiveExtension(std::string_view name) {
    const std::size_t dot = name.find_last_of(".\\");
    if (dot == std::string_view::npos || name[dot] != '.') {
        return false;
    }
    std::string extension(name.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    static constexpr std::array<std::string_view, 17> kArchives = {
        "arc", "arj", "bz2", "bza", "cab", "gz", "gza", "lzh", "lzs",
        "pak", "rar", "taz", "tbz", "tgz", "z",  "zip", "zoo"};
    return std::find(kArchives.begin(), kArchives.end(), extension) != kArchives.end();
}

bool MemberHeader::IsStored() const {
    return kind == kKindStored ||
           (kind == kKindCompressed && compressedSize == originalSize && HasArchiveExtension(name));
}

std::uint32_t Checksum(std::span<const std::byte> headerTail, std::string_view name) {
    std::uint32_t sum = 0;
    for (const std::byte b : headerTail) {
        sum += static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(b)));
    }
    for (const char c : name) {
        sum += static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c)));
    }
    return sum;
}

std::string EncodeHeader(MemberHeader header) {
    const std::size_t folderEnd = header.name.find_last_of('\\');
    const std::size_t folderLength = folderEnd == std::string::npos ? 0 : folderEnd + 1;
    std::string out(kHeaderSize, '\0');
    out.replace(4, 4, header.codec == Codec::kGzip ? kGzipMark : kBzip2Mark);
    Put32(out, 8, header.compressedSize);
    Put32(out, 12, header.originalSize);
    Put16(out, 16, header.dosDate);
    Put16(out, 18, header.dosTime);
    out[20] = static_cast<char>(header.attributes);
    Put16(out, 22, header.kind);
    Put16(out, 24, static_cast<std::uint32_t>(folderLength));
    Put16(out, 26, static_cast<std::uint32_t>(header.name.size() - folderLength));
    const auto tail = std::as_bytes(std::span(out)).subspan(4);
    Put32(out, 0, Checksum(tail, header.name));
    out += header.name;
    return out;
}

std::size_t NameLength(std::span<const std::byte, kHeaderSize> bytes) {
    return Read16(bytes, 24) + Read16(bytes, 26);
}

std::uint32_t StoredChecksum(std::span<const std::byte, kHeaderSize> bytes) {
    return Read32(bytes, 0);
}

MemberHeader DecodeFixedHeader(std::span<const std::byte, kHeaderSize> bytes) {
    MemberHeader header;
    const std::string_view mark(reinterpret_cast<const char*>(bytes.data()) + 4, 4);
    if (mark == kGzipMark) {
        header.codec = Codec::kGzip;
    } else if (mark == kBzip2Mark) {
        header.codec = Codec::kBzip2;
    } else {
        Broken("no member header where one should start");
    }
    header.compressedSize = Read32(bytes, 8);
    header.originalSize = Read32(bytes, 12);
    header.dosDate = static_cast<std::uint16_t>(Read16(bytes, 16));
    header.dosTime = static_cast<std::uint16_t>(Read16(bytes, 18));
    header.attributes = std::to_integer<std::uint8_t>(bytes[20]);
    header.kind = static_cast<std::uint16_t>(Read16(bytes, 22));
    header.folderLength = static_cast<std::uint16_t>(Read16(bytes, 24));
    if (NameLength(bytes) == 0) {
        Broken("a member header without a name");
    }
    return header;
}

}  // namespace zembrat::bga
