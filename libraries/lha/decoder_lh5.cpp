// The static Huffman family: -lh4-, -lh5-, -lh6-, -lh7- (one format, different windows), the
// 512 KiB -lhx-, and LHARK's -lk7- (longer matches and finer position codes).
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "decoder.h"
#include "huffman_decoder.h"

namespace zembrat::lha {
namespace {

constexpr int kLiteralCodes = 510;  // 256 literals + match lengths 3..256
constexpr int kLengthCodes = 19;    // codes of the code-length table
constexpr int kMinMatch = 3;
constexpr std::size_t kLharkWindow = 1 << 16;
constexpr std::size_t kChunk = 1 << 18;
constexpr std::size_t kMaxMatch = 1024;  // room past the chunk for one copy

// Decoded bytes with the history matches copy from; flushed to the output in chunks. The
// history starts as spaces, as the classic decoders have it.
class Window {
  public:
    Window(OutputStream& output, std::size_t history)
        : output_(output),
          history_(history),
          limit_(history + kChunk),
          buffer_(history + kChunk + kMaxMatch, ' '),
          position_(history) {}

    void Put(std::uint8_t byte) {
        buffer_[position_++] = byte;
        if (position_ >= limit_) {
            Flush();
        }
    }

    void Copy(std::size_t distance, std::size_t length) {
        std::uint8_t* to = buffer_.data() + position_;
        const std::uint8_t* from = to - distance;
        if (distance >= 8) {
            // Eight bytes at a time, inlined: each step reads bytes at least eight behind it,
            // already written, so overlapping copies come out right. The last step may run up
            // to seven bytes into the room kept past the chunk.
            for (std::size_t done = 0; done < length; done += 8) {
                std::memcpy(to + done, from + done, 8);
            }
        } else if (distance >= length) {
            std::memcpy(to, from, length);
        } else {
            // A repeating pattern: copy one period, then double what is written.
            std::memcpy(to, from, distance);
            std::size_t done = distance;
            while (done < length) {
                std::size_t step = std::min(done, length - done);
                std::memcpy(to + done, to, step);
                done += step;
            }
        }
        position_ += length;
        if (position_ >= limit_) {
            Flush();
        }
    }

    void Flush() {
        output_.Write(std::as_bytes(std::span(buffer_.data() + history_, position_ - history_)));
        std::memmove(buffer_.data(), buffer_.data() + position_ - history_, history_);
        position_ = history_;
    }

  private:
    OutputStream& output_;
    std::size_t history_;
    std::size_t limit_;
    std::vector<std::uint8_t> buffer_;
    std::size_t position_;
};

struct Variant {
    int dictionaryBits;  // the window is 2^dictionaryBits bytes
    int positionCodes;
    int positionBits;  // bits of the position table's count
    bool lhark;
};

class Lh5Decoder {
  public:
    Lh5Decoder(InputStream& input, std::uint64_t compressedSize, const Variant& variant)
        : bits_(input, compressedSize),
          variant_(variant),
          positionCodes_(variant.positionCodes),
          positionBits_(variant.positionBits) {}

    void Run(std::uint64_t originalSize, OutputStream& output) {
        Window window(output, std::size_t{1} << std::max(variant_.dictionaryBits, 16));
        std::uint64_t left = originalSize;
        while (left > 0) {
            if (blockLeft_ == 0) {
                ReadBlockHeader();
            }
            --blockLeft_;
            unsigned code = literals_.Decode(bits_);
            if (code < 256) {
                window.Put(static_cast<std::uint8_t>(code));
                --left;
                continue;
            }
            std::size_t length = variant_.lhark ? LharkLength(code) : code - 256 + kMinMatch;
            unsigned slot = positions_.Decode(bits_);
            std::size_t distance = 1;
            if (variant_.lhark) {
                distance += LharkPosition(slot);
                if (distance > kLharkWindow) {
                    CorruptData("match position beyond the window");
                }
            } else if (slot > 0) {
                distance +=
                    (std::size_t{1} << (slot - 1)) | bits_.GetLong(static_cast<int>(slot - 1));
            }
            length = static_cast<std::size_t>(std::min<std::uint64_t>(length, left));
            window.Copy(distance, length);
            left -= length;
        }
        window.Flush();
    }

  private:
    // LHARK: codes 256..263 copy 3..10 bytes, 264..287 a base and 1..6 extra bits, 288 514.
    std::size_t LharkLength(unsigned code) {
        if (code < 264) {
            return code - 256 + kMinMatch;
        }
        if (code < 288) {
            int extra = static_cast<int>(code - 260) / 4;
            return ((4 + (code % 4)) << extra) + bits_.Get(extra) + kMinMatch;
        }
        if (code == 288) {
            return 514;
        }
        CorruptData("match length code out of range");
    }

