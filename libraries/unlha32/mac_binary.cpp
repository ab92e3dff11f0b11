#include "unlha32/mac_binary.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

namespace zembrat::unlha32 {

namespace {

constexpr std::size_t kHeaderSize = 128;

std::uint32_t BigEndian(std::span<const std::byte, 128> bytes, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i) {
        value =
            (value << 8) | std::to_integer<std::uint32_t>(bytes[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

std::uint64_t Padded(std::uint64_t size) {
    return (size + kHeaderSize - 1) / kHeaderSize * kHeaderSize;
}

// Seconds from 1904-01-01 (the Macintosh's epoch) to 1970-01-01, both in the same zone.
constexpr std::int64_t kMacEpochOffset = 2082844800;
constexpr std::int64_t kOneDay = 24 * 60 * 60;

// A UTC time as the seconds a clock in the local zone showed then, counted from 1970: the
// Macintosh kept local time.
std::int64_t LocalSeconds(std::int64_t unixTime) {
    const auto time = static_cast<std::time_t>(unixTime);
    std::tm parts{};
    if (::localtime_r(&time, &parts) == nullptr) {
        return unixTime;
    }
    return unixTime + parts.tm_gmtoff;
}

}  // namespace

EnvelopedMember EnvelopedMember::Of(const lha::Member& member) {
    const std::size_t slash = member.path.find_last_of('/');
    return {slash == std::string::npos ? member.path : member.path.substr(slash + 1),
            member.originalSize, member.unixTime};
}

std::uint16_t MacBinaryCrc(std::span<const std::byte> bytes) {
    std::uint32_t crc = 0;
    for (const std::byte b : bytes) {
        crc ^= std::to_integer<std::uint32_t>(b) << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1;
        }
    }
    return static_cast<std::uint16_t>(crc);
}

std::optional<DataFork> FindDataFork(std::span<const std::byte, 128> header,
                                     const EnvelopedMember& member) {
    // The envelope is told from a file that merely starts like one by its agreement with the
    // member's own header: the same name, sizes that add up, a time of the same day.
    const std::uint32_t nameLength = BigEndian(header, 1, 1);
    if (BigEndian(header, 0, 1) != 0 || BigEndian(header, 0x4A, 1) != 0 ||
        BigEndian(header, 0x52, 1) != 0 || nameLength < 1 || nameLength > 63 ||
        BigEndian(header, 99, 2) != 0) {
        return std::nullopt;
    }
    const auto name = std::as_bytes(std::span(member.name.data(), member.name.size()));
    const auto nameField = header.subspan(2, 63);
    if (name.size() != nameLength || !std::equal(name.begin(), name.end(), nameField.begin()) ||
        std::any_of(nameField.begin() + nameLength, nameField.end(),
                    [](std::byte b) { return b != std::byte{0}; })) {
        return std::nullopt;
    }
    const std::uint64_t dataSize = BigEndian(header, 83, 4);
    const std::uint64_t resourceSize = BigEndian(header, 87, 4);
    const std::uint64_t dataAt = kHeaderSize + Padded(BigEndian(header, 120, 2));
    if (dataAt + Padded(dataSize) + Padded(resourceSize) != member.size) {
        return std::nullopt;
    }
    const std::int64_t envelopeTime = static_cast<std::int64_t>(BigEndian(header, 95, 4));
    if (std::llabs(envelopeTime - kMacEpochOffset - LocalSeconds(member.unixTime)) > kOneDay) {
        return std::nullopt;
    }
    return DataFork{dataAt, dataSize};
}

void MacBinaryFilter::Write(std::span<const std::byte> data) {
    if (!decided_) {
        const std::size_t take = std::min(data.size(), kHeaderSize - held_);
        std::copy_n(data.begin(), take, header_.begin() + static_cast<std::ptrdiff_t>(held_));
        held_ += take;
        data = data.subspan(take);
        if (held_ < kHeaderSize) {
            return;
        }
        decided_ = true;
        position_ = kHeaderSize;
        fork_ = FindDataFork(header_, member_);
        if (!fork_) {
            output_.Write(header_);
        }
    }
    if (!fork_) {
        output_.Write(data);
        return;
    }
    // Only the bytes inside [offset, offset + size).
    const std::uint64_t start = position_;
    position_ += data.size();
    const std::uint64_t from = std::max(start, fork_->offset);
    const std::uint64_t to = std::min(position_, fork_->offset + fork_->size);
    if (from < to) {
        output_.Write(data.subspan(static_cast<std::size_t>(from - start),
                                   static_cast<std::size_t>(to - from)));
    }
}

void MacBinaryFilter::Finish() {
    if (!decided_) {
        decided_ = true;
        output_.Write(std::span(header_).first(held_));
    }
}

}  // namespace zembrat::unlha32
