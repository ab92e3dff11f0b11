#include "unrar32/volumes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "carried/carried_archive.h"

namespace zembrat::unrar32 {

namespace {

constexpr std::size_t kMaxVolumes = 999;
// How far into a self-extracting program its archive is sought.
constexpr std::size_t kSearchedBytes = 8u << 20;
constexpr std::string_view kSignature("Rar!\x1A\x07", 6);

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

// The counter one step on, keeping its width ('0'-'9' or 'a'-'z'); nothing when it would need
// another place.
std::optional<std::string> Increment(std::string_view counter, char low, char high) {
    std::string next(counter);
    for (auto it = next.rbegin(); it != next.rend(); ++it) {
        if (*it != high) {
            ++*it;
            return next;
        }
        *it = low;
    }
    return std::nullopt;
}

bool IsLetter(char c) {
    return c >= 'a' && c <= 'z';
}

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// The first or the last bytes of a file.
std::string ReadPart(const std::string& path, std::size_t size, bool fromEnd) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return {};
    }
    struct stat info {};
    std::string part;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        const auto length = static_cast<std::size_t>(info.st_size);
        part.resize(std::min(size, length));
        const ssize_t got = ::pread(fd, part.data(), part.size(),
                                    fromEnd ? static_cast<off_t>(length - part.size()) : 0);
        part.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    ::close(fd);
    return part;
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

// What a volume's main header says of its place in the set.
struct MainHeader {
    bool later = false;      // a volume of a set, but not its first
    bool newNaming = false;  // the older format: the set is named NAME.partN.rar
    std::size_t number = 0;  // the newer format: 2 for the second volume
};

// The older format: the signature, then CRC16, type 0x73, flags, size, six reserved bytes.
// Flags: 0x0001 a volume, 0x0010 named NAME.partN.rar, 0x0100 the first volume (sets made
// before that flag existed do not mark their first volume).
std::optional<MainHeader> ReadOlderMainHeader(std::string_view head) {
    constexpr std::size_t kAt = 7;
    if (head.size() < kAt + 7 || static_cast<unsigned char>(head[kAt + 2]) != 0x73) {
        return std::nullopt;
    }
    const auto byte = [&](std::size_t at) {
        return std::uint32_t{static_cast<unsigned char>(head[at])};
    };
    const std::uint32_t flags = byte(kAt + 3) | byte(kAt + 4) << 8;
    const std::size_t size = byte(kAt + 5) | byte(kAt + 6) << 8;
    if (size < 13 || kAt + size > head.size() ||
        (Crc32(head.substr(kAt + 2, size - 2)) & 0xFFFFu) != (byte(kAt) | byte(kAt + 1) << 8)) {
        return std::nullopt;
    }
    MainHeader header;
    header.later = (flags & 0x0001u) != 0 && (flags & 0x0100u) == 0;
    header.newNaming = (flags & 0x0010u) != 0;
    return header;
}

// The newer format: the signature, then CRC32 over the rest, the header's size, type 1, header
// flags (0x01 an extra area, 0x02 a data area: their sizes follow), archive flags (0x01 a
// volume, 0x02 the volume's number follows: 1 for the second volume; the first has none).
std::optional<MainHeader> ReadNewerMainHeader(std::string_view head) {
    constexpr std::size_t kAt = 8;
    std::size_t at = kAt + 4;
    bool overrun = false;
    const auto number = [&]() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (at >= head.size()) {
                break;
            }
            const auto byte = static_cast<unsigned char>(head[at++]);
            value |= std::uint64_t{byte & 0x7Fu} << shift;
            if ((byte & 0x80u) == 0) {
                return value;
            }
        }
        overrun = true;
        return value;
    };
    const std::uint64_t size = number();
    const std::size_t end =
        at + static_cast<std::size_t>(std::min<std::uint64_t>(size, head.size()));
    if (overrun || size == 0 || end > head.size() || number() != 1) {
        return std::nullopt;
    }
    std::uint32_t stored = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        stored |= std::uint32_t{static_cast<unsigned char>(head[kAt + i])} << (8 * i);
    }
    if (Crc32(head.substr(kAt + 4, end - kAt - 4)) != stored) {
        return std::nullopt;
    }
    const std::uint64_t headerFlags = number();
    for (std::uint64_t area = 0x01; area <= 0x02; area <<= 1) {
        if ((headerFlags & area) != 0) {
            number();
        }
    }
    const std::uint64_t archiveFlags = number();
    const std::uint64_t volume = (archiveFlags & 0x02u) != 0 ? number() : 0;
    if (overrun || at > end) {
        return std::nullopt;
    }
    MainHeader header;
    header.later = (archiveFlags & 0x01u) != 0 && volume > 0;
    header.number = header.later && volume < 1'000'000 ? static_cast<std::size_t>(volume) + 1 : 0;
    return header;
}

