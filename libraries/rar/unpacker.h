// The decoder of one solid stream: the window every method writes into, the state each
// method keeps from one member to the next, and the member's output. Each method lives in a
// file of its own (decoder_15.cpp, decoder_20.cpp, decoder_29.cpp; PPMd in ppmd_h.cpp, the
// filters in filters.cpp); this file's own code is what they share.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "bit_input.h"
#include "huffman.h"
#include "rar/archive.h"

namespace zembrat::rar {

class PpmModel;
struct FilterSet;

// The decoded bytes of the member, in order; may throw to stop.
using ByteSink = std::function<void(std::span<const std::uint8_t>)>;

class Unpacker {
  public:
    Unpacker();
    ~Unpacker();
    Unpacker(const Unpacker&) = delete;
    Unpacker& operator=(const Unpacker&) = delete;

    // Decodes one member of `size` bytes made by the method of `version` (15, 20, 26, 29);
    // solid: it continues the stream of the member decoded before. Throws Error(kMember) when
    // the data cannot be decoded; the bytes already given to sink are the caller's to drop.
    void Decode(unsigned version, bool solid, const PackedSource& source, std::uint64_t size,
                const ByteSink& sink);

    static constexpr std::uint32_t kWindowSize = 0x400000;  // 4 MB, the largest dictionary
    static constexpr std::uint32_t kWindowMask = kWindowSize - 1;

  private:
    // Shared by the methods.
    void ResetCommon();
    void CopyMatch(std::uint32_t length, std::uint32_t distance);
    void PutByte(std::uint8_t byte) {
        window_[unpPtr_++ & kWindowMask] = byte;
        ++produced_;
    }
    // Hands window bytes from wrPtr_ to end (masked) to the member's output.
    void Emit(std::uint32_t from, std::uint32_t to);
    void EmitBytes(const std::uint8_t* data, std::size_t size);
    void FlushPlain();
    bool OutputFull() const { return produced_ >= size_; }
    [[noreturn]] static void Fail(const std::string& reason);

    // Version 1.5.
    void Unpack15(bool solid);
    void Reset15();
    void InitHuff15();
    void CorrHuff15(std::uint32_t* set, std::uint32_t* numToPlace);
    std::uint32_t DecodeNum15(std::uint32_t bits, unsigned start, const std::uint32_t* limits,
                              const std::uint32_t* positions);
    void GetFlags15();
    bool NextFlag15();  // the next bit of the flag byte, read anew when used up
    void ShortLz15();
    void LongLz15();
    void Huff15();
    // Copies a match and makes it the one a repeat code copies again; `remembered` also puts
    // its distance among the four old ones.
    void Match15(std::uint32_t distance, std::uint32_t length, bool remembered);

    // Version 2.0 and 2.6.
    void Unpack20(bool solid);
    void Reset20();
    bool ReadTables20();
    void ReadLastTables20();
    std::uint8_t DecodeAudio20(int delta);
    void Copy20(std::uint32_t length, std::uint32_t distance);

    // Version 2.9 to 4.x.
    void Unpack29(bool solid);
    void Reset29(bool solid);
    bool ReadTables29();
    bool ReadEndOfBlock29();
    bool ReadFilterCode29();
    bool ReadFilterCodePpm29();
    bool AddFilter29(unsigned firstByte, std::span<const std::uint8_t> code);
    void InsertOldDist(std::uint32_t distance);
    void Flush29();
    void RunFilters29();

    std::vector<std::uint8_t> window_;
    std::uint32_t unpPtr_ = 0;
    std::uint32_t wrPtr_ = 0;
    BitInput in_;
    const ByteSink* sink_ = nullptr;
    std::uint64_t size_ = 0;      // the member's size
    std::uint64_t produced_ = 0;  // bytes the decoder made for this member
    std::uint64_t emitted_ = 0;   // bytes handed to the sink

    // The LZ state versions 2.0 and 2.9 share.
    std::array<std::uint32_t, 4> oldDist_{};
    unsigned oldDistPtr_ = 0;
    std::uint32_t lastDist_ = 0;
    std::uint32_t lastLength_ = 0;

    struct State15;
    struct State20;
    struct State29;
    std::unique_ptr<State15> s15_;
    std::unique_ptr<State20> s20_;
    std::unique_ptr<State29> s29_;
    std::unique_ptr<PpmModel> ppm_;
    unsigned lastVersion_ = 0;
};

}  // namespace zembrat::rar
