// The shared pieces and the container on hand-made input: the bit reader across chunk
// boundaries, canonical Huffman codes of every length, the standard filters undoing what an
// encoder written here does, and headers that honest writers rarely write.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "bit_input.h"
#include "filters.h"
#include "huffman.h"
#include "rar_builder.h"

// The members below name only the fields they set.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace zembrat::rar::testing {
namespace {

// Bits written most significant first, as the packed data holds them.
class BitWriter {
  public:
    void Put(std::uint32_t value, unsigned bits) {
        for (unsigned i = bits; i > 0; --i) {
            current_ = static_cast<std::uint8_t>(current_ << 1 | ((value >> (i - 1)) & 1));
            if (++count_ == 8) {
                bytes_.push_back(current_);
                count_ = 0;
            }
        }
    }
    std::vector<std::uint8_t> Finish() {
        if (count_ != 0) {
            Put(0, 8 - count_);
        }
        return bytes_;
    }

  private:
    std::vector<std::uint8_t> bytes_;
    std::uint8_t current_ = 0;
    unsigned count_ = 0;
};

// A source that gives a few bytes at a time.
PackedSource Trickle(const std::vector<std::uint8_t>& bytes, std::size_t step) {
    return [&bytes, step, at = std::size_t{0}](std::span<std::uint8_t> out) mutable {
        const std::size_t n = std::min({step, out.size(), bytes.size() - at});
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), n, out.begin());
        at += n;
        return n;
    };
}

TEST(RarParts, CanonicalCodesOfEveryLengthDecodeThroughChunkBoundaries) {
    const std::vector<std::vector<std::uint8_t>> tables = {
        {1, 2, 3, 3},                                             // complete, short
        {2, 2, 2, 3, 4, 4},                                       // incomplete
        {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15},  // every length
        {0, 3, 0, 3, 3, 3, 3, 3, 3, 0, 4, 4},                     // zeros between
        std::vector<std::uint8_t>(299, 9),                        // a main table's size
    };
    std::mt19937 random(7);
    for (const auto& lengths : tables) {
        SCOPED_TRACE(lengths.size());
        // The canonical codes: by length, then by symbol.
        std::map<unsigned, std::pair<std::uint32_t, unsigned>> codes;
        std::uint32_t code = 0;
        for (unsigned length = 1; length <= 15; ++length) {
            for (unsigned symbol = 0; symbol < lengths.size(); ++symbol) {
                if (lengths[symbol] == length) {
                    codes[symbol] = {code++, length};
                }
            }
            code <<= 1;
        }
        std::vector<unsigned> symbols;
        BitWriter writer;
        for (int i = 0; i < 5000; ++i) {
            auto it = codes.begin();
            std::advance(it, random() % codes.size());
            symbols.push_back(it->first);
            writer.Put(it->second.first, it->second.second);
        }
        const std::vector<std::uint8_t> bytes = writer.Finish();
        HuffmanTable table;
        table.Build(lengths);
        for (const std::size_t step : {std::size_t{1}, std::size_t{3}, bytes.size()}) {
            const PackedSource source = Trickle(bytes, step);
            BitInput input;
            input.Start(source);
            for (const unsigned expected : symbols) {
                ASSERT_EQ(table.Decode(input), expected);
            }
            EXPECT_FALSE(input.PastEnd());
            input.Skip(64);
            EXPECT_TRUE(input.PastEnd());
        }
    }
}

// Encoders for the filters, written from what each filter undoes.
std::vector<std::uint8_t> EncodeX86(std::vector<std::uint8_t> data, std::uint32_t fileOffset,
                                    bool jumps) {
    constexpr std::int64_t kFileSize = 0x1000000;
    for (std::size_t at = 0; at + 4 < data.size();) {
        const std::uint8_t op = data[at++];
        if (op != 0xE8 && !(jumps && op == 0xE9)) {
            continue;
        }
        const std::int64_t offset = static_cast<std::int64_t>(at) + fileOffset;
        std::int32_t relative;
        std::memcpy(&relative, &data[at], 4);
        std::int64_t stored = relative;
        if (relative >= -offset && relative < kFileSize - offset) {
            stored = relative + offset;
        } else if (relative >= kFileSize - offset && relative < kFileSize) {
            stored = relative - kFileSize;
        }
        const auto value = static_cast<std::uint32_t>(stored);
        std::memcpy(&data[at], &value, 4);
        at += 4;
    }
    return data;
}

