// Damaged, truncated, hand-made and embedded archives: errors are reported, never crashes or
// endless loops, and what can be read is read.
#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "test_support.h"

namespace zembrat::lha::test {
namespace {

std::vector<std::byte> Bytes(std::string_view text) {
    auto* begin = reinterpret_cast<const std::byte*>(text.data());
    return {begin, begin + text.size()};
}

void Append(std::vector<std::byte>& out, std::span<const std::byte> more) {
    out.insert(out.end(), more.begin(), more.end());
}

// The kind of error extracting the reader's first member raises, if any.
std::optional<ErrorKind> FirstMemberFails(SeekableInput& archive, OutputStream& out) {
    Reader reader(archive);
    if (!reader.Next()) {
        ADD_FAILURE() << "no member";
        return std::nullopt;
    }
    try {
        reader.Extract(out);
    } catch (const Error& e) {
        return e.Kind();
    }
    return std::nullopt;
}

void PutLe(std::vector<std::byte>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::byte>(value >> (8 * i)));
    }
}

// A level 0 member header and its data, made by hand.
std::vector<std::byte> Level0Member(std::string_view method, std::string_view name,
                                    std::span<const std::byte> data, std::uint64_t originalSize,
                                    std::uint16_t crc) {
    std::vector<std::byte> h;
    PutLe(h, 22 + name.size(), 1);
    PutLe(h, 0, 1);
    Append(h, Bytes(method));
    PutLe(h, data.size(), 4);
    PutLe(h, originalSize, 4);
    PutLe(h, 0x00210000, 4);
    PutLe(h, 0x20, 1);
    PutLe(h, 0, 1);
    PutLe(h, name.size(), 1);
    Append(h, Bytes(name));
    PutLe(h, crc, 2);
    unsigned sum = 0;
    for (std::size_t i = 2; i < h.size(); ++i) {
        sum += std::to_integer<unsigned>(h[i]);
    }
    h[1] = static_cast<std::byte>(sum);
    Append(h, data);
    return h;
}

// A level 2 member header with the given extended headers (type, data), made by hand.
std::vector<std::byte> Level2Member(std::string_view method,
                                    const std::vector<std::pair<int, std::vector<std::byte>>>& ext,
                                    std::span<const std::byte> data, std::uint16_t crc) {
    std::vector<std::byte> h;
    PutLe(h, 0, 2);
    Append(h, Bytes(method));
    PutLe(h, data.size(), 4);
    PutLe(h, data.size(), 4);
    PutLe(h, 1500000000, 4);
    PutLe(h, 0x20, 1);
    PutLe(h, 2, 1);
    PutLe(h, crc, 2);
    PutLe(h, 'w', 1);
    std::size_t crcAt = 0;
    std::vector<std::pair<int, std::vector<std::byte>>> all = {{0, {std::byte{0}, std::byte{0}}}};
    all.insert(all.end(), ext.begin(), ext.end());
    for (const auto& [type, body] : all) {
        PutLe(h, 3 + body.size(), 2);
        PutLe(h, static_cast<unsigned>(type), 1);
        if (type == 0) {
            crcAt = h.size();
        }
        Append(h, body);
    }
    PutLe(h, 0, 2);
    h[0] = static_cast<std::byte>(h.size());
    h[1] = static_cast<std::byte>(h.size() >> 8);
    std::uint16_t headerCrc = Crc16(h);
    h[crcAt] = static_cast<std::byte>(headerCrc);
    h[crcAt + 1] = static_cast<std::byte>(headerCrc >> 8);
    Append(h, data);
    return h;
}

std::vector<std::byte> Utf16(std::u16string_view text) {
    std::vector<std::byte> out;
    for (char16_t c : text) {
        PutLe(out, c, 2);
    }
    return out;
}

// Reads every member and extracts it; returns the number of errors. Any other exception or a
// crash fails the test.
int ReadEverything(std::span<const std::byte> archive) {
    int errors = 0;
    try {
        MemoryInput in(archive);
        Reader reader(in);
        while (reader.Next()) {
            try {
                HashingOutput out;
                reader.Extract(out);
            } catch (const Error&) {
                ++errors;
            }
        }
    } catch (const Error&) {
        ++errors;
    }
    return errors;
}

