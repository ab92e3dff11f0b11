// The ARJ engine on hand-made archives: what each kind of damage gives, the method 4 decoder
// on a stream written bit by bit, volume sets and archives inside programs.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <map>
#include <memory>
#include <optional>

#include "arj_builder.h"
#include "lha/stream.h"

namespace zembrat::arj::testing {
namespace {

std::span<const std::byte> Bytes(const std::string& text) {
    return std::as_bytes(std::span(text.data(), text.size()));
}

// Reads every member and decodes it; the members' data, or the error on the way.
struct Outcome {
    std::map<std::string, std::string> members;
    std::optional<ErrorKind> error;
    std::string what;
};

Outcome ReadAll(const std::string& archive, std::map<std::size_t, std::string> volumes = {}) {
    Outcome outcome;
    lha::MemoryInput input(Bytes(archive));
    VolumeOpener open = [&volumes](std::size_t index) -> std::unique_ptr<SeekableInput> {
        const auto found = volumes.find(index);
        return found == volumes.end() ? nullptr
                                      : std::make_unique<lha::MemoryInput>(Bytes(found->second));
    };
    try {
        Reader reader(input, FindEmbeddedArchive(input).value_or(0), open);
        while (auto member = reader.Next()) {
            lha::MemoryOutput out;
            reader.Extract(*member, out);
            const auto& data = out.Data();
            outcome.members[member->name] =
                std::string(reinterpret_cast<const char*>(data.data()), data.size());
        }
    } catch (const Error& error) {
        outcome.error = error.Kind();
        outcome.what = error.what();
    }
    return outcome;
}

// Bits written most significant first, as the decoders read them.
class BitWriter {
  public:
    void Put(std::uint32_t value, int width) {
        for (int bit = width - 1; bit >= 0; --bit) {
            if (used_ % 8 == 0) {
                bytes_.push_back(0);
            }
            if ((value >> bit) & 1) {
                bytes_.back() = static_cast<char>(bytes_.back() | (0x80 >> (used_ % 8)));
            }
            ++used_;
        }
    }
    const std::string& Bytes() const { return bytes_; }