// Itanium bundles: branch targets (20 bits at 13 into a slot whose op type, 4 bits at 37,
// is 5) made absolute by adding the bundle's number.
std::vector<std::uint8_t> EncodeItanium(std::vector<std::uint8_t> data, std::uint32_t fileOffset) {
    static constexpr std::uint8_t kSlots[16] = {4, 4, 6, 6, 0, 0, 7, 7, 4, 4, 0, 0, 4, 4, 0, 0};
    const auto bit = [&](std::size_t at, unsigned position) {
        return (data[at + position / 8] >> (position % 8)) & 1u;
    };
    const auto bits = [&](std::size_t at, unsigned position, unsigned count) {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i) {
            value |= bit(at, position + i) << i;
        }
        return value;
    };
    std::uint32_t bundle = fileOffset >> 4;
    for (std::size_t at = 0; at + 21 < data.size(); at += 16, ++bundle) {
        const int templ = (data[at] & 0x1F) - 0x10;
        if (templ < 0) {
            continue;
        }
        for (unsigned slot = 0; slot < 3; ++slot) {
            const unsigned start = slot * 41 + 5;
            if ((kSlots[templ] & (1u << slot)) == 0 || bits(at, start + 37, 4) != 5) {
                continue;
            }
            const std::uint32_t target = (bits(at, start + 13, 20) + bundle) & 0xFFFFF;
            for (unsigned i = 0; i < 20; ++i) {
                std::uint8_t& byte = data[at + (start + 13 + i) / 8];
                const unsigned shift = (start + 13 + i) % 8;
                byte = static_cast<std::uint8_t>((byte & ~(1u << shift)) |
                                                 (((target >> i) & 1u) << shift));
            }
        }
    }
    return data;
}

std::vector<std::uint8_t> EncodeDelta(const std::vector<std::uint8_t>& data, unsigned channels) {
    std::vector<std::uint8_t> out;
    for (unsigned channel = 0; channel < channels; ++channel) {
        std::uint8_t previous = 0;
        for (std::size_t i = channel; i < data.size(); i += channels) {
            out.push_back(static_cast<std::uint8_t>(previous - data[i]));
            previous = data[i];
        }
    }
    return out;
}

std::vector<std::uint8_t> EncodeRgb(const std::vector<std::uint8_t>& data, std::uint32_t width,
                                    std::uint32_t redAt) {
    std::vector<std::uint8_t> planes = data;  // before the green is added back
    for (std::size_t i = redAt; i + 2 < data.size(); i += 3) {
        planes[i] = static_cast<std::uint8_t>(data[i] - data[i + 1]);
        planes[i + 2] = static_cast<std::uint8_t>(data[i + 2] - data[i + 1]);
    }
    std::vector<std::uint8_t> out;
    for (std::size_t channel = 0; channel < 3; ++channel) {
        int previous = 0;
        for (std::size_t i = channel; i < planes.size(); i += 3) {
            int predicted = previous;
            if (i >= width + 3) {
                const int upper = planes[i - width];
                const int upperLeft = planes[i - width - 3];
                const int guess = previous + upper - upperLeft;
                const int pa = std::abs(guess - previous);
                const int pb = std::abs(guess - upper);
                const int pc = std::abs(guess - upperLeft);
                predicted = pa <= pb && pa <= pc ? previous : pb <= pc ? upper : upperLeft;
            }
            out.push_back(static_cast<std::uint8_t>(predicted - planes[i]));
            previous = planes[i];
        }
    }
    return out;
}

std::vector<std::uint8_t> EncodeAudio(const std::vector<std::uint8_t>& data, unsigned channels) {
    std::vector<std::uint8_t> out;
    for (unsigned channel = 0; channel < channels; ++channel) {
        int previous = 0, previousDelta = 0, d1 = 0, d2 = 0, d3 = 0, k1 = 0, k2 = 0, k3 = 0;
        unsigned dif[7] = {};
        for (std::size_t i = channel, count = 0; i < data.size(); i += channels, ++count) {
            d3 = d2;
            d2 = previousDelta - d1;
            d1 = previousDelta;
            const int predicted = ((8 * previous + k1 * d1 + k2 * d2 + k3 * d3) >> 3) & 0xFF;
            const auto current = static_cast<std::uint8_t>(predicted - data[i]);
            out.push_back(current);
            previousDelta = static_cast<signed char>(data[i] - previous);
            previous = data[i];
            const int d = static_cast<signed char>(current) * 8;
            const int options[7] = {d, d - d1, d + d1, d - d2, d + d2, d - d3, d + d3};
            for (int j = 0; j < 7; ++j) {
                dif[j] += static_cast<unsigned>(std::abs(options[j]));
            }
            if ((count & 0x1F) == 0) {
                unsigned least = dif[0], which = 0;
                for (unsigned j = 1; j < 7; ++j) {
                    if (dif[j] < least) {
                        least = dif[j];
                        which = j;
                    }
                }
                std::fill(std::begin(dif), std::end(dif), 0u);
                int* k[3] = {&k1, &k2, &k3};
                if (which != 0) {
                    int& coefficient = *k[(which - 1) / 2];
                    coefficient += (which & 1) != 0 ? -(coefficient >= -16) : (coefficient < 16);
                }
            }
        }
    }
    return out;
}

