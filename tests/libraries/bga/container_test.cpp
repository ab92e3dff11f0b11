// The GZA/BZA container: headers as other writers lay them out, members that are damaged in
// each way the reader must notice, and the writer's members read back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "archiver_api.h"
#include "bga/bzip2_blocks.h"
#include "bga/reader.h"
#include "bga/writer.h"
#include "common/failure.h"
#include "compressed_streams.h"
#include "temp_folder.h"

namespace zembrat::bga {
namespace {

using zembrat::testing::TempFolder;

using zembrat::testing::Bzip2;
using zembrat::testing::Gzip;

std::string Text(std::size_t size) {
    std::string text;
    for (int i = 0; text.size() < size; ++i) {
        text += "line " + std::to_string(i % 977) + " of some text\n";
    }
    text.resize(size);
    return text;
}

std::string Random(std::size_t size, unsigned seed = 7) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator());
    }
    return bytes;
}

// A header laid out byte by byte, independently of EncodeHeader.
std::string HandMadeHeader(const char mark[4], std::uint32_t packed, std::uint32_t original,
                           std::uint16_t kind, std::string_view folder, std::string_view file) {
    std::string bytes(28, '\0');
    const auto put = [&](std::size_t at, std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i) {
            bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
        }
    };
    bytes.replace(4, 4, mark, 4);
    put(8, packed, 4);
    put(12, original, 4);
    put(16, 0x5A21, 2);
    put(18, 0x6000, 2);
    bytes[20] = 0x20;
    put(22, kind, 2);
    put(24, static_cast<std::uint32_t>(folder.size()), 2);
    put(26, static_cast<std::uint32_t>(file.size()), 2);
    std::int32_t sum = 0;
    const std::string summed = bytes.substr(4) + std::string(folder) + std::string(file);
    for (const char c : summed) {
        sum += static_cast<signed char>(c);
    }
    put(0, static_cast<std::uint32_t>(sum), 4);
    return bytes + std::string(folder) + std::string(file);
}

std::string WriteArchive(const TempFolder& folder, const std::string& bytes) {
    return folder.Write("archive.gza", bytes);
}

// Reads every member; the first failure's code, or 0 with the members' data joined.
struct ReadResult {
    int code = 0;
    std::vector<std::string> data;
    std::vector<std::string> names;
};

ReadResult ReadAll(const std::string& path) {
    ReadResult result;
    try {
        ArchiveReader reader(path);
        while (auto member = reader.Next()) {
            result.names.push_back(member->header.name);
            std::string data;
            DecodeMember(reader.Fd(), *member, [&](std::span<const std::byte> piece) {
                data.append(reinterpret_cast<const char*>(piece.data()), piece.size());
            });
            result.data.push_back(std::move(data));
        }
    } catch (const common::Failure& failure) {
        result.code = failure.Code();
    }
    return result;
}

TEST(BgaHeader, HandMadeHeadersReadWithTheirChecksumAndNameParts) {
    TempFolder folder;
    const std::string body = "hello";
    // A signed-char sum: the CP932 bytes 0x83 0x65 count as -125 and 101.
    const std::string archive = HandMadeHeader("GZIP", 0, 0, 2, "\x83\x65\\", "") +
                                HandMadeHeader("BZ2\0", 5, 5, 2, "\x83\x65\\", "\x83\x4c.txt") +
                                body;
    const ReadResult read = ReadAll(WriteArchive(folder, archive));
    ASSERT_EQ(read.code, 0);
    EXPECT_EQ(read.names, (std::vector<std::string>{"\x83\x65\\", "\x83\x65\\\x83\x4c.txt"}));
    EXPECT_EQ(read.data, (std::vector<std::string>{"", body}));
    // What the writer lays out is what the hand-made header says, byte for byte.
    MemberHeader header;
    header.codec = Codec::kBzip2;
    header.name = "\x83\x65\\\x83\x4c.txt";
    header.compressedSize = header.originalSize = 5;
    header.dosDate = 0x5A21;
    header.dosTime = 0x6000;
    header.attributes = 0x20;
    header.kind = kKindStored;
    EXPECT_EQ(EncodeHeader(header), HandMadeHeader("BZ2\0", 5, 5, 2, "\x83\x65\\", "\x83\x4c.txt"));
}