  private:
    std::string bytes_;
    int used_ = 0;
};

TEST(ArjEngine, DamageGivesItsOwnError) {
    const Entry good{.name = "a.txt", .data = "hello"};
    std::string badHeaderCrc = Archive({good});
    badHeaderCrc[badHeaderCrc.size() - 20] ^= 1;  // inside the member's name
    std::string hugeHeader = MainHeader() + "\x60\xEA\x50\x0A";
    const struct {
        const char* what;
        std::string archive;
        std::optional<ErrorKind> error;
    } cases[] = {
        {"sound", Archive({good}), std::nullopt},
        {"header CRC", badHeaderCrc, ErrorKind::kFormat},
        {"header larger than allowed", hugeHeader + std::string(2700, 'x'), ErrorKind::kFormat},
        {"cut inside a header", Archive({good}).substr(0, MainHeader().size() + 20),
         ErrorKind::kTruncated},
        {"cut inside data", Archive({good}).substr(0, Archive({good}).size() - 6),
         ErrorKind::kTruncated},
        {"data CRC", Archive({{.name = "a", .data = "hello", .crc = 1}}), ErrorKind::kCrc},
        {"stored sizes differ", Archive({{.name = "a", .data = "hello", .originalSize = 9}}),
         ErrorKind::kCorruptData},
        {"unknown method", Archive({{.name = "a", .data = "x", .method = 9}}),
         ErrorKind::kUnsupportedMethod},
        {"garbled", Archive({{.name = "a", .data = "x", .flags = kFlagGarbled}}),
         ErrorKind::kUnsupportedMethod},
        {"method 4 claims more than its bits hold",
         Archive({{.name = "a", .data = "\x01\x02", .method = 4, .originalSize = 1 << 20}}),
         ErrorKind::kCorruptData},
        {"method 1 with a broken table",
         Archive({{.name = "a", .data = std::string(40, '\xFF'), .method = 1, .originalSize = 99}}),
         ErrorKind::kCorruptData},
        {"no main header", EndMark(), ErrorKind::kFormat},
        {"not an archive", "plain text, no header anywhere", ErrorKind::kFormat},
    };
    for (const auto& c : cases) {
        const Outcome outcome = ReadAll(c.archive);
        EXPECT_EQ(outcome.error, c.error) << c.what << ": " << outcome.what;
    }
}

TEST(ArjEngine, MethodFourTokens) {
    // "abc", then 3 bytes from 3 back, then 256 bytes (the longest match) from 1 back.
    BitWriter bits;
    for (char c : std::string("abc")) {
        bits.Put(0, 1);
        bits.Put(static_cast<unsigned char>(c), 8);
    }
    bits.Put(0b100, 3);      // length field 1: one one-bit, the zero, one plain bit 0
    bits.Put(0, 1);          // position field: no one-bits,
    bits.Put(2, 9);          // nine plain bits: 2, distance 3
    bits.Put(0b1111111, 7);  // length field: seven one-bits (no zero after the last),
    bits.Put(127, 7);        // seven plain bits: 127 + 127 = 254, length 256
    bits.Put(0, 1);
    bits.Put(0, 9);  // distance 1
    const std::string expected = "abcabc" + std::string(256, 'c');
    const Outcome outcome =
        ReadAll(Archive({{.name = "t",
                          .data = bits.Bytes(),
                          .method = 4,
                          .originalSize = static_cast<std::int64_t>(expected.size()),
                          .crc = CrcOf(expected)}}));
    EXPECT_EQ(outcome.error, std::nullopt) << outcome.what;
    EXPECT_EQ(outcome.members.at("t"), expected);
}

TEST(ArjEngine, VolumeSetsChainTheirParts) {
    const Entry first{.name = "big", .data = "part one,", .flags = 0x10 | kFlagVolume};
    const Entry second{
        .name = "big", .data = " part two", .flags = 0x10 | kFlagExtFile, .position = 9};
    const Entry after{.name = "small", .data = "after"};
    const std::string volume0 = Archive({first}, 0x10 | kFlagVolume);
    const std::string volume1 = Archive({second, after});
    const struct {
        const char* what;
        std::map<std::size_t, std::string> volumes;
        std::optional<ErrorKind> error;
    } cases[] = {
        {"complete", {{1, volume1}}, std::nullopt},
        {"missing", {}, ErrorKind::kTruncated},
        {"another member goes on",
         {{1, Archive(
                  {{.name = "other", .data = " part two", .flags = kFlagExtFile, .position = 9}})}},
         ErrorKind::kFormat},
        {"part at the wrong place",
         {{1,
           Archive({{.name = "big", .data = " part two", .flags = kFlagExtFile, .position = 8}})}},
         ErrorKind::kFormat},
    };
    for (const auto& c : cases) {
        const Outcome outcome = ReadAll(volume0, c.volumes);
        EXPECT_EQ(outcome.error, c.error) << c.what << ": " << outcome.what;
        if (!c.error) {
            EXPECT_EQ(outcome.members.at("big"), "part one, part two");
            EXPECT_EQ(outcome.members.at("small"), "after");
        }
    }
}

TEST(ArjEngine, TimeStampsByHost) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const struct {
        std::uint8_t host;
        std::uint32_t stamp;
        std::int64_t unixTime;
    } cases[] = {
        // 2025-04-12 12:00:00 as MS-DOS fields, local time (here UTC).
        {kHostMsdos, 0x5A8C6000, 1744459200},
        {11, 0x5A8C6000, 1744459200},  // Windows hosts write MS-DOS fields too
        // A Unix host's archiver stores seconds since 1970.
        {kHostUnix, 1796731466, 1796731466},
    };
    for (const auto& c : cases) {
        Member member;
        member.hostOs = c.host;
        member.timeStamp = c.stamp;
        EXPECT_EQ(member.UnixTime(), c.unixTime) << int{c.host};
    }
}

TEST(ArjEngine, VolumeNames) {
    const struct {
        std::string first;
        std::size_t index;
        std::string expected;
    } cases[] = {
        {"set.arj", 1, "set.a01"},   {"SET.ARJ", 12, "SET.A12"},        {"set.arj", 99, "set.a99"},
        {"set.arj", 100, "set.100"}, {"d.x/plain", 2, "d.x/plain.a02"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VolumeName(c.first, c.index), c.expected) << c.first << " " << c.index;
    }
}

TEST(ArjEngine, ArchivesInsidePrograms) {
    const std::string archive = Archive({{.name = "inside", .data = "found"}});
    // A program whose bytes hold the id, even a header-like run with a wrong CRC, first.
    std::string program = "MZ" + std::string(3000, '\x90') + "\x60\xEA\x22\x00" +
                          std::string(200, '\x01') + MainHeader().substr(0, 30);
    const Outcome outcome = ReadAll(program + archive);
    EXPECT_EQ(outcome.error, std::nullopt) << outcome.what;
    EXPECT_EQ(outcome.members.at("inside"), "found");
    lha::MemoryInput none(Bytes(program));
    EXPECT_EQ(FindEmbeddedArchive(none), std::nullopt);
    // Another container that holds an ARJ file is no ARJ archive.
    const std::string container = std::string(512, '\0') + archive;
    lha::MemoryInput held(Bytes(container));
    EXPECT_EQ(FindEmbeddedArchive(held), std::nullopt);
}

}  // namespace
}  // namespace zembrat::arj::testing
