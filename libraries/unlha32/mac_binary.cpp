#include "unlha32/mac_binary.h"

#include <algorithm>

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

}  // namespace

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
                                     std::uint64_t memberSize) {
    const std::uint32_t nameLength = BigEndian(header, 1, 1);
    if (BigEndian(header, 0, 1) != 0 || BigEndian(header, 74, 1) != 0 ||
        BigEndian(header, 82, 1) != 0 || nameLength < 1 || nameLength > 63 ||
        MacBinaryCrc(header.first(124)) != BigEndian(header, 124, 2)) {
        return std::nullopt;
    }
    const std::uint64_t dataSize = BigEndian(header, 83, 4);
    const std::uint64_t resourceSize = BigEndian(header, 87, 4);
    const std::uint64_t dataAt = kHeaderSize + Padded(BigEndian(header, 120, 2));
    // The resource fork follows the padded data fork; the last fork need not be padded.
    const std::uint64_t end =
        resourceSize == 0 ? dataAt + dataSize : dataAt + Padded(dataSize) + resourceSize;
    if (end > memberSize) {
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
        fork_ = FindDataFork(header_, memberSize_);
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
