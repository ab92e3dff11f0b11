// The static Huffman family: -lh4-, -lh5-, -lh6-, -lh7- (one format, different windows).
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
constexpr std::size_t kHistory = 1 << 16;  // enough for every window of the family
constexpr std::size_t kChunk = 1 << 18;
constexpr std::size_t kMaxMatch = 256;

[[noreturn]] void Corrupt(const char* why) {
    throw Error(ErrorKind::kCorruptData, why);
}

// Decoded bytes with the history matches copy from; flushed to the output in chunks. The
// history starts as spaces, as the classic decoders have it.
class Window {
  public:
    explicit Window(OutputStream& output)
        : output_(output), buffer_(kHistory + kChunk + kMaxMatch, ' ') {}

    void Put(std::uint8_t byte) {
        buffer_[position_++] = byte;
        if (position_ >= kLimit) {
            Flush();
        }
    }

    void Copy(std::size_t distance, std::size_t length) {
        std::uint8_t* to = buffer_.data() + position_;
        const std::uint8_t* from = to - distance;
        if (distance >= length) {
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
        if (position_ >= kLimit) {
            Flush();
        }
    }

    void Flush() {
        output_.Write(std::as_bytes(std::span(buffer_.data() + kHistory, position_ - kHistory)));
        std::memmove(buffer_.data(), buffer_.data() + position_ - kHistory, kHistory);
        position_ = kHistory;
    }

  private:
    static constexpr std::size_t kLimit = kHistory + kChunk;
    OutputStream& output_;
    std::vector<std::uint8_t> buffer_;
    std::size_t position_ = kHistory;
};

class Lh5Decoder {
  public:
    Lh5Decoder(InputStream& input, std::uint64_t compressedSize, int dictionaryBits)
        : bits_(input, compressedSize),
          positionCodes_(dictionaryBits <= 13 ? 14 : dictionaryBits + 1),
          positionBits_(dictionaryBits <= 13 ? 4 : 5) {}

    void Run(std::uint64_t originalSize, OutputStream& output) {
        Window window(output);
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
            std::size_t length = code - 256 + kMinMatch;
            unsigned slot = positions_.Decode(bits_);
            std::size_t distance = 1;
            if (slot > 0) {
                distance += (std::size_t{1} << (slot - 1)) | bits_.Get(static_cast<int>(slot - 1));
            }
            length = static_cast<std::size_t>(std::min<std::uint64_t>(length, left));
            window.Copy(distance, length);
            left -= length;
        }
        window.Flush();
    }

  private:
    void ReadBlockHeader() {
        blockLeft_ = bits_.Get(16);
        if (blockLeft_ == 0) {
            Corrupt("empty block");
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
                Corrupt("single code out of range");
            }
            table.BuildSingle(static_cast<std::uint16_t>(only));
            return;
        }
        if (count > symbols) {
            Corrupt("table larger than its alphabet");
        }
        std::array<std::uint8_t, 32> lengths{};
        int i = 0;
        while (i < count) {
            unsigned length = bits_.Get(3);
            if (length == 7) {
                while (bits_.Get(1)) {
                    if (++length > 16) {
                        Corrupt("code length over 16");
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
                Corrupt("single literal code out of range");
            }
            literals_.BuildSingle(static_cast<std::uint16_t>(only));
            return;
        }
        if (count > kLiteralCodes) {
            Corrupt("literal table larger than its alphabet");
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
                Corrupt("zero run past the literal table");
            }
            i += zeros;  // lengths are already 0
        }
        literals_.Build(lengths);
    }

    BitReader bits_;
    int positionCodes_;
    int positionBits_;
    std::uint32_t blockLeft_ = 0;
    HuffmanDecoder lengthCodes_, literals_, positions_;
};

void Decode(InputStream& input, std::uint64_t compressedSize, std::uint64_t originalSize,
            OutputStream& output, int dictionaryBits) {
    Lh5Decoder(input, compressedSize, dictionaryBits).Run(originalSize, output);
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

}  // namespace zembrat::lha
