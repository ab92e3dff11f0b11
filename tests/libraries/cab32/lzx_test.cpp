// LZX cabinets through libcab32.so: cabinets of every block kind, window and the x86 call
// translation, written by the test's own LZX writer, come out byte for byte as they went in
// and as cabextract reads them (two decoders checked against each other and the writer);
// damaged LZX data ends in a reported error and no file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>

#include "cab32_library.h"
#include "lzx_cabinet_writer.h"
#include "shell_run.h"

namespace zembrat::cab32::testing {
namespace {

namespace fs = std::filesystem;
using ::zembrat::testing::FilesBelow;
using ::zembrat::testing::LzxBlockPlan;
using ::zembrat::testing::LzxBlockType;
using ::zembrat::testing::LzxCabinet;
using ::zembrat::testing::LzxCabinetOptions;
using ::zembrat::testing::Shell;

// Words, records, runs, noise and x86 calls: literals, short and long matches, repeated
// offsets and E8 bytes all over the frames (their last 10 bytes included). farCopy: a stretch
// of the start repeated at the end, for matches reaching far back.
std::string SampleData(std::size_t size, unsigned seed, bool farCopy = false) {
    std::mt19937 random(seed);
    const char* words[] = {"alpha ", "beta ", "gamma ", "delta\n", "call ", "\xE8", "\xE8\xE8"};
    std::string data;
    while (data.size() < size) {
        const unsigned pick = random() % 10;
        if (pick < 5) {
            data += words[random() % 7];
        } else if (pick == 5) {
            data += '\xE8';
            for (int i = 0; i < 4; ++i) {
                data += static_cast<char>(random() % 4 == 0 ? random() : 0);
            }
        } else if (pick == 6) {
            data += std::string(random() % 300, static_cast<char>(random()));
        } else if (pick == 7) {
            for (int i = 0; i < 50; ++i) {
                data += static_cast<char>(random());
            }
        } else {
            data += "r" + std::to_string(random() % 100000) + ";x=" + std::to_string(random() % 7);
        }
    }
    data.resize(size);
    if (farCopy && size > 400000) {
        std::copy_n(data.begin(), 200000, data.end() - 200000);
    }
    return data;
}

const std::vector<LzxBlockPlan> kEveryKind = {{LzxBlockType::kAligned, 50000},
                                              {LzxBlockType::kUncompressed, 7001},
                                              {LzxBlockType::kVerbatim, 100000},
                                              {LzxBlockType::kUncompressed, 40000}};

bool HaveCabextract() {
    return Shell("command -v cabextract").status == 0;
}

TEST(Cab32Lzx, GeneratedCabinetsReadAsCabextractReadsThem) {
    ASSERT_NE(Library().command, nullptr);
    struct Case {
        const char* what;
        unsigned windowBits;
        std::uint32_t translationSize;
        std::vector<LzxBlockPlan> blocks;
        std::string data;
        std::size_t longestDistance = 262140;
    };
    const std::vector<Case> cases = {
        {"2^15, a verbatim block per frame",
         15,
         0,
         {{LzxBlockType::kVerbatim, 32768}},
         SampleData(300000, 1)},
        {"2^15, call translation, blocks across frames",
         15,
         3000000,
         {{LzxBlockType::kAligned, 70000}, {LzxBlockType::kVerbatim, 20000}},
         SampleData(300000, 2)},
        {"2^16, every block kind", 16, 0, kEveryKind, SampleData(300000, 3)},
        {"2^18, aligned blocks", 18, 0, {{LzxBlockType::kAligned, 32768}}, SampleData(200000, 4)},
        {"2^20, uncompressed only",
         20,
         0,
         {{LzxBlockType::kUncompressed, 65536}},
         SampleData(100001, 5)},
        // Longer than the decoder's ring: matches reach back across its end.
        {"2^21, every block kind, call translation, far matches", 21, 12000000, kEveryKind,
         SampleData(2400000, 6, true), (std::size_t{1} << 21) - 3},
        {"a file shorter than a frame's untranslated tail",
         15,
         1000,
         {{LzxBlockType::kVerbatim, 9}},
         "\xE8\x01\x00\x00\x00zz"},
    };
    const bool cabextract = HaveCabextract();
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        TempFolder scratch;
        LzxCabinetOptions options;
        options.windowBits = test.windowBits;
        options.translationSize = test.translationSize;
        options.blocks = test.blocks;
        options.longestDistance = test.longestDistance;
        const std::string cabinet =
            scratch.Write("lzx.cab", LzxCabinet(test.data, "data.bin", options));
        const auto result = Library().Run(Line("-x", cabinet, scratch.Folder() + "ours"));
        ASSERT_EQ(result.code, 0) << result.text;
        EXPECT_TRUE(ReadFile(scratch / "ours/data.bin") == test.data) << "our reader differs";
        if (cabextract) {
            ASSERT_EQ(
                Shell("cabextract -q -d '" + scratch.Folder() + "theirs' '" + cabinet + "'").status,
                0);
            EXPECT_TRUE(ReadFile(scratch / "theirs/data.bin") == test.data)
                << "cabextract reads the writer otherwise";
        }
    }
    if (!cabextract) {
        GTEST_SKIP() << "cabextract is missing: only our reader was checked";
    }
}

TEST(Cab32Lzx, DamagedLzxDataIsReportedAndLeavesNoFile) {
    ASSERT_NE(Library().command, nullptr);
    LzxCabinetOptions options;
    options.windowBits = 16;
    options.blocks = kEveryKind;
    const std::string data = SampleData(150000, 7);
    const std::string sound = LzxCabinet(data, "data.bin", options);
    const std::size_t firstBlock = 36 + 8 + 16 + sizeof "data.bin";
    auto packedSize = [&](std::size_t block) {
        return static_cast<unsigned char>(sound[block + 4]) |
               static_cast<unsigned char>(sound[block + 5]) << 8;
    };
    const std::size_t secondBlock = firstBlock + 8 + packedSize(firstBlock);
    const struct {
        const char* what;
        std::function<void(std::string&)> damage;
    } cases[] = {
        // The stream's first word holds the translation bit, then the block type.
        {"block type 0", [&](std::string& c) { c[firstBlock + 9] &= ~0x70; }},
        {"block type 7", [&](std::string& c) { c[firstBlock + 9] |= 0x70; }},
        {"a frame short of 32 KiB before the last",
         [&](std::string& c) { c[firstBlock + 7] = 0x10; }},
        {"a frame longer than 32 KiB", [&](std::string& c) { c[firstBlock + 7] = '\x81'; }},
        {"the first block's data cut short",
         [&](std::string& c) { c.erase(firstBlock + 8 + 100, packedSize(firstBlock) - 100); }},
        {"the trees garbled",
         [&](std::string& c) {
             for (std::size_t i = 10; i < 40; ++i) {
                 c[secondBlock + 8 + i] = static_cast<char>(0xFF);
             }
         }},
        {"an empty frame", [&](std::string& c) { c[firstBlock + 6] = c[firstBlock + 7] = 0; }},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        TempFolder scratch;
        std::string damaged = sound;
        test.damage(damaged);
        const std::string cabinet = scratch.Write("bad.cab", damaged);
        const auto result = Library().Run(Line("-x", cabinet, scratch.Folder() + "out"));
        EXPECT_NE(result.code, 0);
        EXPECT_FALSE(result.text.empty());
        EXPECT_TRUE(FilesBelow(scratch.Folder() + "out").empty());
    }
}

}  // namespace
}  // namespace zembrat::cab32::testing
