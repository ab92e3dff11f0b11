#include "lzx_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

// x86-64 processors with BMI2 get a second build of the decoding loop, chosen at run time
// (a test builds the decoder with ZEMBRAT_LZX_BMI2=0 to check the first one everywhere).
#ifndef ZEMBRAT_LZX_BMI2
#if defined(__x86_64__) && defined(__GNUC__)
#define ZEMBRAT_LZX_BMI2 1
#else
#define ZEMBRAT_LZX_BMI2 0
#endif
#endif

namespace zembrat::cab {

namespace {

constexpr unsigned kLiterals = 256;
constexpr unsigned kMaxSlots = 50;
constexpr unsigned kMaxMainSymbols = kLiterals + 8 * kMaxSlots;
constexpr unsigned kLengthSymbols = 249;
constexpr unsigned kPretreeSymbols = 20;
constexpr unsigned kAlignedSymbols = 8;
constexpr unsigned kMaxCodeLength = 16;
constexpr unsigned kMinMatch = 2;
constexpr unsigned kLengthHeaders = 7;  // a length header of 7 continues in the length tree
constexpr unsigned kVerbatim = 1, kAligned = 2, kUncompressed = 3;
// Call instructions are translated only in the first GiB of a folder.
constexpr std::uint64_t kTranslationLimit = std::uint64_t{1} << 30;
// A match is copied 8 bytes at a time: it may read and write this far past the ring's end.
constexpr std::size_t kCopySlack = 32;

// The number of position slots a window has.
constexpr unsigned SlotsFor(unsigned windowBits) {
    return windowBits == 21 ? 50 : windowBits == 20 ? 42 : 2 * windowBits;
}

struct SlotTables {
    std::array<std::uint8_t, kMaxSlots> extraBits{};
    std::array<std::uint32_t, kMaxSlots> base{};
};

constexpr SlotTables MakeSlotTables() {
    SlotTables tables;
    std::uint32_t base = 0;
    for (unsigned slot = 0; slot < kMaxSlots; ++slot) {
        const unsigned extra = slot < 4 ? 0 : std::min((slot - 2) / 2, 17u);
        tables.extraBits[slot] = static_cast<std::uint8_t>(extra);
        tables.base[slot] = base;
        base += 1u << extra;
    }
    return tables;
}

constexpr SlotTables kSlots = MakeSlotTables();

std::uint32_t LoadLe32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void StoreLe32(std::uint8_t* bytes, std::uint32_t value) {
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
    bytes[2] = static_cast<std::uint8_t>(value >> 16);
    bytes[3] = static_cast<std::uint8_t>(value >> 24);
}

// The frame's bytes with those of each 16-bit word swapped (an odd last byte is the low
// half of a word whose high half is 0).
void SwapWords(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& swapped) {
    swapped.resize(input.size() + (input.size() & 1));
    const std::size_t whole = input.size() & ~std::size_t{1};
    const std::uint8_t* from = input.data();
    std::uint8_t* to = swapped.data();
    std::size_t i = 0;
    // Eight words at a time in a vector register.
    using Words = std::uint16_t __attribute__((vector_size(16)));
    for (; i + sizeof(Words) <= whole; i += sizeof(Words)) {
        Words eight;
        std::memcpy(&eight, from + i, sizeof eight);
        eight = eight >> 8 | eight << 8;
        std::memcpy(to + i, &eight, sizeof eight);
    }
    for (; i < whole; i += 2) {
        to[i] = from[i + 1];
        to[i + 1] = from[i];
    }
    if (whole != input.size()) {
        swapped[whole] = 0;
        swapped[whole + 1] = input[whole];
    }
}

// The compressed bits of one frame: 16-bit little-endian words read most significant bit
// first, through a 64-bit buffer whose top bit is the next one. The reader is given the
// frame with each word's bytes swapped (SwapWords), so that loads of 8 big-endian bytes
// give four words in stream order. Past the end it reads zeros; the caller compares
// ConsumedBits() with the input's size where it matters.
struct BitReader {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t base = 0;  // where data starts in the frame's input
    std::size_t next = 0;  // the byte of data after the last word counted in (always even)
    std::uint64_t bits = 0;
    int count = 0;