TEST(RarParts, EachStandardFilterUndoesItsEncoder) {
    std::mt19937 random(11);
    std::vector<std::uint8_t> data(30000);
    for (std::size_t i = 0; i < data.size(); ++i) {
        // Smooth data with calls, jumps and bundle templates sprinkled in; op type 5 often.
        data[i] = (i % 97 == 5)    ? 0xE8
                  : (i % 101 == 7) ? 0xE9
                  : (i % 16 == 0)  ? static_cast<std::uint8_t>(0x10 + random() % 16)
                  : (i % 16 == 5)  ? 0x14
                  : (i % 16 == 10) ? 0x28
                  : (i % 16 == 15) ? 0x50
                                   : static_cast<std::uint8_t>(i / 7 + random() % 5);
    }
    struct Case {
        const char* name;
        FilterKind kind;
        std::array<std::uint32_t, 7> registers;  // R[4], the size, is set below
        std::vector<std::uint8_t> encoded;
    };
    const Case cases[] = {
        {"E8", FilterKind::kE8, {0, 0, 0, 0, 0, 0, 1000}, EncodeX86(data, 1000, false)},
        {"E8E9", FilterKind::kE8E9, {0, 0, 0, 0, 0, 0, 0xFFF000}, EncodeX86(data, 0xFFF000, true)},
        {"Itanium",
         FilterKind::kItanium,
         {0, 0, 0, 0, 0, 0, 0x123450},
         EncodeItanium(data, 0x123450)},
        {"delta, 3 channels", FilterKind::kDelta, {3}, EncodeDelta(data, 3)},
        {"RGB, 300 bytes a row", FilterKind::kRgb, {303, 1}, EncodeRgb(data, 300, 1)},
        {"audio, 2 channels", FilterKind::kAudio, {2}, EncodeAudio(data, 2)},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_NE(test.encoded, data);
        std::vector<std::uint8_t> memory(kFilterMemorySize + 4);
        std::copy(test.encoded.begin(), test.encoded.end(), memory.begin());
        auto registers = test.registers;
        registers[4] = static_cast<std::uint32_t>(data.size());
        const auto run = RunFilter(test.kind, registers, memory);
        ASSERT_TRUE(run);
        ASSERT_EQ(run->size, data.size());
        EXPECT_TRUE(std::equal(data.begin(), data.end(), memory.begin() + run->offset));
    }
    // Registers no filter takes, and code that is no standard filter.
    std::vector<std::uint8_t> memory(kFilterMemorySize + 4);
    const std::array<std::uint32_t, 7> tooLarge = {1, 0, 0, 0, kFilterMemorySize / 2 + 1, 0, 0};
    EXPECT_FALSE(RunFilter(FilterKind::kDelta, tooLarge, memory));
    const std::array<std::uint32_t, 7> noChannels = {0, 0, 0, 0, 100, 0, 0};
    EXPECT_FALSE(RunFilter(FilterKind::kAudio, noChannels, memory));
    EXPECT_FALSE(RecogniseFilter(std::vector<std::uint8_t>(53, 0x90)));
}

struct Read {
    std::vector<std::pair<std::string, std::string>> members;  // name, data or "!" + error
    std::string error;
    std::vector<Member> headers;
};

Read ReadAll(const std::string& bytes) {
    Read read;
    try {
        Reader reader(MemoryInput(std::as_bytes(std::span(bytes.data(), bytes.size()))));
        while (auto member = reader.Next()) {
            read.headers.push_back(*member);
            std::string data;
            try {
                reader.Extract(*member, [&](std::span<const std::byte> chunk) {
                    data.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
                });
            } catch (const Error& error) {
                data = std::string("!") + error.what();
            }
            read.members.emplace_back(member->name, data);
        }
    } catch (const Error& error) {
        read.error = error.what();
    }
    return read;
}