    // LHARK: slots 0..3 are positions themselves, then a base and (slot - 2) / 2 extra bits.
    std::size_t LharkPosition(unsigned slot) {
        if (slot < 4) {
            return slot;
        }
        int extra = static_cast<int>(slot - 2) / 2;
        return (std::size_t{2 + (slot % 2)} << extra) + bits_.Get(extra);
    }

    void ReadBlockHeader() {
        blockLeft_ = bits_.Get(16);
        if (blockLeft_ == 0) {
            CorruptData("empty block");
        }
        ReadSmallTable(lengthCodes_, kLengthCodes, 5, 3);
        ReadLiteralTable();
        ReadSmallTable(positions_, positionCodes_, positionBits_, -1);
    }

    // The code-length table and the position table: a count, then 3-bit lengths (7 and
    // more continue in unary). After the third length of the code-length table, 2 bits
    // give a run of zero lengths.
    void ReadSmallTable(HuffmanDecoder& table, int symbols, int countBits, int zeroRunAt) {
        int count = static_cast<int>(bits_.Get(countBits));
        if (count == 0) {
            unsigned only = bits_.Get(countBits);
            if (static_cast<int>(only) >= symbols) {
                CorruptData("single code out of range");
            }
            table.BuildSingle(static_cast<std::uint16_t>(only));
            return;
        }
        if (count > symbols) {
            CorruptData("table larger than its alphabet");
        }
        std::array<std::uint8_t, 64> lengths{};
        int i = 0;
        while (i < count) {
            unsigned length = bits_.Get(3);
            if (length == 7) {
                while (bits_.Get(1)) {
                    if (++length > 16) {
                        CorruptData("code length over 16");
                    }
                }
            }
            lengths[i++] = static_cast<std::uint8_t>(length);
            if (i == zeroRunAt) {
                int zeros = static_cast<int>(bits_.Get(2));
                while (zeros-- > 0 && i < count) {
                    lengths[i++] = 0;
                }
            }
        }
        table.Build(std::span(lengths).first(static_cast<std::size_t>(symbols)));
    }

    void ReadLiteralTable() {
        int count = static_cast<int>(bits_.Get(9));
        if (count == 0) {
            unsigned only = bits_.Get(9);
            if (only >= kLiteralCodes) {
                CorruptData("single literal code out of range");
            }
            literals_.BuildSingle(static_cast<std::uint16_t>(only));
            return;
        }
        if (count > kLiteralCodes) {
            CorruptData("literal table larger than its alphabet");
        }
        std::array<std::uint8_t, kLiteralCodes> lengths{};
        int i = 0;
        while (i < count) {
            unsigned code = lengthCodes_.Decode(bits_);
            if (code > 2) {
                lengths[i++] = static_cast<std::uint8_t>(code - 2);
                continue;
            }
            int zeros = code == 0   ? 1
                        : code == 1 ? static_cast<int>(bits_.Get(4)) + 3
                                    : static_cast<int>(bits_.Get(9)) + 20;
            if (i + zeros > count) {
                CorruptData("zero run past the literal table");
            }
            i += zeros;  // lengths are already 0
        }
        literals_.Build(lengths);
    }

    BitReader bits_;
    Variant variant_;
    int positionCodes_;
    int positionBits_;
    std::uint32_t blockLeft_ = 0;
    HuffmanDecoder lengthCodes_, literals_, positions_;
};

void Decode(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
            OutputStream& output, int dictionaryBits) {
    Variant variant{dictionaryBits, dictionaryBits <= 13 ? 14 : dictionaryBits + 1,
                    dictionaryBits <= 13 ? 4 : 5, false};
    Lh5Decoder(input, compressedSize, variant).Run(originalSize, output);
}

}  // namespace

void DecodeLh4(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output) {
    Decode(input, compressedSize, originalSize, output, 12);
}
void DecodeLh5(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output) {
    Decode(input, compressedSize, originalSize, output, 13);
}
void DecodeLh6(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output) {
    Decode(input, compressedSize, originalSize, output, 15);
}
void DecodeLh7(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output) {
    Decode(input, compressedSize, originalSize, output, 16);
}
void DecodeLhx(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output) {
    Decode(input, compressedSize, originalSize, output, 20);
}
void DecodeLk7(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
               OutputStream& output) {
    Lh5Decoder(input, compressedSize, Variant{16, 63, 6, true}).Run(originalSize, output);
}

}  // namespace zembrat::lha
