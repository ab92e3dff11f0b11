#include "carried/carried_archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/elf_image.h"
#include "common/sfx_trailer.h"

namespace zembrat::carried {

namespace {

constexpr std::size_t kClassifiedBytes = 512;
constexpr std::size_t kEndRecordSize = 22;

std::vector<std::byte> ReadAt(int fd, std::uint64_t offset, std::size_t count) {
    std::vector<std::byte> bytes(count);
    std::size_t filled = 0;
    while (filled < count) {
        const ssize_t got =
            ::pread(fd, bytes.data() + filled, count - filled, static_cast<off_t>(offset + filled));
        if (got <= 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}

std::uint32_t Little(std::span<const std::byte> bytes, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value =
            (value << 8) | std::to_integer<std::uint32_t>(bytes[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

bool Has(std::span<const std::byte> bytes, std::size_t at, std::string_view text) {
    return bytes.size() >= at + text.size() &&
           std::memcmp(bytes.data() + at, text.data(), text.size()) == 0;
}

std::uint64_t FileSize(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)
               ? static_cast<std::uint64_t>(info.st_size)
               : 0;
}

bool IsProgram(std::span<const std::byte> head) {
    return Has(head, 0, "MZ") || Has(head, 0,
                                     "\x7F"
                                     "ELF");
}

// The ZIP archive whose end record closes the file exactly (its comment reaching the last
// byte): from the first member its directory names to the end. An end record followed by
// other bytes (padding, a trailer) belongs to some member, not to the program.
std::optional<CarriedArchive> ZipClosingTheFile(int fd, std::uint64_t size) {
    const std::uint64_t tailStart = size - std::min<std::uint64_t>(size, kEndRecordSize + 0xFFFF);
    const std::vector<std::byte> tail =
        ReadAt(fd, tailStart, static_cast<std::size_t>(size - tailStart));
    if (tail.size() < kEndRecordSize) {
        return std::nullopt;
    }
    for (std::size_t at = tail.size() - kEndRecordSize + 1; at-- > 0;) {
        if (!Has(tail, at, "PK\5\6") ||
            at + kEndRecordSize + Little(tail, at + 20, 2) != tail.size()) {
            continue;
        }
        const std::uint64_t record = tailStart + at;
        const std::uint64_t directorySize = Little(tail, at + 12, 4);
        const std::uint64_t directoryOffset = Little(tail, at + 16, 4);
        if (directorySize > record || directoryOffset > record - directorySize) {
            return std::nullopt;
        }
        const std::uint64_t directory = record - directorySize;
        const std::uint64_t bias = directory - directoryOffset;  // bytes in front of the archive
        const std::vector<std::byte> central = ReadAt(fd, directory, 46);
        if (central.size() < 46 || !Has(central, 0, "PK\1\2")) {
            return std::nullopt;
        }
        const std::uint64_t first = bias + Little(central, 42, 4);
        if (first >= record || !Has(ReadAt(fd, first, 4), 0, "PK\3\4")) {
            return std::nullopt;
        }
        return CarriedArchive{first, size, ArchiveKind::kZip};
    }
    return std::nullopt;
}

// An archive of a known kind that starts where the program's image ends (allowing for the
// alignment some stubs pad to).
std::optional<CarriedArchive> AfterImage(int fd, std::uint64_t imageEnd, std::uint64_t size) {
    if (imageEnd == 0) {
        return std::nullopt;
    }
    for (const std::uint64_t alignment : {1u, 16u, 512u}) {
        const std::uint64_t at = (imageEnd + alignment - 1) / alignment * alignment;
        if (at >= size) {
            break;
        }
        const ArchiveKind kind = KindAt(ReadAt(fd, at, kClassifiedBytes));
        if (kind != ArchiveKind::kUnknown) {
            return CarriedArchive{at, size, kind};
        }
    }
    return std::nullopt;
}

}  // namespace

ArchiveKind KindAt(std::span<const std::byte> bytes) {
    const auto byte = [&](std::size_t at) {
        return at < bytes.size() ? std::to_integer<unsigned>(bytes[at]) : 0u;
    };
    if (Has(bytes, 0, "PK\3\4")) {
        return ArchiveKind::kZip;
    }
    if (Has(bytes, 0, "MSCF") && bytes.size() >= 36 && Little(bytes, 4, 4) == 0 &&
        Little(bytes, 16, 4) >= 36 && Little(bytes, 16, 4) < Little(bytes, 8, 4)) {
        return ArchiveKind::kCab;  // reserved field zero, first file entry inside the cabinet
    }
    if (byte(0) == 0x60 && byte(1) == 0xEA && bytes.size() >= 4 && Little(bytes, 2, 2) > 0 &&
        Little(bytes, 2, 2) <= 2600) {
        return ArchiveKind::kArj;
    }
    if (byte(2) == '-' && byte(6) == '-' &&
        ((byte(3) == 'l' && (byte(4) == 'h' || byte(4) == 'z')) ||
         (byte(3) == 'p' && byte(4) == 'm'))) {
        return ArchiveKind::kLha;
    }
    if (Has(bytes, 0, "Rar!\x1A\x07")) {
        return ArchiveKind::kRar;
    }
    if (Has(bytes, 4, "GZIP") || Has(bytes, 4, std::string_view("BZ2\0", 4))) {
        return ArchiveKind::kBga;
    }
    if ((byte(0) == 0x1F && byte(1) == 0x8B) ||
        (Has(bytes, 0, "BZh") && byte(3) >= '1' && byte(3) <= '9') ||
        Has(bytes, 0,
            std::string_view("\xFD"
                             "7zXZ\0",
                             6)) ||
        Has(bytes, 0, "\x28\xB5\x2F\xFD") || Has(bytes, 257, "ustar")) {
        return ArchiveKind::kTar;
    }
    return ArchiveKind::kUnknown;
}

std::uint64_t MzImageEnd(int fd) {
    const std::vector<std::byte> dos = ReadAt(fd, 0, 64);
    if (dos.size() < 64 || !Has(dos, 0, "MZ")) {
        return 0;
    }
    const std::uint32_t peAt = Little(dos, 0x3C, 4);
    const std::vector<std::byte> pe = ReadAt(fd, peAt, 24);
    if (peAt >= 64 && Has(pe, 0, std::string_view("PE\0\0", 4)) && pe.size() == 24) {
        const std::uint32_t sections = Little(pe, 6, 2);
        const std::uint32_t optionalSize = Little(pe, 20, 2);
        const std::uint64_t tableAt = std::uint64_t{peAt} + 24 + optionalSize;
        const std::vector<std::byte> table = ReadAt(fd, tableAt, std::size_t{sections} * 40);
        if (sections == 0 || table.size() != std::size_t{sections} * 40) {
            return 0;
        }
        std::uint64_t end = tableAt + table.size();
        for (std::size_t i = 0; i < sections; ++i) {
            const std::uint64_t rawSize = Little(table, i * 40 + 16, 4);
            const std::uint64_t rawAt = Little(table, i * 40 + 20, 4);
            if (rawSize != 0) {
                end = std::max(end, rawAt + rawSize);
            }
        }
        return end;
    }
    // An MS-DOS program: pages of 512 bytes, the last one partly used.
    const std::uint64_t lastPage = Little(dos, 2, 2);
    const std::uint64_t pages = Little(dos, 4, 2);
    if (pages == 0 || lastPage >= 512) {
        return 0;
    }
    return pages * 512 - (lastPage == 0 ? 0 : 512 - lastPage);
}

std::optional<CarriedArchive> FindCarriedArchive(int fd) {
    const std::uint64_t size = FileSize(fd);
    const std::vector<std::byte> head = ReadAt(fd, 0, 4);
    if (size == 0 || !IsProgram(head)) {
        return std::nullopt;
    }
    const std::vector<std::byte> last =
        size >= common::kSfxTrailerSize
            ? ReadAt(fd, size - common::kSfxTrailerSize, common::kSfxTrailerSize)
            : std::vector<std::byte>();
    if (last.size() == common::kSfxTrailerSize) {
        std::array<std::byte, common::kSfxTrailerSize> tail{};
        std::copy(last.begin(), last.end(), tail.begin());
        if (const auto trailer = common::ParseSfxTrailer(tail, size)) {
            const ArchiveKind kind = KindAt(ReadAt(fd, trailer->offset, kClassifiedBytes));
            if (kind != ArchiveKind::kUnknown) {
                return CarriedArchive{trailer->offset, trailer->end, kind};
            }
        }
    }
    const std::uint64_t imageEnd = Has(head, 0, "MZ") ? MzImageEnd(fd) : common::ElfImageEnd(fd);
    if (auto found = AfterImage(fd, imageEnd, size)) {
        return found;
    }
    return ZipClosingTheFile(fd, size);
}

std::optional<CarriedArchive> FindCarriedArchive(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<CarriedArchive> found = FindCarriedArchive(fd);
    ::close(fd);
    return found;
}

bool InsideAnotherKind(const std::optional<CarriedArchive>& carried, ArchiveKind own,
                       std::uint64_t offset) {
    return CarriesAnotherKind(carried, own) && offset >= carried->offset && offset < carried->end;
}

bool CarriesAnotherKind(const std::optional<CarriedArchive>& carried, ArchiveKind own) {
    return carried && carried->kind != ArchiveKind::kUnknown && carried->kind != own;
}

}  // namespace zembrat::carried