TEST(RarContainer, HeadersHonestWritersRarelyWrite) {
    // The Unicode forms: whole characters (4 0x04xx), a run from the single-byte form, and a
    // run corrected under a high byte.
    const std::string cyrillic =
        std::string("????.txt\0", 9) +
        std::string("\x04\xAA\x42\x04\x35\x04\x41\x04\x42\x04\x00.txt", 15);
    const std::string run = std::string("readme.txt\0\x00\xC0\x08", 14);
    const std::string corrected = std::string("abc\0", 4) + std::string("\x04\xC0\x81\x01", 4);
    const std::string stub = std::string(3000, 'M') + std::string("Rar!\x1a\x07\x00", 7) + "xx";
    struct Case {
        const char* title;
        std::string bytes;
        std::vector<std::pair<std::string, std::string>> members;
        std::string error;
    };
    const Case cases[] = {
        {"Unicode names in their three forms",
         ArchiveBuilder()
             .Member({.name = cyrillic, .data = "1", .unicode = true})
             .Member({.name = run, .data = "2", .unicode = true})
             .Member({.name = corrected, .data = "3", .unicode = true})
             .Member({.name = "utf8 ü", .data = "4", .unicode = true})
             .Bytes(),
         {{"тест.txt", "1"}, {"readme.txt", "2"}, {"\u0462\u0463\u0464", "3"}, {"utf8 ü", "4"}},
         ""},
        {"high sizes, a salt and an extended time; backslashes between folders",
         ArchiveBuilder()
             .Member({.name = "dir\\a", .data = "abc", .highSizes = true})
             .Member(
                 {.name = "b", .data = "de", .flags = 0x1000, .extra = std::string("\x00\xC0", 2)})
             .Bytes(),
         {{"dir/a", "abc"}, {"b", "de"}},
         ""},
        {"service blocks, an old comment and data after the end block are passed over",
         ArchiveBuilder()
                 .Service("RR", std::string(5000, 'r'))
                 .Block(std::string("\x75\x00\x80\x0B\x00\x04\x00\x00\x00", 9) + "cmnt")
                 .Member({.name = "after", .data = "x"})
                 .End()
                 .Bytes() +
             "trailing junk",
         {{"after", "x"}},
         ""},
        {"a program in front holding the signature by chance",
         stub + ArchiveBuilder().Member({.name = "in", .data = "sfx"}).Bytes(),
         {{"in", "sfx"}},
         ""},
        {"an encrypted member fails alone; an unknown method and version too",
         ArchiveBuilder()
             .Member({.name = "secret", .data = "s", .flags = 0x0004})
             .Member({.name = "m6", .data = "m", .method = 0x36, .packed = "zz"})
             .Member({.name = "v50", .data = "v", .version = 50, .method = 0x33, .packed = "zz"})
             .Member({.name = "plain", .data = "p"})
             .Bytes(),
         {{"secret", "!encrypted, not supported"},
          {"m6", "!unknown method 54"},
          {"v50", "!unsupported method version 50"},
          {"plain", "p"}},
         ""},
        {"a file header whose checksum fails ends the archive",
         ArchiveBuilder()
             .Member({.name = "good", .data = "g"})
             .Member({.name = "bad", .data = "b", .badHeaderCrc = true})
             .Bytes(),
         {{"good", "g"}},
         "a damaged file header (its CRC does not match)"},
        {"headers encrypted", ArchiveBuilder(0x0080).Bytes(), {}, "encrypted headers"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.title);
        const Read read = ReadAll(test.bytes);
        EXPECT_EQ(read.members, test.members);
        EXPECT_EQ(read.error, test.error);
    }
    // The extended time's extra second, and what makes a folder on each host.
    const Read times = ReadAll(
        ArchiveBuilder()
            .Member({.name = "t", .data = "", .flags = 0x1000, .extra = std::string("\x00\xC0", 2)})
            .Member({.name = "t", .data = ""})
            .Member({.name = "unix dir", .data = "", .attributes = 040755})
            .Member({.name = "dos dir", .data = "", .hostOs = kHostMsdos, .attributes = 0x10})
            .Member({.name = "flag dir", .data = "", .flags = 0x00E0})
            .Bytes());
    ASSERT_EQ(times.headers.size(), 5u);
    EXPECT_TRUE(times.headers[0].hasExactTime);
    EXPECT_EQ(times.headers[0].mtime, times.headers[1].mtime + 1);
    EXPECT_FALSE(times.headers[1].IsDirectory());
    EXPECT_TRUE(times.headers[2].IsDirectory());
    EXPECT_TRUE(times.headers[3].IsDirectory());
    EXPECT_TRUE(times.headers[4].IsDirectory());
}

}  // namespace
}  // namespace zembrat::rar::testing
