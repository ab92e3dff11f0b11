// The standard filters of version 2.9 archives (E8, E8E9, Itanium, delta, RGB, audio). An
// archive carries each filter as byte code; the reader knows the standard ones by the CRC and
// length of their code and runs its own implementation of them. Code of any other filter is
// never run.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zembrat::rar {

enum class FilterKind { kE8, kE8E9, kItanium, kDelta, kRgb, kAudio };

// The filter whose byte code this is; nothing for code that is none of the standard ones.
std::optional<FilterKind> RecogniseFilter(std::span<const std::uint8_t> code);

// A filter's working memory: the block is copied to its start.
inline constexpr std::uint32_t kFilterMemorySize = 0x40000;
inline constexpr std::uint32_t kFilterGlobalAddress = 0x3C000;

struct FilterRun {
    std::uint32_t offset = 0;  // of the filtered data in memory
    std::uint32_t size = 0;
};

// Runs the filter over the block at the start of memory (kFilterMemorySize + 4 bytes) with
// its seven registers; nothing when the registers ask for what the filter cannot do.
std::optional<FilterRun> RunFilter(FilterKind kind, std::span<const std::uint32_t, 7> registers,
                                   std::span<std::uint8_t> memory);

// A number as filter definitions store it: 4, 8, 16 or 32 bits after a two-bit size.
class FilterBits {
  public:
    explicit FilterBits(std::span<const std::uint8_t> data) : data_(data) {}
    std::uint32_t Peek16() const {
        const std::size_t byte = position_ >> 3;
        std::uint32_t word = 0;
        for (std::size_t i = 0; i < 3; ++i) {
            word = word << 8 | (byte + i < data_.size() ? data_[byte + i] : 0u);
        }
        return (word >> (8 - (position_ & 7))) & 0xFFFF;
    }
    void Skip(unsigned bits) { position_ += bits; }
    std::uint32_t ReadNumber();
    bool PastEnd() const { return (position_ >> 3) > data_.size(); }

  private:
    std::span<const std::uint8_t> data_;
    std::size_t position_ = 0;
};

}  // namespace zembrat::rar