std::vector<std::byte> SampleArchive(const std::string& method, int level = 2) {
    MemoryOutput out;
    WriterOptions options;
    options.method = method;
    options.headerLevel = level;
    Writer writer(out, options);
    for (const auto& [name, data] :
         {std::pair{"a.txt", TextBytes(40000, 1)}, std::pair{"b.txt", TextBytes(3000, 2)}}) {
        Member m;
        m.path = name;
        MemoryInput in(data);
        writer.AddFile(m, in, data.size());
    }
    writer.Finish();
    return out.Data();
}

TEST(LhaDamaged, TruncatedArchivesReportErrors) {
    for (const std::string method : {"-lh0-", "-lh5-", "-lh6-", "-lh7-"}) {
        SCOPED_TRACE(method);
        auto archive = SampleArchive(method);
        // Without the end mark the archive is still whole; any shorter is not.
        for (std::size_t cut = 1; cut + 1 < archive.size(); cut += 97) {
            EXPECT_GT(ReadEverything(std::span(archive).first(cut)), 0) << "cut at " << cut;
        }
        EXPECT_EQ(ReadEverything(std::span(archive).first(archive.size() - 1)), 0);
    }
}

// The data of every member, when all of them decode without an error. Read as a plain
// archive: the search for one inside a self-extracting program would skip a first header
// damaged beyond recognition.
std::optional<std::vector<std::vector<std::byte>>> DecodedWithoutError(
    std::span<const std::byte> archive) {
    std::vector<std::vector<std::byte>> members;
    try {
        MemoryInput in(archive);
        Reader reader(in, ReaderOptions{.searchEmbedded = false});
        while (reader.Next()) {
            MemoryOutput out;
            reader.Extract(out);
            members.push_back(out.Data());
        }
    } catch (const Error&) {
        return std::nullopt;
    }
    return members;
}

// One flipped bit anywhere in an archive, at every header level: the damage is reported, or
// it lay where nothing depends on it (the unused bits of a stream's last byte) and every
// member still gives its own data.
TEST(LhaDamaged, FlippedBitsAreCaughtOrHarmless) {
    std::mt19937 random(42);
    const std::vector<std::vector<std::byte>> originals = {TextBytes(40000, 1), TextBytes(3000, 2)};
    for (const std::string method : {"-lh5-", "-lh7-"}) {
        for (const int level : {0, 1, 2}) {
            auto archive = SampleArchive(method, level);
            ASSERT_EQ(DecodedWithoutError(archive), originals);
            int harmless = 0;
            for (int trial = 0; trial < 300; ++trial) {
                auto damaged = archive;
                const std::size_t at = random() % damaged.size();
                damaged[at] ^= static_cast<std::byte>(1u << (random() % 8));
                if (auto decoded = DecodedWithoutError(damaged)) {
                    EXPECT_EQ(*decoded, originals)
                        << method << " level " << level << " byte " << at;
                    ++harmless;
                }
            }
            EXPECT_LT(harmless, 30) << method << " level " << level;
        }
    }
}

TEST(LhaDamaged, RandomStreamsGiveErrorsForEveryDecoder) {
    std::mt19937 random(7);
    for (const std::string method : {"-lh1-", "-lh2-", "-lh3-", "-lh4-", "-lh5-", "-lh6-", "-lh7-",
                                     "-lhx-", "-lk7-", "-lzs-", "-lz5-", "-pm1-", "-pm2-"}) {
        for (int trial = 0; trial < 200; ++trial) {
            auto noise = RandomBytes(1 + random() % 3000, static_cast<std::uint32_t>(trial));
            // The CRC is not 0: noise often decodes to zeros, whose CRC is 0.
            auto archive = Level0Member(method, "x", noise, 1 + random() % 1000000, 0xBEEF);
            archive.push_back(std::byte{0});
            EXPECT_EQ(ReadEverything(archive), 1) << method << " trial " << trial;
        }
    }
}

// Flipped bits in real archives of the legacy methods.
TEST(LhaDamaged, LegacyStreamsWithFlippedBitsFailCleanly) {
    auto dir = FixturesDir();
    if (!std::filesystem::exists(dir / "manifest.tsv")) {
        GTEST_SKIP() << "no LHA fixtures at " << dir;
    }
    std::mt19937 random(11);
    for (const char* name : {"lharc113/lh1.lzh", "unlha32/lh2.lzh", "unlha32/lh3.lzh",
                             "unlha32/h2_lhx.lzh", "lhark04d/lh7.lzh", "generated/lzs/lzs.lzs",
                             "larc333/lz5.lzs", "pmarc124/pm1.pma", "pmarc2/pm2.pma"}) {
        auto archive = ReadFileBytes(dir / name);
        for (int trial = 0; trial < 60; ++trial) {
            auto damaged = archive;
            // Past the header, inside the compressed stream.
            std::size_t at = 60 + random() % (damaged.size() * 3 / 4 - 60);
            damaged[at] ^= static_cast<std::byte>(1u << (random() % 8));
            EXPECT_EQ(ReadEverything(damaged), 1) << name << " byte " << at;
        }
        EXPECT_GT(ReadEverything(std::span(archive).first(archive.size() / 2)), 0) << name;
    }
}

