#include "common/sfx_trailer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstring>

namespace zembrat::common {

namespace {

constexpr char kMark[8] = {'Z', 'M', 'B', 'R', 'T', 'S', 'F', 'X'};

}  // namespace

std::array<std::byte, kSfxTrailerSize> MakeSfxTrailer(std::uint64_t archiveOffset) {
    std::array<std::byte, kSfxTrailerSize> trailer{};
    for (int i = 0; i < 8; ++i) {
        trailer[i] = static_cast<std::byte>((archiveOffset >> (8 * i)) & 0xFF);
    }
    std::memcpy(trailer.data() + 8, kMark, sizeof kMark);
    return trailer;
}

std::optional<EmbeddedArchive> ParseSfxTrailer(std::span<const std::byte, kSfxTrailerSize> tail,
                                               std::uint64_t fileSize) {
    if (fileSize < kSfxTrailerSize || std::memcmp(tail.data() + 8, kMark, sizeof kMark) != 0) {
        return std::nullopt;
    }
    std::uint64_t offset = 0;
    for (int i = 7; i >= 0; --i) {
        offset = (offset << 8) | static_cast<std::uint64_t>(tail[i]);
    }
    const std::uint64_t end = fileSize - kSfxTrailerSize;
    if (offset >= end) {
        return std::nullopt;
    }
    return EmbeddedArchive{offset, end};
}

std::optional<EmbeddedArchive> FindSfxArchive(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<EmbeddedArchive> found;
    struct stat info {};
    std::array<std::byte, kSfxTrailerSize> tail{};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::uint64_t>(info.st_size) >= kSfxTrailerSize &&
        pread(fd, tail.data(), tail.size(), info.st_size - kSfxTrailerSize) ==
            static_cast<ssize_t>(tail.size())) {
        found = ParseSfxTrailer(tail, static_cast<std::uint64_t>(info.st_size));
    }
    close(fd);
    return found;
}

}  // namespace zembrat::common
