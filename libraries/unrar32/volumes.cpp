#include "unrar32/volumes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace zembrat::unrar32 {

namespace {

constexpr std::size_t kMaxVolumes = 999;

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    if (text.size() < tail.size()) {
        return false;
    }
    const std::string_view end = text.substr(text.size() - tail.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(end[i])) != tail[i]) {
            return false;
        }
    }
    return true;
}

// The digits [first, last) as a number one higher, keeping their width; nothing when they
// would need more digits.
std::optional<std::string> Increment(std::string_view digits) {
    std::string next(digits);
    for (auto it = next.rbegin(); it != next.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return next;
        }
        *it = '0';
    }
    return std::nullopt;
}

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// The last bytes of a file.
std::string Tail(const std::string& path, std::size_t size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    struct stat info {};
    std::string tail;
    if (::fstat(fd, &info) == 0) {
        const auto length = static_cast<std::size_t>(info.st_size);
        tail.resize(std::min(size, length));
        const ssize_t got =
            ::pread(fd, tail.data(), tail.size(), static_cast<off_t>(length - tail.size()));
        tail.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    ::close(fd);
    return tail;
}

std::uint32_t Crc32(std::string_view data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : data) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

}  // namespace

std::optional<std::string> NextVolumeName(std::string_view volume) {
    const std::string_view fileName = volume.substr(volume.find_last_of('/') + 1);
    const std::string_view folder = volume.substr(0, volume.size() - fileName.size());
    const std::string prefix(folder);
    // NAME.partN.rar
    if (EndsWithNoCase(fileName, ".rar")) {
        const std::string_view stem = fileName.substr(0, fileName.size() - 4);
        const std::size_t dot = stem.find_last_of('.');
        if (dot != std::string_view::npos && EndsWithNoCase(stem.substr(0, dot + 5), ".part")) {
            const std::string_view digits = stem.substr(dot + 5);
            if (AllDigits(digits)) {
                if (auto next = Increment(digits)) {
                    return prefix + std::string(stem.substr(0, dot + 5)) + *next +
                           std::string(fileName.substr(fileName.size() - 4));
                }
                return std::nullopt;
            }
        }
        // NAME.rar, then NAME.r00 (the letter's case kept)
        return prefix + std::string(fileName.substr(0, fileName.size() - 2)) + "00";
    }
    const std::size_t dot = fileName.find_last_of('.');
    const std::string_view extension =
        dot == std::string_view::npos ? std::string_view() : fileName.substr(dot + 1);
    // NAME.r00 ... NAME.r99, and NAME.001 ...
    if (extension.size() == 3 &&
        (AllDigits(extension) || (std::tolower(static_cast<unsigned char>(extension[0])) == 'r' &&
                                  AllDigits(extension.substr(1))))) {
        const std::size_t digitsAt = AllDigits(extension) ? 0 : 1;
        if (auto next = Increment(extension.substr(digitsAt))) {
            return prefix + std::string(fileName.substr(0, dot + 1 + digitsAt)) + *next;
        }
        return std::nullopt;
    }
    // NAME_aa, NAME_ab, ... NAME_zz (split's naming)
    if (fileName.size() >= 3 &&
        (fileName[fileName.size() - 3] == '_' || fileName[fileName.size() - 3] == '.')) {
        char first = fileName[fileName.size() - 2];
        char second = fileName[fileName.size() - 1];
        if (first >= 'a' && first <= 'z' && second >= 'a' && second <= 'z') {
            if (second < 'z') {
                ++second;
            } else if (first < 'z') {
                ++first;
                second = 'a';
            } else {
                return std::nullopt;
            }
            return prefix + std::string(fileName.substr(0, fileName.size() - 2)) + first + second;
        }
    }
    return std::nullopt;
}

std::optional<bool> VolumeContinues(const std::string& path) {
    const std::string tail = Tail(path, 128);
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(tail[at]); };
    const auto crcMatches = [&](std::size_t at, std::size_t from, std::size_t length,
                                std::uint32_t mask) {
        std::uint32_t stored = 0;
        for (std::size_t i = 0; i < (mask > 0xFFFFu ? 4u : 2u); ++i) {
            stored |= std::uint32_t{byte(at + i)} << (8 * i);
        }
        return (Crc32(std::string_view(tail).substr(from, length)) & mask) == stored;
    };
    // The last end-of-archive header wins; zeros may pad the volume after it.
    for (std::size_t at = tail.size(); at-- > 0;) {
        // The newer format: CRC32, header size 3, type 5, header flags, archive flags (bit 0:
        // a volume follows), the CRC over the four bytes after it.
        if (at + 8 <= tail.size() && byte(at + 4) == 3 && byte(at + 5) == 5 &&
            crcMatches(at, at + 4, 4, 0xFFFFFFFFu)) {
            return (byte(at + 7) & 1) != 0;
        }
        // The older format: CRC16 (the low half of the CRC32 from the type on), type 0x7B,
        // flags (bit 0: a volume follows), the block's size, reaching to the file's end.
        if (at + 7 <= tail.size() && byte(at + 2) == 0x7B) {
            const std::size_t blockSize = byte(at + 5) | (std::size_t{byte(at + 6)} << 8);
            if (blockSize >= 7 && at + blockSize == tail.size() &&
                crcMatches(at, at + 2, blockSize - 2, 0xFFFFu)) {
                return (byte(at + 3) & 1) != 0;
            }
        }
    }
    return std::nullopt;
}

VolumeSet FindVolumes(const std::string& first) {
    VolumeSet set;
    std::string last = first;
    while (set.more.size() < kMaxVolumes) {
        const auto next = NextVolumeName(last);
        if (!next || !Exists(*next)) {
            if (next && VolumeContinues(last).value_or(false)) {
                set.missing = *next;
            }
            break;
        }
        set.more.push_back(*next);
        last = *next;
    }
    return set;
}

}  // namespace zembrat::unrar32