TEST(BgaHeader, DataIsRawForKindTwoAndForArchivesOfEqualSize) {
    struct Case {
        std::uint16_t kind;
        std::uint32_t packed, original;
        const char* name;
        bool stored;
    };
    const Case cases[] = {{2, 4, 4, "a.txt", true},      {0, 4, 4, "a.LZH", true},
                          {0, 4, 4, "dir\\b.tgz", true}, {0, 4, 4, "a.txt", false},
                          {0, 3, 4, "a.zip", false},     {0, 4, 4, "zip", false},
                          {0, 4, 4, "a.zip\\b", false}};
    for (const Case& c : cases) {
        MemberHeader header;
        header.kind = c.kind;
        header.compressedSize = c.packed;
        header.originalSize = c.original;
        header.name = c.name;
        EXPECT_EQ(header.IsStored(), c.stored) << c.name;
    }
}

TEST(BgaReader, DamagedMembersAreRefusedWithTheirReason) {
    const std::string text = Text(50000);
    const std::string gzip = Gzip(text);
    const std::string bzip2 = Bzip2(text);
    const auto gzipMember = [&](std::uint32_t original, const std::string& data) {
        return HandMadeHeader("GZIP", static_cast<std::uint32_t>(data.size()), original, 0, "",
                              "t.txt") +
               data;
    };
    std::string badChecksum = gzipMember(50000, gzip);
    badChecksum[0] = static_cast<char>(badChecksum[0] + 1);
    std::string badGzipCrc = gzip;
    badGzipCrc[gzip.size() - 6] ^= 1;
    std::string badBzip2 = bzip2;
    badBzip2[bzip2.size() / 2] ^= 0x10;
    // Blocks of 100 kB, decoded side by side: damage in the last block, and a block's CRC.
    const std::string longText = Text(450000);
    const std::string blocks = Bzip2(longText, 1);
    const auto blocksMember = [&](const std::string& data) {
        return HandMadeHeader("BZ2\0", static_cast<std::uint32_t>(data.size()), 450000, 0, "",
                              "t.txt") +
               data;
    };
    std::string badLastBlock = blocks;
    badLastBlock[blocks.size() - 100] ^= 0x04;
    std::string badBlockCrc = blocks;
    badBlockCrc[4 + 6 + 1] ^= 0x01;  // inside the first block's CRC, after its mark
    struct Case {
        const char* what;
        std::string bytes;
        int code;
    };
    const std::vector<Case> cases = {
        {"checksum off by one", badChecksum, ARC_ERROR_BROKEN_ARCHIVE},
        {"second checksum off by one", gzipMember(50000, gzip) + badChecksum,
         ARC_ERROR_BROKEN_ARCHIVE},
        {"data cut short", gzipMember(50000, gzip).substr(0, 28 + 5 + gzip.size() - 10),
         ARC_ERROR_BROKEN_ARCHIVE},
        {"second header cut short", gzipMember(50000, gzip) + gzipMember(50000, gzip).substr(0, 20),
         ARC_ERROR_BROKEN_ARCHIVE},
        {"no header at the start", gzipMember(50000, gzip).substr(0, 20), ARC_ERROR_NOT_ARCHIVE},
        {"inflates past its size", gzipMember(49999, gzip), ARC_ERROR_BROKEN_ARCHIVE},
        {"shorter than its size", gzipMember(50001, gzip), ARC_ERROR_BROKEN_ARCHIVE},
        {"gzip CRC", gzipMember(50000, badGzipCrc), ARC_ERROR_CRC},
        {"bzip2 block",
         HandMadeHeader("BZ2\0", static_cast<std::uint32_t>(bzip2.size()), 50000, 0, "", "t.txt") +
             badBzip2,
         ARC_ERROR_CRC},
        {"bzip2 blocks, the last damaged", blocksMember(badLastBlock), ARC_ERROR_CRC},
        {"bzip2 blocks, a block CRC", blocksMember(badBlockCrc), ARC_ERROR_CRC},
        {"bzip2 blocks past the size",
         HandMadeHeader("BZ2\0", static_cast<std::uint32_t>(blocks.size()), 449999, 0, "",
                        "t.txt") +
             blocks,
         ARC_ERROR_BROKEN_ARCHIVE},
        {"data after the gzip member", gzipMember(50000, gzip + "junk"), ARC_ERROR_BROKEN_ARCHIVE},
        {"stored sizes differ", HandMadeHeader("GZIP", 3, 4, 2, "", "t.txt") + "abc",
         ARC_ERROR_BROKEN_ARCHIVE},
        {"NUL in a name", HandMadeHeader("GZIP", 0, 0, 2, "", std::string("..\0x", 4)),
         ARC_ERROR_BROKEN_ARCHIVE},
        {"unknown codec", HandMadeHeader("LZMA", 0, 0, 2, "", "t"), ARC_ERROR_NOT_ARCHIVE},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        EXPECT_EQ(ReadAll(WriteArchive(folder, c.bytes)).code, c.code) << c.what;
    }
    // The sound forms of the same members read.
    TempFolder folder;
    const ReadResult sound = ReadAll(
        WriteArchive(folder, gzipMember(50000, gzip) +
                                 HandMadeHeader("BZ2\0", static_cast<std::uint32_t>(bzip2.size()),
                                                50000, 0, "", "t.txt") +
                                 bzip2));
    ASSERT_EQ(sound.code, 0);
    EXPECT_EQ(sound.data, (std::vector<std::string>{text, text}));
    const ReadResult soundBlocks = ReadAll(WriteArchive(folder, blocksMember(blocks)));
    ASSERT_EQ(soundBlocks.code, 0);
    EXPECT_TRUE(soundBlocks.data == std::vector<std::string>{longText});
}

