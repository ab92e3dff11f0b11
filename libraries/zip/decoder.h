// The one interface every ZIP method's decoder implements, and the registry of method ids.
// A decoder reads the member's compressed bytes piece by piece and hands what it decodes to
// an Output in pieces; its memory is fixed whatever the member's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "zip/zip.h"

namespace zembrat::zip::decode {

// The compressed bytes of one member.
class Input {
  public:
    virtual ~Input() = default;
    // The next piece; empty at the end of the member's data.
    virtual std::span<const std::byte> Next() = 0;
    // How many compressed bytes the member has in all.
    virtual std::uint64_t Length() const = 0;
};

// A member's compressed bytes held in memory (tests and fuzzing).
class MemoryInput final : public Input {
  public:
    explicit MemoryInput(std::span<const std::byte> data) : data_(data) {}
    std::span<const std::byte> Next() override {
        const auto piece = data_.subspan(taken_);
        taken_ = data_.size();
        return piece;
    }
    std::uint64_t Length() const override { return data_.size(); }

  private:
    std::span<const std::byte> data_;
    std::size_t taken_ = 0;
};

// Where decoded bytes go. Write throws to stop the decoder (data past the member's size, an
// aborted run).
class Output {
  public:
    virtual ~Output() = default;
    virtual void Write(std::span<const std::byte> data) = 0;
};

struct Member {
    std::uint16_t method = 0;
    std::uint16_t flags = 0;  // general-purpose flags: Implode's window and trees, LZMA's end mark
    std::uint64_t size = 0;   // the uncompressed size the directory gives
};

// What a decoder throws when the data cannot be what it claims.
[[noreturn]] inline void Corrupt(const char* why) {
    throw Error(ErrorKind::kMember, std::string("damaged data: ") + why);
}

// Decodes the whole member into out. Methods without an end mark (Shrink, Reduce, Implode)
// stop at member.size; the others stop at their end mark, and out sees any excess.
using DecodeFunction = void (*)(Input& in, const Member& member, Output& out);

// The decoder for a method, or nullptr when the method is read elsewhere (the helper).
DecodeFunction FindDecoder(std::uint16_t method);

// One source file each.
void DecodeStored(Input& in, const Member& member, Output& out);
void DecodeDeflate(Input& in, const Member& member, Output& out);
void DecodeDeflate64(Input& in, const Member& member, Output& out);
void DecodeShrink(Input& in, const Member& member, Output& out);
void DecodeReduce(Input& in, const Member& member, Output& out);
void DecodeImplode(Input& in, const Member& member, Output& out);
void DecodeBzip2(Input& in, const Member& member, Output& out);
void DecodeLzma(Input& in, const Member& member, Output& out);
void DecodeXz(Input& in, const Member& member, Output& out);
void DecodeZstd(Input& in, const Member& member, Output& out);

}  // namespace zembrat::zip::decode
