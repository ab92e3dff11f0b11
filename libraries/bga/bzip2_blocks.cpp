#include "bga/bzip2_blocks.h"

#include <bzlib.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

namespace zembrat::bga {

namespace {

constexpr std::uint64_t kBlockMark = 0x314159265359;
constexpr std::uint64_t kEndMark = 0x177245385090;
constexpr std::uint64_t kMask48 = (std::uint64_t{1} << 48) - 1;

unsigned Byte(std::span<const std::byte> bytes, std::size_t at) {
    return at < bytes.size() ? std::to_integer<unsigned>(bytes[at]) : 0u;
}

// The 48 bits starting at bit position bit (bits counted from the first byte's top bit).
std::uint64_t Bits48(std::span<const std::byte> bytes, std::uint64_t bit) {
    std::uint64_t word = 0;
    const auto at = static_cast<std::size_t>(bit / 8);
    for (std::size_t i = 0; i < 7; ++i) {
        word = word << 8 | Byte(bytes, at + i);
    }
    return (word >> (8 - bit % 8)) & kMask48;
}

std::uint32_t Bits32(std::span<const std::byte> bytes, std::uint64_t bit) {
    return static_cast<std::uint32_t>(Bits48(bytes, bit) >> 16);
}

class BitWriter {
  public:
    explicit BitWriter(std::vector<std::byte>& out) : out_(out) {}
    void Put(std::uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            current_ = static_cast<unsigned>(current_ << 1 | ((value >> i) & 1));
            if (++filled_ == 8) {
                out_.push_back(static_cast<std::byte>(current_));
                current_ = filled_ = 0;
            }
        }
    }
    // Copies bits [from, to) of the input; the writer must be at a byte boundary.
    void Copy(std::span<const std::byte> in, std::uint64_t from, std::uint64_t to) {
        const unsigned shift = from % 8;
        std::size_t at = static_cast<std::size_t>(from / 8);
        for (; from + 8 <= to; from += 8, ++at) {
            out_.push_back(static_cast<std::byte>(
                (Byte(in, at) << shift | Byte(in, at + 1) >> (8 - shift)) & 0xFF));
        }
        for (; from < to; ++from) {
            Put((Byte(in, static_cast<std::size_t>(from / 8)) >> (7 - from % 8)) & 1, 1);
        }
    }
    void Flush() {
        if (filled_ != 0) {
            Put(0, 8 - filled_);
        }
    }

  private:
    std::vector<std::byte>& out_;
    unsigned current_ = 0;
    int filled_ = 0;
};

struct DecompressEnd {
    void operator()(bz_stream* stream) const { BZ2_bzDecompressEnd(stream); }
};

// Decodes one stream whole; false when it fails or gives more than limit bytes.
bool DecodeStream(std::span<const std::byte> stream, std::uint64_t limit,
                  std::vector<std::byte>& out) {
    bz_stream state{};
    if (BZ2_bzDecompressInit(&state, 0, 0) != BZ_OK) {
        return false;
    }
    std::unique_ptr<bz_stream, DecompressEnd> owner(&state);
    state.next_in = const_cast<char*>(reinterpret_cast<const char*>(stream.data()));
    state.avail_in = static_cast<unsigned>(stream.size());
    out.resize(std::min<std::uint64_t>(limit + 1, 1 << 20));
    std::size_t produced = 0;
    for (;;) {
        if (produced == out.size()) {
            if (out.size() > limit) {
                return false;
            }
            out.resize(
                static_cast<std::size_t>(std::min<std::uint64_t>(limit + 1, out.size() * 2)));
        }
        state.next_out = reinterpret_cast<char*>(out.data() + produced);
        state.avail_out = static_cast<unsigned>(out.size() - produced);
        const int status = BZ2_bzDecompress(&state);
        produced = out.size() - state.avail_out;
        if (status == BZ_STREAM_END) {
            out.resize(produced);
            return produced <= limit && state.avail_in == 0;
        }
        if (status != BZ_OK || (state.avail_in == 0 && state.avail_out != 0)) {
            return false;
        }
    }
}

}  // namespace

bool DecodeBzip2Blocks(std::span<const std::byte> stream, std::uint64_t originalSize,
                       std::vector<std::vector<std::byte>>& blocks) {
    if (stream.size() < 14 || Byte(stream, 0) != 'B' || Byte(stream, 1) != 'Z' ||
        Byte(stream, 2) != 'h' || Byte(stream, 3) < '1' || Byte(stream, 3) > '9') {
        return false;
    }
    // Where every block starts, and where the end mark is: each byte position's 64-bit word
    // holds the 48 bits that start at any of its 8 bit positions.
    std::vector<std::uint64_t> starts;
    std::uint64_t end = 0;
    for (std::size_t at = 4; at + 8 <= stream.size() && end == 0; ++at) {
        std::uint64_t word = 0;
        std::memcpy(&word, stream.data() + at, sizeof word);
        word = __builtin_bswap64(word);
        for (unsigned shift = 0; shift < 8; ++shift) {
            const std::uint64_t bits = (word >> (16 - shift)) & kMask48;
            if (bits == kBlockMark) {
                starts.push_back(std::uint64_t{at} * 8 + shift);
            } else if (bits == kEndMark) {
                end = std::uint64_t{at} * 8 + shift;
                break;
            }
        }
    }
    if (starts.size() < 2 || end == 0 || (end + 80 + 7) / 8 != stream.size()) {
        return false;
    }
    // The stream's combined CRC is made of the blocks' CRCs.
    std::uint32_t combined = 0;
    for (const std::uint64_t start : starts) {
        combined = (combined << 1 | combined >> 31) ^ Bits32(stream, start + 48);
    }
    if (combined != Bits32(stream, end + 48)) {
        return false;
    }
    blocks.assign(starts.size(), {});
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    // What the blocks decoded so far hold: with it no block may go past the member's size, so
    // that memory stays within the size (and two blocks in flight) whatever the blocks claim.
    std::atomic<std::uint64_t> total{0};
    const auto work = [&] {
        std::vector<std::byte> piece;
        for (std::size_t i = next++; i < starts.size() && !failed; i = next++) {
            // The block alone as a stream: the header, the block, the end mark and, as the
            // stream's CRC, the block's own.
            piece.clear();
            BitWriter writer(piece);
            writer.Put(0x425A68, 24);
            writer.Put(Byte(stream, 3), 8);
            writer.Copy(stream, starts[i], i + 1 < starts.size() ? starts[i + 1] : end);
            writer.Put(kEndMark, 48);
            writer.Put(Bits32(stream, starts[i] + 48), 32);
            writer.Flush();
            const std::uint64_t before = total.load();
            if (before > originalSize || !DecodeStream(piece, originalSize - before, blocks[i]) ||
                (total += blocks[i].size()) > originalSize) {
                failed = true;
            }
        }
    };
    {
        std::jthread helper;
        try {
            helper = std::jthread(work);
        } catch (const std::system_error&) {
            // No second thread to be had: all the work here.
        }
        work();
    }
    return !failed && total == originalSize;
}

}  // namespace zembrat::bga