TEST(LhaDamaged, UnsupportedMethodsAreSkipped) {
    auto hello = Bytes("hello");
    auto archive = Level0Member("-lh9-", "old.txt", Bytes("????"), 9, 0);
    Append(archive, Level0Member("-lh0-", "new.txt", hello, hello.size(), Crc16(hello)));
    archive.push_back(std::byte{0});
    MemoryInput in(archive);
    Reader reader(in);
    auto first = reader.Next();
    ASSERT_TRUE(first);
    EXPECT_FALSE(CanDecode(first->method));
    MemoryOutput ignored;
    try {
        reader.Extract(ignored);
        ADD_FAILURE() << "an unknown method extracted";
    } catch (const Error& e) {
        EXPECT_EQ(e.Kind(), ErrorKind::kUnsupportedMethod);
    }
    auto second = reader.Next();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->path, "new.txt");
    EXPECT_TRUE(ExtractToMemory(reader) == hello);
}

TEST(LhaDamaged, HeaderChecksumsAndDataCrcAreChecked) {
    auto hello = Bytes("hello");
    auto level0 = Level0Member("-lh0-", "a", hello, hello.size(), Crc16(hello));
    level0[22] ^= std::byte{1};  // the name, covered by the checksum
    MemoryInput in0(level0);
    EXPECT_THROW(Reader{in0}, Error);

    // With a second member behind it, the damage is still reported (not skipped by the
    // search for an archive inside a program).
    Append(level0, Level0Member("-lh0-", "b", hello, hello.size(), Crc16(hello)));
    MemoryInput in0b(level0);
    EXPECT_THROW(Reader{in0b}, Error);

    auto level2 = Level2Member("-lh0-", {{1, Bytes("b")}}, hello, Crc16(hello));
    auto badCrc = level2;
    badCrc[27] ^= std::byte{1};
    MemoryInput in2(badCrc);
    try {
        Reader reader(in2, ReaderOptions{false});
        ADD_FAILURE() << "a bad header CRC went unnoticed";
    } catch (const Error& e) {
        EXPECT_EQ(e.Kind(), ErrorKind::kFormat);
    }

    auto badData = Level2Member("-lh0-", {{1, Bytes("c")}}, hello, Crc16(hello) ^ 1);
    MemoryInput in3(badData);
    MemoryOutput out;
    EXPECT_EQ(FirstMemberFails(in3, out), ErrorKind::kCrc);
}

// Large members are checked and written on a second thread: a wrong CRC and a failing output
// must still reach the caller.
TEST(LhaDamaged, LargeMembersReportBadCrcAndWriteErrors) {
    auto data = RandomBytes(5 << 20, 21);
    auto badData = Level2Member("-lh0-", {{1, Bytes("big")}}, data, Crc16(data) ^ 1);
    MemoryInput in(badData);
    MemoryOutput out;
    EXPECT_EQ(FirstMemberFails(in, out), ErrorKind::kCrc);

    class FullDisk final : public OutputStream {
      public:
        void Write(std::span<const std::byte> data) override {
            written_ += data.size();
            if (written_ > (2 << 20)) {
                throw Error(ErrorKind::kIo, "disk full");
            }
        }

      private:
        std::size_t written_ = 0;
    };
    auto good = Level2Member("-lh0-", {{1, Bytes("big")}}, data, Crc16(data));
    MemoryInput goodIn(good);
    FullDisk full;
    EXPECT_EQ(FirstMemberFails(goodIn, full), ErrorKind::kIo);
}