    void Start(std::span<const std::uint8_t> swapped, std::size_t from) {
        data = swapped.data();
        size = swapped.size();
        base = from;
        next = 0;
        bits = 0;
        count = 0;
    }

    // At least 48 bits (and at most 63) in the buffer afterwards, without a branch on how
    // many were there: the next four words are loaded and as many whole ones as fit are
    // counted in. The bits of a word only partly counted are the stream's own, so loading
    // them again changes nothing.
    void Ensure() {
        std::uint64_t words;
        if (next + 8 <= size) {
            std::memcpy(&words, data + next, sizeof words);
            if constexpr (std::endian::native == std::endian::little) {
                words = __builtin_bswap64(words);
            }
        } else {
            words = 0;
            for (std::size_t i = 0; i < 8; ++i) {
                words = words << 8 | (next + i < size ? data[next + i] : 0);
            }
        }
        bits |= words >> count;
        const unsigned added = (63 - static_cast<unsigned>(count)) / 16;
        next += 2 * added;
        count += static_cast<int>(16 * added);
    }

    // 1 to 32 bits, after Ensure.
    std::uint32_t Read(unsigned n) {
        const auto value = static_cast<std::uint32_t>(bits >> (64 - n));
        Drop(n);
        return value;
    }

    // 0 to 32 bits, after Ensure, without a branch for 0.
    std::uint32_t ReadUpTo(unsigned n) {
        const auto value = static_cast<std::uint32_t>((bits >> 1) >> (63 - n));
        Drop(n);
        return value;
    }

    void Drop(unsigned n) {
        bits <<= n;
        count -= static_cast<int>(n);
    }

    std::uint64_t ConsumedBits() const { return std::uint64_t{base + next} * 8 - count; }

    // The byte after the last bit read, once the reader stands on a word boundary.
    std::size_t BytePosition() const { return base + next - static_cast<std::size_t>(count) / 8; }
};

// A canonical prefix code as a table indexed by the next tableBits bits; a code longer than
// that continues in a second-level table indexed by the following 16 - tableBits bits.
// Entries: symbol << 16 | code length, or subtable << 16 | kLink. Bit patterns no code
// covers give kInvalidSymbol with length 0, which every caller rejects.
template <unsigned kTableBits>
class HuffmanTable {
  public:
    static constexpr std::uint32_t kInvalidSymbol = 0xFFFF;