std::optional<MainHeader> ReadMainHeader(const std::string& path) {
    const std::string head = ReadPart(path, 4096, false);
    if (head.starts_with(std::string_view("Rar!\x1A\x07\x00", 7))) {
        return ReadOlderMainHeader(head);
    }
    if (head.starts_with(std::string_view("Rar!\x1A\x07\x01\x00", 8))) {
        return ReadNewerMainHeader(head);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::uint64_t> ArchiveStart(const std::string& path) {
    const std::string head = ReadPart(path, kSearchedBytes, false);
    if (head.starts_with(kSignature) || !(head.starts_with("MZ") || head.starts_with("\x7F"
                                                                                     "ELF"))) {
        return 0;  // an archive, or no program: the decoder tells which
    }
    const auto carried = carried::FindCarriedArchive(path);
    if (carried && carried->kind == carried::ArchiveKind::kRar) {
        return carried->offset;
    }
    if (carried::CarriesAnotherKind(carried, carried::ArchiveKind::kRar)) {
        return std::nullopt;
    }
    // Programs of other makers: the first signature whose main header is sound (its CRC),
    // however large the program in front of it.
    for (std::size_t at = head.find(kSignature); at != std::string::npos;
         at = head.find(kSignature, at + 1)) {
        const std::string_view rest = std::string_view(head).substr(at);
        if (ReadOlderMainHeader(rest) || ReadNewerMainHeader(rest)) {
            return at;
        }
    }
    return std::nullopt;
}

namespace {

// A volume's name split around its counter: before + counter + after.
struct VolumeName {
    enum class Naming {
        kPart,     // NAME.partN.rar: the counter is N, 1 for the first volume
        kRar,      // NAME.rar, first of NAME.r00, NAME.r01, ...: the counter is "rar"
        kRNumber,  // NAME.r00 (the second volume) ... NAME.r99: the counter is the digits
        kNumber,   // NAME.001 ...
        kLetters,  // NAME_aa, NAME_ab, ... (split's naming)
    };
    Naming naming;
    std::string before;
    std::string counter;
    std::string after;
};

std::optional<VolumeName> SplitVolumeName(std::string_view volume) {
    using Naming = VolumeName::Naming;
    const std::string_view fileName = volume.substr(volume.find_last_of('/') + 1);
    const std::string folder(volume.substr(0, volume.size() - fileName.size()));
    const auto split = [&](Naming naming, std::size_t at, std::size_t length) {
        return VolumeName{naming, folder + std::string(fileName.substr(0, at)),
                          std::string(fileName.substr(at, length)),
                          std::string(fileName.substr(at + length))};
    };
    if (EndsWithNoCase(fileName, ".rar")) {
        const std::string_view stem = fileName.substr(0, fileName.size() - 4);
        const std::size_t dot = stem.find_last_of('.');
        if (dot != std::string_view::npos && EndsWithNoCase(stem.substr(0, dot + 5), ".part") &&
            AllDigits(stem.substr(dot + 5))) {
            return split(Naming::kPart, dot + 5, stem.size() - dot - 5);
        }
        return split(Naming::kRar, fileName.size() - 3, 3);
    }
    const std::size_t dot = fileName.find_last_of('.');
    const std::string_view extension =
        dot == std::string_view::npos ? std::string_view() : fileName.substr(dot + 1);
    if (extension.size() == 3 && AllDigits(extension)) {
        return split(Naming::kNumber, dot + 1, 3);
    }
    if (extension.size() == 3 && std::tolower(static_cast<unsigned char>(extension[0])) == 'r' &&
        AllDigits(extension.substr(1))) {
        return split(Naming::kRNumber, dot + 2, 2);
    }
    const std::size_t size = fileName.size();
    if (size >= 3 && (fileName[size - 3] == '_' || fileName[size - 3] == '.') &&
        IsLetter(fileName[size - 2]) && IsLetter(fileName[size - 1])) {
        return split(Naming::kLetters, size - 2, 2);
    }
    return std::nullopt;
}

// The counter's value; nothing past a million (no set has that many volumes).
std::optional<std::size_t> CounterValue(std::string_view digits) {
    std::size_t value = 0;
    for (const char digit : digits) {
        value = value * 10 + static_cast<std::size_t>(digit - '0');
        if (value > 1'000'000) {
            return std::nullopt;
        }
    }
    return value;
}

}  // namespace

std::optional<std::string> NextVolumeName(std::string_view volume) {
    using Naming = VolumeName::Naming;
    const auto name = SplitVolumeName(volume);
    if (!name) {
        return std::nullopt;
    }
    // NAME.rar is followed by NAME.r00, the letter's case kept.
    const std::optional<std::string> next =
        name->naming == Naming::kRar ? std::optional<std::string>(name->counter.substr(0, 1) + "00")
        : name->naming == Naming::kLetters ? Increment(name->counter, 'a', 'z')
                                           : Increment(name->counter, '0', '9');
    if (!next) {
        return std::nullopt;
    }
    return name->before + *next + name->after;
}

std::optional<VolumePlace> PlaceByName(std::string_view volume) {
    using Naming = VolumeName::Naming;
    const auto name = SplitVolumeName(volume);
    if (!name) {
        return std::nullopt;
    }
    const std::string& counter = name->counter;
    VolumePlace place;
    std::string firstCounter;
    switch (name->naming) {
        case Naming::kPart:
        case Naming::kNumber: {
            const auto value = CounterValue(counter);
            if (!value || *value == 0) {
                return std::nullopt;
            }
            place.number = *value;
            firstCounter = std::string(counter.size() - 1, '0') + "1";
            break;
        }
        case Naming::kRar:
            place.number = 1;
            firstCounter = counter;
            break;
        case Naming::kRNumber:
            // NAME.r00 is the second volume; the first is NAME.rar in the letter's case.
            place.number = *CounterValue(counter) + 2;
            firstCounter = name->before.back() == 'R' ? "AR" : "ar";
            break;
        case Naming::kLetters:
            place.number = static_cast<std::size_t>(counter[0] - 'a') * 26 +
                           static_cast<std::size_t>(counter[1] - 'a') + 1;
            firstCounter = "aa";
            break;
    }
    place.first = name->before + firstCounter + name->after;
    return place;
}

std::optional<bool> VolumeContinues(const std::string& path) {
    const std::string tail = ReadPart(path, 128, true);
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

std::optional<LaterVolume> FindLaterVolume(const std::string& path) {
    const auto header = ReadMainHeader(path);
    if (!header || !header->later) {
        return std::nullopt;
    }
    auto place = PlaceByName(path);
    // A renamed volume may carry the first volume's name: then the first cannot be told.
    if (place && place->number <= 1) {
        place.reset();
    }
    // Older sets that do not mark their first volume: the name tells which one is.
    if (!header->newNaming && header->number == 0 && !place) {
        return std::nullopt;
    }
    LaterVolume later;
    later.number = header->number != 0 ? header->number : place ? place->number : 0;
    if (place) {
        later.first = std::move(place->first);
        later.firstFound = Exists(later.first);
    }
    return later;
}

}  // namespace zembrat::unrar32