TEST(LhaHeaders, ExtendedHeadersOfOtherWritersAreUnderstood) {
    auto hello = Bytes("hello");
    std::vector<std::byte> times;
    PutLe(times, 111, 8);
    PutLe(times, 222, 8);
    PutLe(times, 333, 8);
    std::vector<std::byte> attributes;
    PutLe(attributes, 0x21, 2);
    auto archive = Level2Member("-lh0-",
                                {{1, Bytes("legacy.txt")},
                                 {2, Bytes("dir\xff"
                                           "sub\xff")},
                                 {0x44, Utf16(u"\u65e5\u672c.txt")},
                                 {0x45, Utf16(u"\u8868\xffff")},
                                 {0x41, times},
                                 {0x40, attributes},
                                 {0x52, Bytes("staff")},
                                 {0x53, Bytes("alice")}},
                                hello, Crc16(hello));
    archive.push_back(std::byte{0});
    MemoryInput in(archive);
    Reader reader(in);
    auto m = reader.Next();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->path, "\xe8\xa1\xa8/\xe6\x97\xa5\xe6\x9c\xac.txt");
    EXPECT_EQ(m->encoding, NameEncoding::kUtf8);
    EXPECT_EQ(m->osId, 'w');
    EXPECT_EQ(m->windowsCreateTime, 111u);
    EXPECT_EQ(m->windowsWriteTime, 222u);
    EXPECT_EQ(m->windowsAccessTime, 333u);
    EXPECT_EQ(m->msdosAttributes, 0x21);
    EXPECT_EQ(m->unixGroup, "staff");
    EXPECT_EQ(m->unixUser, "alice");
    EXPECT_EQ(m->unixTime, 1500000000);
    EXPECT_TRUE(ExtractToMemory(reader) == hello);
}

TEST(LhaDamaged, SizesThatWrapAroundDoNotLeadBack) {
    // A compressed size that, added to the data offset, wraps around to this very header.
    auto make = [](std::uint64_t compressed) {
        std::vector<std::byte> sizes;
        PutLe(sizes, compressed, 8);
        PutLe(sizes, 5, 8);
        return Level2Member("-lh0-", {{1, Bytes("loop")}, {0x42, sizes}}, {}, 0);
    };
    std::uint64_t headerSize = make(0).size();
    auto archive = make(std::uint64_t{0} - headerSize);
    archive.push_back(std::byte{0});
    MemoryInput in(archive);
    EXPECT_THROW(
        {
            Reader reader(in, ReaderOptions{false});
            while (reader.Next()) {
            }
        },
        Error);
}

TEST(LhaHeaders, LevelZeroSeparatorsAndShiftJisTrailBytes) {
    auto hello = Bytes("hello");
    // "dir\" + a kanji whose second byte is 0x5C + "\x.txt" with 0xFF as one separator.
    auto archive =
        Level0Member("-lh0-", "dir\\\x95\x5c\xffx.txt", hello, hello.size(), Crc16(hello));
    archive.push_back(std::byte{0});
    MemoryInput in(archive);
    Reader reader(in);
    auto m = reader.Next();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->path, "dir/\x95\x5c/x.txt");
    EXPECT_EQ(m->osId, 'M');
}

TEST(LhaEmbedded, ArchivesAfterProgramsAreFound) {
    auto archive = SampleArchive("-lh5-");
    // A DOS-style program: junk with a decoy method id in it.
    auto program = RandomBytes(40000, 3);
    auto decoy = Bytes("xx-lh5-decoy");
    std::copy(decoy.begin(), decoy.end(), program.begin() + 1000);
    program[0] = std::byte{'M'};
    program[1] = std::byte{'Z'};
    auto sfx = program;
    Append(sfx, archive);
    MemoryInput in(sfx);
    Reader reader(in);
    EXPECT_EQ(reader.ArchiveStart(), program.size());
    EXPECT_EQ(ReadEverything(sfx), 0);
    MemoryInput strict(sfx);
    EXPECT_THROW(Reader(strict, ReaderOptions{false}), Error);

    // Our own self-extracting files: an ELF program followed by the archive.
    if (std::filesystem::exists("/bin/true")) {
        auto elf = ReadFileBytes("/bin/true");
        auto linuxSfx = elf;
        Append(linuxSfx, archive);
        MemoryInput elfIn(linuxSfx);
        Reader elfReader(elfIn);
        EXPECT_EQ(elfReader.ArchiveStart(), elf.size());
    }

    auto noArchive = RandomBytes(5000, 4);
    MemoryInput none(noArchive);
    EXPECT_THROW(Reader{none}, Error);
}

}  // namespace
}  // namespace zembrat::lha::test