    // False when the lengths promise more codes than fit (an incomplete code is allowed).
    // Canonical codes grow with (length, symbol), so the table fills from its first entry
    // on in that order.
    bool Build(std::span<const std::uint8_t> lengths) {
        std::array<unsigned, kMaxCodeLength + 2> first{};  // of each length in sorted
        {
            // Two counts taking turns: a run of equal lengths does not wait on itself.
            std::array<unsigned, kMaxCodeLength + 2> other{};
            std::size_t i = 0;
            for (; i + 2 <= lengths.size(); i += 2) {
                ++first[lengths[i] + 1];
                ++other[lengths[i + 1] + 1];
            }
            if (i < lengths.size()) {
                ++first[lengths[i] + 1];
            }
            for (std::size_t length = 0; length < first.size(); ++length) {
                first[length] += other[length];
            }
        }
        int left = 1;
        for (unsigned length = 1; length <= kMaxCodeLength; ++length) {
            left = left * 2 - static_cast<int>(first[length + 1]);
            if (left < 0) {
                return false;
            }
        }
        first[1] = 0;
        for (unsigned length = 1; length <= kMaxCodeLength; ++length) {
            first[length + 1] += first[length];
        }
        std::array<std::uint16_t, kMaxMainSymbols> sorted;
        for (unsigned symbol = 0; symbol < lengths.size(); ++symbol) {
            if (const unsigned length = lengths[symbol]; length != 0) {
                sorted[first[length]++] = static_cast<std::uint16_t>(symbol);
            }
        }
        // first[length] is now where the codes one bit longer start.
        constexpr std::uint32_t kInvalid = kInvalidSymbol << 16;
        constexpr std::size_t kPrimary = std::size_t{1} << kTableBits;
        entries_.resize(kPrimary);
        std::uint32_t* table = entries_.data();
        std::size_t at = 0;
        unsigned index = 0;
        for (unsigned length = 1; length <= kTableBits; ++length) {
            const std::size_t span = kPrimary >> length;
            for (; index < first[length]; ++index) {
                std::fill_n(table + at, span, std::uint32_t{sorted[index]} << 16 | length);
                at += span;
            }
        }
        std::fill(table + at, table + kPrimary, kInvalid);
        // Longer codes, in 16-bit code units from where the short ones ended.
        constexpr unsigned kSubBits = kMaxCodeLength - kTableBits;
        std::size_t code = at << kSubBits;
        for (unsigned length = kTableBits + 1; length <= kMaxCodeLength; ++length) {
            const std::size_t span = std::size_t{1} << (kMaxCodeLength - length);
            for (; index < first[length]; ++index) {
                const std::size_t prefix = code >> kSubBits;
                if (!(entries_[prefix] & kLink)) {
                    const auto subtable = static_cast<std::uint32_t>(entries_.size());
                    entries_.resize(entries_.size() + (std::size_t{1} << kSubBits), kInvalid);
                    entries_[prefix] = subtable << 16 | kLink;
                }
                std::fill_n(entries_.begin() + static_cast<std::ptrdiff_t>(
                                                   (entries_[prefix] >> 16) +
                                                   (code & ((std::size_t{1} << kSubBits) - 1))),
                            span, std::uint32_t{sorted[index]} << 16 | length);
                code += span;
            }
        }
        return true;
    }

    // The next symbol; the reader must hold at least 16 bits. The hot loop passes the
    // entries it keeps in a register (its window stores could alias this object's fields).
    static unsigned Decode(const std::uint32_t* entries, BitReader& reader) {
        const std::uint32_t entry = Lookup(entries, reader.bits);
        reader.Drop(entry & 31);
        return entry >> 16;
    }

    // The entry of the code at the top of bits: symbol << 16 | length.
    static std::uint32_t Lookup(const std::uint32_t* entries, std::uint64_t bits) {
        const std::uint32_t entry = entries[bits >> (64 - kTableBits)];
        if (!(entry & kLink)) {
            return entry;
        }
        return entries[(entry >> 16) +
                       ((bits << kTableBits) >> (64 - (kMaxCodeLength - kTableBits)))];
    }

    unsigned Decode(BitReader& reader) const { return Decode(entries_.data(), reader); }

    const std::uint32_t* Entries() const { return entries_.data(); }

  private:
    static constexpr std::uint32_t kLink = 0x8000;
    std::vector<std::uint32_t> entries_;
};

// Undoes the translation of x86 call targets in one frame: an E8 byte followed by an
// absolute target inside the translated size becomes the relative one again. The last 10
// bytes of a frame are left alone.
void UndoCallTranslation(std::span<std::uint8_t> frame, std::uint64_t frameOffset,
                         std::uint32_t translationSize) {
    if (frame.size() <= 10) {
        return;
    }
    std::uint8_t* const start = frame.data();
    std::uint8_t* const end = start + frame.size() - 10;
    const auto size = static_cast<std::int64_t>(translationSize);
    for (std::uint8_t* at = start; at < end; at += 5) {
        at = static_cast<std::uint8_t*>(std::memchr(at, 0xE8, static_cast<std::size_t>(end - at)));
        if (at == nullptr) {
            return;
        }
        const auto position = static_cast<std::int64_t>(frameOffset) + (at - start);
        const std::int64_t target = static_cast<std::int32_t>(LoadLe32(at + 1));
        if (target >= -position && target < size) {
            const std::int64_t relative = target >= 0 ? target - position : target + size;
            StoreLe32(at + 1, static_cast<std::uint32_t>(relative));
        }
    }
}

}  // namespace

struct LzxDecoder::State {
    explicit State(unsigned bits)
        : windowBits(bits),
          usable(bits >= kMinWindowBits && bits <= kMaxWindowBits),
          windowSize(std::size_t{1} << (usable ? bits : kMinWindowBits)),
          // One frame more than the window: what an 8-byte match copy writes past its end
          // is then always farther back than any match can reach.
          ringSize(windowSize + kFrameSize),
          mainSymbols(kLiterals + 8 * SlotsFor(usable ? bits : kMinWindowBits)),
          ring(ringSize + kCopySlack) {}