TEST(BgaBzip2Blocks, SoundStreamsOfSeveralBlocksDecodeAndAnythingElseIsLeftToLibbz2) {
    const std::string text = Text(450000);
    const std::string blocks = Bzip2(text, 1);
    std::string lastBlockDamaged = blocks;
    lastBlockDamaged[blocks.size() - 100] ^= 0x04;
    std::string blockCrc = blocks;
    blockCrc[4 + 6 + 1] ^= 0x01;
    struct Case {
        const char* what;
        std::string stream;
        std::uint64_t size;
        bool decoded;
    };
    const std::vector<Case> cases = {
        {"sound", blocks, text.size(), true},
        {"one block", Bzip2(Text(50000), 1), 50000, false},
        {"last block damaged", lastBlockDamaged, text.size(), false},
        {"a block CRC", blockCrc, text.size(), false},
        {"past the size", blocks, text.size() - 1, false},
        {"short of the size", blocks, text.size() + 1, false},
        {"cut short", blocks.substr(0, blocks.size() - 3), text.size(), false},
    };
    for (const Case& c : cases) {
        std::vector<std::vector<std::byte>> decoded;
        ASSERT_EQ(DecodeBzip2Blocks(std::as_bytes(std::span(c.stream)), c.size, decoded), c.decoded)
            << c.what;
        if (c.decoded) {
            std::string joined;
            for (const auto& block : decoded) {
                joined.append(reinterpret_cast<const char*>(block.data()), block.size());
            }
            EXPECT_GT(decoded.size(), 2u);
            EXPECT_TRUE(joined == text);
        }
    }
}

TEST(BgaReader, InputsFuzzingOnceFoundAreRefusedCleanly) {
    std::size_t replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ZEMBRAT_BGA_REGRESSIONS)) {
        EXPECT_NE(ReadAll(entry.path().string()).code, 0) << entry.path();
        ++replayed;
    }
    EXPECT_GT(replayed, 0u);
}

TEST(BgaWriter, MembersReadBackAndThoseThatDoNotShrinkAreStored) {
    struct Case {
        Codec codec;
        int level;
        std::string data;
        bool stored;
    };
    // 9 MiB of text crosses the deflate chunks (and their seams between two threads).
    const std::vector<Case> cases = {
        {Codec::kGzip, 6, Text(100000), false},
        {Codec::kGzip, 6, Text(9 << 20), false},
        {Codec::kGzip, 9, Text(300000), false},
        {Codec::kGzip, 6, Random(70000), true},
        {Codec::kGzip, 6, "", true},
        {Codec::kGzip, 0, Text(1000), true},
        {Codec::kBzip2, 9, Text(1200000), false},
        {Codec::kBzip2, 1, Random(5000), true},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const std::string source = folder.Write("source", c.data);
        const std::string archive = folder / "out.gza";
        {
            UniqueFd out(open(archive.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
            const common::SourceFile in(source);
            MemberWriter writer(c.codec, c.level);
            MemberHeader header;
            header.name = "dir\\";
            writer.AddFolder(out.Get(), header);
            header.name = "dir\\file.txt";
            const MemberHeader written = writer.AddFile(out.Get(), header, in, {});
            EXPECT_EQ(written.kind == kKindStored, c.stored) << c.data.size();
            EXPECT_EQ(written.codec, c.codec);
        }
        const ReadResult read = ReadAll(archive);
        ASSERT_EQ(read.code, 0);
        EXPECT_EQ(read.names, (std::vector<std::string>{"dir\\", "dir\\file.txt"}));
        ASSERT_EQ(read.data.size(), 2u);
        EXPECT_TRUE(read.data[1] == c.data) << c.data.size();
    }
}

}  // namespace
}  // namespace zembrat::bga
