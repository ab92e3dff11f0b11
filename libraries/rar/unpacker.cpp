#include "unpacker.h"

#include <algorithm>
#include <cstring>

#include "ppmd_h.h"
#include "unpacker_state.h"

namespace zembrat::rar {

Unpacker::Unpacker() : window_(kWindowSize, 0) {}

Unpacker::~Unpacker() = default;

void Unpacker::Fail(const std::string& reason) {
    throw Error(ErrorKind::kMember, reason);
}

void Unpacker::ResetCommon() {
    unpPtr_ = 0;
    wrPtr_ = 0;
    oldDist_.fill(0);
    oldDistPtr_ = 0;
    lastDist_ = 0;
    lastLength_ = 0;
}

void Unpacker::Decode(unsigned version, bool solid, const PackedSource& source, std::uint64_t size,
                      const ByteSink& sink) {
    const unsigned family = version == 26 ? 20 : version == 36 ? 29 : version;
    // A stream whose method changes cannot continue the one before.
    solid = solid && lastVersion_ == family;
    lastVersion_ = 0;  // until this member decodes whole
    if (!solid) {
        ResetCommon();
    }
    wrPtr_ = unpPtr_;
    in_.Start(source);
    sink_ = &sink;
    size_ = size;
    produced_ = 0;
    emitted_ = 0;
    switch (family) {
        case 15:
            Unpack15(solid);
            break;
        case 20:
            Unpack20(solid);
            break;
        case 29:
            Unpack29(solid);
            break;
        default:
            Fail("unsupported method version " + std::to_string(version));
    }
    lastVersion_ = family;
}

void Unpacker::CopyMatch(std::uint32_t length, std::uint32_t distance) {
    produced_ += length;
    std::uint32_t from = unpPtr_ - distance;
    const std::uint32_t to = unpPtr_ & kWindowMask;
    from &= kWindowMask;
    // One copy when neither range wraps around the window and they do not overlap there (a
    // distance past the window's size can bring them together).
    if (from + length <= kWindowSize && to + length <= kWindowSize &&
        (from + length <= to || to + length <= from)) {
        std::memcpy(window_.data() + to, window_.data() + from, length);
        unpPtr_ += length;
        return;
    }
    for (std::uint32_t i = 0; i < length; ++i) {
        window_[unpPtr_ & kWindowMask] = window_[(unpPtr_ - distance) & kWindowMask];
        ++unpPtr_;
    }
}

void Unpacker::EmitBytes(const std::uint8_t* data, std::size_t size) {
    if (emitted_ >= size_ || size == 0) {
        return;
    }
    const auto room = static_cast<std::size_t>(std::min<std::uint64_t>(size, size_ - emitted_));
    emitted_ += room;
    (*sink_)(std::span<const std::uint8_t>(data, room));
}

void Unpacker::Emit(std::uint32_t from, std::uint32_t to) {
    std::uint32_t count = to - from;
    while (count > 0) {
        const std::uint32_t at = from & kWindowMask;
        const std::uint32_t piece = std::min(count, kWindowSize - at);
        EmitBytes(window_.data() + at, piece);
        from += piece;
        count -= piece;
    }
}

void Unpacker::FlushPlain() {
    Emit(wrPtr_, unpPtr_);
    wrPtr_ = unpPtr_;
}

}  // namespace zembrat::rar