    bool ReadBlockHeader();
    void StartBits(std::size_t at);
    bool ReadLengths(std::uint8_t* lengths, unsigned first, unsigned last);
    bool CopyUncompressed(std::size_t runEnd);
    // Decodes a verbatim or aligned block up to runEnd; false when the data is damaged.
    template <bool kAlignedBlock>
    bool DecodeRun(std::size_t runEnd);
    template <bool kAlignedBlock>
    [[gnu::always_inline]] bool DecodeRunBody(std::size_t runEnd);
#if ZEMBRAT_LZX_BMI2
    // The same compiled for processors with BMI2, whose shifts by a register take a third of
    // the time: the bit buffer shifts by a code's length after every symbol.
    template <bool kAlignedBlock>
    [[gnu::target("bmi2")]] bool DecodeRunBmi2(std::size_t runEnd);
#endif

    const unsigned windowBits;
    const bool usable;
    const std::size_t windowSize;
    const std::size_t ringSize;
    const unsigned mainSymbols;
    std::vector<std::uint8_t> ring;

    HuffmanTable<11> mainTree;
    HuffmanTable<10> lengthTree;
    HuffmanTable<7> alignedTree;
    HuffmanTable<8> pretree;
    std::array<std::uint8_t, kMaxMainSymbols> mainLengths{};
    std::array<std::uint8_t, kLengthSymbols> lengthLengths{};

    std::uint32_t r0 = 1, r1 = 1, r2 = 1;
    std::size_t position = 0;    // in the ring, of the next byte
    std::size_t frameStart = 0;  // in the ring
    std::uint64_t produced = 0;  // bytes of the folder before this frame
    bool headerRead = false;
    bool translate = false;
    std::uint32_t translationSize = 0;
    unsigned blockType = 0;
    std::uint32_t blockRemaining = 0;
    bool padAfterUncompressed = false;
    bool shortFrameSeen = false;
    bool failed = false;

    std::span<const std::uint8_t> input;
    std::vector<std::uint8_t> swappedInput;  // input for the bit reader (SwapWords)
    std::vector<std::uint8_t> translated;    // a frame with its call targets put back
    BitReader reader;
    bool byteMode = false;  // inside an uncompressed block: input read as bytes from bytePosition
    std::size_t bytePosition = 0;
};

LzxDecoder::LzxDecoder(unsigned windowBits) : state_(std::make_unique<State>(windowBits)) {}

LzxDecoder::~LzxDecoder() = default;

void LzxDecoder::Reset() {
    State& s = *state_;
    s.mainLengths.fill(0);
    s.lengthLengths.fill(0);
    s.r0 = s.r1 = s.r2 = 1;
    s.position = 0;
    s.produced = 0;
    s.headerRead = false;
    s.translate = false;
    s.translationSize = 0;
    s.blockType = 0;
    s.blockRemaining = 0;
    s.padAfterUncompressed = false;
    s.shortFrameSeen = false;
    s.failed = false;
    s.byteMode = false;
}

// The bit stream from byte at of the frame's input: at the frame's start, or after the bytes
// of an uncompressed block, which may leave it on an odd byte when the block began in an
// earlier frame.
void LzxDecoder::State::StartBits(std::size_t at) {
    at = std::min(at, input.size());
    SwapWords(input.subspan(at), swappedInput);
    reader.Start(swappedInput, at);
}

bool LzxDecoder::State::ReadLengths(std::uint8_t* lengths, unsigned first, unsigned last) {
    // A local reader: the stores into lengths could alias the member.
    BitReader in = reader;
    std::array<std::uint8_t, kPretreeSymbols> preLengths{};
    for (std::uint8_t& length : preLengths) {
        in.Ensure();
        length = static_cast<std::uint8_t>(in.Read(4));
    }
    if (!pretree.Build(preLengths)) {
        return false;
    }
    for (unsigned i = first; i < last;) {
        // The longest item: a code, a 1-bit run and another code, 31 bits.
        if (in.count < 31) {
            in.Ensure();
        }
        const unsigned code = pretree.Decode(in);
        if (code <= 16) {
            lengths[i] = static_cast<std::uint8_t>((lengths[i] + 17 - code) % 17);
            ++i;
            continue;
        }
        unsigned run;
        std::uint8_t value = 0;
        if (code == 17) {
            run = 4 + in.Read(4);
        } else if (code == 18) {
            run = 20 + in.Read(5);
        } else if (code == 19) {
            run = 4 + in.Read(1);
            const unsigned delta = pretree.Decode(in);
            if (delta > 16) {
                return false;
            }
            value = static_cast<std::uint8_t>((lengths[i] + 17 - delta) % 17);
        } else {
            return false;
        }
        if (run > last - i) {
            return false;
        }
        std::memset(lengths + i, value, run);
        i += run;
    }
    reader = in;
    return true;
}

bool LzxDecoder::State::ReadBlockHeader() {
    if (byteMode) {
        // The bit stream resumes after the uncompressed bytes, on a 16-bit boundary.
        StartBits(bytePosition + (padAfterUncompressed ? 1 : 0));
        byteMode = false;
        padAfterUncompressed = false;
    }
    reader.Ensure();
    blockType = reader.Read(3);
    blockRemaining = reader.Read(24);
    if (blockRemaining == 0 || blockType < kVerbatim || blockType > kUncompressed) {
        return false;
    }
    if (blockType == kUncompressed) {
        // 1 to 16 bits of padding up to the next word, then R0, R1 and R2 as bytes.
        reader.Ensure();
        const unsigned partial = static_cast<unsigned>(reader.count) % 16;
        reader.Drop(partial == 0 ? 16 : partial);
        bytePosition = reader.BytePosition();
        byteMode = true;
        if (bytePosition + 12 > input.size()) {
            return false;
        }
        r0 = LoadLe32(input.data() + bytePosition);
        r1 = LoadLe32(input.data() + bytePosition + 4);
        r2 = LoadLe32(input.data() + bytePosition + 8);
        bytePosition += 12;
        padAfterUncompressed = (blockRemaining & 1) != 0;
        return true;
    }
    if (blockType == kAligned) {
        std::array<std::uint8_t, kAlignedSymbols> alignedLengths{};
        for (std::uint8_t& length : alignedLengths) {
            reader.Ensure();
            length = static_cast<std::uint8_t>(reader.Read(3));
        }
        if (!alignedTree.Build(alignedLengths)) {
            return false;
        }
    }
    return ReadLengths(mainLengths.data(), 0, kLiterals) &&
           ReadLengths(mainLengths.data(), kLiterals, mainSymbols) &&
           mainTree.Build(std::span(mainLengths.data(), mainSymbols)) &&
           ReadLengths(lengthLengths.data(), 0, kLengthSymbols) &&
           lengthTree.Build(lengthLengths) && reader.ConsumedBits() <= input.size() * 8;
}

bool LzxDecoder::State::CopyUncompressed(std::size_t runEnd) {
    const std::size_t count = runEnd - position;
    if (bytePosition + count > input.size()) {
        return false;
    }
    std::memcpy(ring.data() + position, input.data() + bytePosition, count);
    bytePosition += count;
    position = runEnd;
    return true;
}

template <bool kAlignedBlock>
bool LzxDecoder::State::DecodeRun(std::size_t runEnd) {
#if ZEMBRAT_LZX_BMI2
    static const bool haveBmi2 = __builtin_cpu_supports("bmi2");
    if (haveBmi2) {
        return DecodeRunBmi2<kAlignedBlock>(runEnd);
    }
#endif
    return DecodeRunBody<kAlignedBlock>(runEnd);
}

#if ZEMBRAT_LZX_BMI2
template <bool kAlignedBlock>
bool LzxDecoder::State::DecodeRunBmi2(std::size_t runEnd) {
    return DecodeRunBody<kAlignedBlock>(runEnd);
}
#endif

template <bool kAlignedBlock>
inline bool LzxDecoder::State::DecodeRunBody(std::size_t runEnd) {
    BitReader in = reader;
    std::uint8_t* const window = ring.data();
    std::size_t at = position;
    std::array<std::uint32_t, 3> reps = {r0, r1, r2};
    // The folder's byte count at ring position 0 of this lap, for the history check.
    const std::uint64_t lapStart = produced - frameStart;
    const std::size_t mainLimit = mainSymbols - kLiterals;
    const std::size_t windowLimit = windowSize, ringLimit = ringSize;
    const std::uint32_t* const mainEntries = mainTree.Entries();
    const std::uint32_t* const lengthEntries = lengthTree.Entries();
    const std::uint32_t* const alignedEntries = alignedTree.Entries();
    bool sound = true;
    while (at < runEnd) {
        in.Ensure();
        unsigned symbol = decltype(mainTree)::Decode(mainEntries, in);
        if (symbol < kLiterals) {
            // A refill leaves at least 48 bits: room for two more codes, and with three bytes
            // left in the run no literal needs its own check.
            if (runEnd - at >= 3) {
                window[at++] = static_cast<std::uint8_t>(symbol);
                symbol = decltype(mainTree)::Decode(mainEntries, in);
                if (symbol >= kLiterals) {
                    goto match;
                }
                window[at++] = static_cast<std::uint8_t>(symbol);
                symbol = decltype(mainTree)::Decode(mainEntries, in);
                if (symbol < kLiterals) {
                    window[at++] = static_cast<std::uint8_t>(symbol);
                    continue;
                }
            } else {
                window[at++] = static_cast<std::uint8_t>(symbol);
                continue;
            }
        }
    match:
        const unsigned matchSymbol = symbol - kLiterals;
        if (matchSymbol >= mainLimit) {
            sound = false;
            break;
        }
        // The length tree is looked up for every match and its code taken only after a length
        // header of 7: one branch less that the processor could guess wrong.
        in.Ensure();
        const unsigned header = matchSymbol & 7;
        const bool longer = header == kLengthHeaders;
        const std::uint32_t lengthEntry = decltype(lengthTree)::Lookup(lengthEntries, in.bits);
        in.Drop(longer ? lengthEntry & 31 : 0);
        const unsigned more = longer ? lengthEntry >> 16 : 0;
        if (more >= kLengthSymbols) {
            sound = false;
            break;
        }
        const std::size_t length = header + kMinMatch + more;
        const unsigned slot = matchSymbol >> 3;
        std::uint32_t offset;
        if (slot < 3) {
            // A repeated offset trades places with R0.
            offset = reps[slot];
            reps[slot] = reps[0];
            reps[0] = offset;
        } else {
            // At most 16 bits were read since the refill: 32 or more are left.
            const unsigned extra = kSlots.extraBits[slot];
            std::uint32_t formatted = kSlots.base[slot];
            if (kAlignedBlock && extra >= 3) {
                formatted += in.ReadUpTo(extra - 3) << 3;
                const unsigned low = decltype(alignedTree)::Decode(alignedEntries, in);
                if (low >= kAlignedSymbols) {
                    sound = false;
                    break;
                }
                formatted += low;
            } else {
                formatted += in.ReadUpTo(extra);
            }
            offset = formatted - 2;
            reps[2] = reps[1];
            reps[1] = reps[0];
            reps[0] = offset;
        }
        // The match stays inside this run and copies from bytes already written.
        // One branch for all: an offset of 0 wraps round to the largest value.
        const std::uint64_t reach = std::min<std::uint64_t>(windowLimit, lapStart + at);
        if ((length > runEnd - at) | (std::uint64_t{offset} - 1 >= reach)) {
            sound = false;
            break;
        }
        std::uint8_t* to = window + at;
        if (offset <= at) {
            const std::uint8_t* from = to - offset;
            if (offset >= 8) {
                // Most matches are short: two moves, then the rest if any.
                std::memcpy(to, from, 8);
                std::memcpy(to + 8, from + 8, 8);
                for (std::size_t i = 16; i < length; i += 8) {
                    std::memcpy(to + i, from + i, 8);
                }
            } else if (offset == 1) {
                std::memset(to, *from, length);
            } else {
                for (std::size_t i = 0; i < length; ++i) {
                    to[i] = from[i];
                }
            }
        } else {
            // From the end of the ring, the lap before.
            std::size_t from = at + ringLimit - offset;
            if (from + length <= ringLimit) {
                for (std::size_t i = 0; i < length; i += 8) {
                    std::memcpy(to + i, window + from + i, 8);
                }
            } else {
                for (std::size_t i = 0; i < length; ++i) {
                    to[i] = window[from];
                    from = from + 1 == ringLimit ? 0 : from + 1;
                }
            }
        }
        at += length;
    }
    reader = in;
    position = at;
    r0 = reps[0];
    r1 = reps[1];
    r2 = reps[2];
    return sound;
}

std::span<const std::uint8_t> LzxDecoder::DecodeFrame(std::span<const std::uint8_t> input,
                                                      std::size_t frameSize) {
    State& s = *state_;
    if (!s.usable || s.failed || frameSize == 0 || frameSize > kFrameSize || s.shortFrameSeen) {
        s.failed = true;
        return {};
    }
    // Only a folder's last frame may be short: frames fill the ring in whole 32 KiB steps.
    s.shortFrameSeen = frameSize < kFrameSize;
    s.input = input;
    if (s.byteMode) {
        s.bytePosition = 0;
    } else {
        s.StartBits(0);
    }
    if (!s.headerRead) {
        s.reader.Ensure();
        s.translate = s.reader.Read(1) != 0;
        if (s.translate) {
            const std::uint32_t high = s.reader.Read(16);
            s.reader.Ensure();
            s.translationSize = high << 16 | s.reader.Read(16);
        }
        s.headerRead = true;
    }
    s.frameStart = s.position;
    const std::size_t frameEnd = s.position + frameSize;
    while (s.position < frameEnd) {
        if (s.blockRemaining == 0 && !s.ReadBlockHeader()) {
            s.failed = true;
            return {};
        }
        const std::size_t runEnd =
            s.position + std::min<std::size_t>(s.blockRemaining, frameEnd - s.position);
        const std::size_t runStart = s.position;
        const bool sound = s.blockType == kUncompressed ? s.CopyUncompressed(runEnd)
                           : s.blockType == kAligned    ? s.DecodeRun<true>(runEnd)
                                                        : s.DecodeRun<false>(runEnd);
        if (!sound) {
            s.failed = true;
            return {};
        }
        s.blockRemaining -= static_cast<std::uint32_t>(runEnd - runStart);
        // An odd-sized uncompressed block is followed by a pad byte: here, or at the start
        // of the next frame's data when the block ends this frame's.
        if (s.blockRemaining == 0 && s.padAfterUncompressed && s.bytePosition < input.size()) {
            ++s.bytePosition;
            s.padAfterUncompressed = false;
        }
    }
    // Every frame's bits end on a 16-bit boundary, inside its own block.
    bool inside;
    if (s.byteMode) {
        inside = s.bytePosition <= input.size();
    } else {
        s.reader.Drop(static_cast<unsigned>(s.reader.count) % 16);
        inside = s.reader.ConsumedBits() <= input.size() * 8;
    }
    if (!inside) {
        s.failed = true;
        return {};
    }
    std::span<const std::uint8_t> frame(s.ring.data() + s.frameStart, frameSize);
    if (s.translate && s.produced < kTranslationLimit) {
        // The ring keeps the translated bytes: later matches copy those.
        s.translated.assign(frame.begin(), frame.end());
        UndoCallTranslation(s.translated, s.produced, s.translationSize);
        frame = s.translated;
    }
    s.produced += frameSize;
    if (s.position == s.ringSize) {
        s.position = 0;
    }
    return frame;
}

}  // namespace zembrat::cab
