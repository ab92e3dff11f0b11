// What the writer writes, the reader reads back: data, names and attributes, for every method
// and header level, including the cases where compression does not pay.
#include <gtest/gtest.h>

#include <algorithm>

#include "huffman_encoder.h"
#include "test_support.h"

namespace zembrat::lha::test {
namespace {

struct Case {
    std::string name;
    std::vector<std::byte> data;
    bool compressible;
};

std::vector<Case> Cases() {
    std::vector<std::byte> runs;
    for (int i = 0; i < 60; ++i) {
        runs.insert(runs.end(), static_cast<std::size_t>(1000 + i * 977),
                    static_cast<std::byte>(i % 4));
    }
    std::vector<std::byte> mixed = TextBytes(100000, 5);
    auto noise = RandomBytes(70000, 6);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    mixed.insert(mixed.end(), 100000, std::byte{0});
    std::vector<std::byte> counting;
    for (std::uint32_t i = 0; counting.size() < 400000; i += 3) {
        for (int b = 0; b < 4; ++b) {
            counting.push_back(static_cast<std::byte>(i >> (8 * b)));
        }
    }
    return {
        {"empty", {}, false},
        {"one byte", {std::byte{'x'}}, false},
        {"random", RandomBytes(100000, 4), false},
        {"text over several blocks", TextBytes(1500000, 3), true},
        {"runs", runs, true},
        {"mixed", mixed, true},
        {"counting words", counting, true},
    };
}

std::vector<std::byte> WriteOne(const Member& m, std::span<const std::byte> data, int level,
                                const std::string& method, int encoderLevel = 0, int threads = 0) {
    MemoryOutput out;
    WriterOptions options;
    options.headerLevel = level;
    options.method = method;
    options.level = encoderLevel;
    options.threads = threads;
    Writer writer(out, options);
    MemoryInput in(data);
    writer.AddFile(m, in, data.size());
    writer.Finish();
    return out.Data();
}

TEST(LhaRoundTrip, EveryMethodAndLevelGivesBackDataAndAttributes) {
    EXPECT_THROW(WriteOne(Member{}, {}, 2, "-lh7-", 2), Error);  // no encoder level 2
    for (int level : {0, 1, 2}) {
        for (const std::string method : {"-lh0-", "-lh5-", "-lh6-", "-lh7-"}) {
            for (const auto& c : Cases()) {
                SCOPED_TRACE(c.name + " level " + std::to_string(level) + " " + method);
                Member m;
                m.path = "folder/sub/" + c.name;
                m.unixTime = 1234567890;
                m.unixMode = 0640;
                m.unixUid = 1001;
                m.unixGid = 1002;
                // The optimal parse (encoder level 1) at header level 1.
                auto archive = WriteOne(m, c.data, level, method, level == 1 ? 1 : 0);
                MemoryInput in(archive);
                Reader reader(in);
                auto got = reader.Next();
                ASSERT_TRUE(got);
                EXPECT_EQ(got->path, m.path);
                EXPECT_EQ(got->headerLevel, level);
                EXPECT_EQ(got->originalSize, c.data.size());
                EXPECT_EQ(got->crc, Crc16(c.data));
                EXPECT_EQ(got->unixTime, m.unixTime);
                EXPECT_EQ(got->unixMode, m.unixMode);
                EXPECT_EQ(got->unixUid, m.unixUid);
                EXPECT_EQ(got->unixGid, m.unixGid);
                std::string expected = c.compressible && method != "-lh0-" ? method : "-lh0-";
                EXPECT_EQ(got->method, expected);
                if (got->method != "-lh0-") {
                    EXPECT_LT(got->compressedSize, c.data.size());
                }
                EXPECT_TRUE(ExtractToMemory(reader) == c.data);
                EXPECT_FALSE(reader.Next());
            }
        }
    }
}

// Inputs of several 1 MiB chunks are parsed two at a time: matches must still reach back
// across chunk edges, and the archive must not depend on the number of threads.
TEST(LhaRoundTrip, ChunksParsedSideBySideGiveTheSameArchive) {
    auto pattern = RandomBytes(30000, 11);
    std::vector<std::byte> repeated;
    while (repeated.size() < 3300000) {
        repeated.insert(repeated.end(), pattern.begin(), pattern.end());
    }
    auto text = TextBytes(2500000, 12);
    Member m;
    m.path = "r";
    for (int encoderLevel : {0, 1}) {
        for (const std::string method : {"-lh5-", "-lh7-"}) {
            SCOPED_TRACE(method + " level " + std::to_string(encoderLevel));
            auto one = WriteOne(m, text, 2, method, encoderLevel, 1);
            EXPECT_EQ(WriteOne(m, text, 2, method, encoderLevel, 2), one);
            MemoryInput in(one);
            Reader reader(in);
            ASSERT_TRUE(reader.Next());
            EXPECT_TRUE(ExtractToMemory(reader) == text);
        }
    }
    // A 30000-byte pattern fits lh7's window: only its first copy is sent as literals (were
    // chunks parsed without the history before them, each would send it again).
    auto archive = WriteOne(m, repeated, 2, "-lh7-", 0, 2);
    EXPECT_LT(archive.size(), 2 * pattern.size());
    MemoryInput in(archive);
    Reader reader(in);
    ASSERT_TRUE(reader.Next());
    EXPECT_TRUE(ExtractToMemory(reader) == repeated);
}

// An input that can be read once only.
class OneShotInput final : public InputStream {
  public:
    explicit OneShotInput(std::span<const std::byte> data) : inner_(data) {}
    std::size_t Read(std::span<std::byte> buffer) override {
        return inner_.Read(buffer.first(std::min<std::size_t>(buffer.size(), 1000)));
    }

  private:
    MemoryInput inner_;
};

TEST(LhaRoundTrip, StoringAfterAFailedCompressionRereadsTheInput) {
    auto random = RandomBytes(300000, 9);
    auto text = TextBytes(300000, 10);
    std::vector<std::byte> prefixed(123, std::byte{0x55});
    prefixed.insert(prefixed.end(), random.begin(), random.end());
    MemoryOutput out;
    Writer writer(out, {});
    Member m;
    m.path = "once.bin";
    OneShotInput once(random);
    writer.AddFile(m, once, random.size());
    m.path = "once.txt";
    OneShotInput onceText(text);
    writer.AddFile(m, onceText, text.size());
    m.path = "offset.bin";
    MemoryInput seekable(prefixed);
    seekable.Seek(123);  // the member starts where the input stands, not at 0
    writer.AddFile(m, seekable, random.size());
    writer.Finish();

    MemoryInput in(out.Data());
    Reader reader(in);
    for (const auto& [name, data, method] :
         {std::tuple{"once.bin", random, "-lh0-"}, std::tuple{"once.txt", text, "-lh7-"},
          std::tuple{"offset.bin", random, "-lh0-"}}) {
        auto got = reader.Next();
        ASSERT_TRUE(got);
        EXPECT_EQ(got->path, name);
        EXPECT_EQ(got->method, method);
        EXPECT_TRUE(ExtractToMemory(reader) == data) << name;
    }
    EXPECT_FALSE(reader.Next());
}

TEST(LhaRoundTrip, FoldersLinksAndRawCopies) {
    MemoryOutput out;
    Writer writer(out, {});
    Member folder;
    folder.path = "a/b";
    writer.AddDirectory(folder);
    Member link;
    link.path = "a/b/link";
    link.linkTarget = "../../target/file.txt";
    writer.AddSymlink(link);
    Member file;
    file.path = "a/b/c.txt";
    auto text = TextBytes(20000, 2);
    MemoryInput data(text);
    writer.AddFile(file, data, text.size());
    Member noTarget;
    noTarget.path = "broken";
    EXPECT_THROW(writer.AddSymlink(noTarget), Error);
    writer.Finish();

    MemoryInput in(out.Data());
    Reader reader(in);
    auto dir = reader.Next();
    ASSERT_TRUE(dir);
    EXPECT_TRUE(dir->IsDirectory());
    EXPECT_EQ(dir->path, "a/b");
    auto got = reader.Next();
    ASSERT_TRUE(got);
    EXPECT_TRUE(got->IsSymlink());
    EXPECT_EQ(got->path, "a/b/link");
    EXPECT_EQ(got->linkTarget, "../../target/file.txt");

    // Copying every member raw gives the same archive byte for byte.
    MemoryInput again(out.Data());
    Reader source(again);
    MemoryOutput copy;
    Writer copier(copy, {});
    while (source.Next()) {
        copier.AddRaw(source);
    }
    copier.Finish();
    EXPECT_TRUE(copy.Data() == out.Data());
}

TEST(LhaRoundTrip, ProgressIsReportedAndCanStopBothWays) {
    auto text = TextBytes(600000, 8);
    std::vector<std::uint64_t> seen;
    MemoryOutput out;
    Writer writer(out, {});
    Member m;
    m.path = "p.txt";
    MemoryInput data(text);
    writer.AddFile(m, data, text.size(), [&](std::uint64_t done, std::uint64_t total) {
        EXPECT_EQ(total, text.size());
        seen.push_back(done);
        return true;
    });
    writer.Finish();
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.back(), text.size());

    MemoryInput again(text);
    MemoryOutput other;
    Writer stopping(other, {});
    EXPECT_THROW(stopping.AddFile(m, again, text.size(), [](auto, auto) { return false; }),
                 Aborted);

    MemoryInput in(out.Data());
    Reader reader(in);
    ASSERT_TRUE(reader.Next());
    MemoryOutput sink;
    EXPECT_THROW(reader.Extract(sink, [](auto, auto) { return false; }), Aborted);
}

TEST(LhaRoundTrip, SizesTheFormatCannotCarryAreRefused) {
    MemoryOutput out;
    Writer writer(out, {});
    Member m;
    m.path = "huge";
    // An input shorter than announced is an error, not a short member.
    auto text = TextBytes(1000, 1);
    MemoryInput shortInput(text);
    try {
        writer.AddFile(m, shortInput, 5000);
        ADD_FAILURE() << "no error for a short input";
    } catch (const Error& e) {
        EXPECT_EQ(e.Kind(), ErrorKind::kIo);
    }
    WriterOptions level0;
    level0.headerLevel = 0;
    MemoryOutput other;
    Writer old(other, level0);
    m.path = std::string(300, 'n');
    MemoryInput data(text);
    EXPECT_THROW(old.AddFile(m, data, text.size()), Error);
}

// Produces a long input without holding it in memory.
class PatternInput final : public InputStream {
  public:
    explicit PatternInput(std::uint64_t size) : left_(size) {}
    std::size_t Read(std::span<std::byte> buffer) override {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), left_));
        for (std::size_t i = 0; i < n; ++i, ++at_) {
            // Long zero stretches with some text-like noise now and then.
            buffer[i] = (at_ / 65536) % 5 == 0 ? static_cast<std::byte>("lha data "[at_ % 9])
                                               : std::byte{0};
        }
        left_ -= n;
        return n;
    }

  private:
    std::uint64_t left_;
    std::uint64_t at_ = 0;
};

TEST(LhaRoundTrip, LongInputsStreamInReasonableTime) {
    constexpr std::uint64_t kSize = 48u << 20;
    for (const std::string method : {"-lh5-", "-lh7-"}) {
        MemoryOutput out;
        WriterOptions options;
        options.method = method;
        Writer writer(out, options);
        Member m;
        m.path = "long.bin";
        PatternInput input(kSize);
        writer.AddFile(m, input, kSize);
        writer.Finish();
        EXPECT_LT(out.Data().size(), kSize / 100);
        MemoryInput in(out.Data());
        Reader reader(in);
        ASSERT_TRUE(reader.Next());
        HashingOutput got;
        reader.Extract(got);
        PatternInput again(kSize);
        HashingOutput expected;
        std::vector<std::byte> buffer(1 << 16);
        while (std::size_t n = again.Read(buffer)) {
            expected.Write(std::span(buffer).first(n));
        }
        EXPECT_EQ(got.Count(), kSize);
        EXPECT_EQ(got.Digest(), expected.Digest());
    }
}

TEST(LhaHuffman, LengthsStayWithinSixteenBitsAndFormACompleteCode) {
    // Fibonacci frequencies make the deepest possible tree.
    std::vector<std::uint32_t> frequencies(40);
    std::uint32_t a = 1, b = 1;
    for (auto& f : frequencies) {
        f = a;
        std::uint32_t next = a + b;
        a = b;
        b = std::min<std::uint32_t>(next, 1u << 30);
    }
    frequencies[7] = 0;
    auto lengths = BuildCodeLengths(frequencies, 16);
    std::uint64_t kraft = 0;
    for (std::size_t s = 0; s < lengths.size(); ++s) {
        EXPECT_LE(lengths[s], 16);
        EXPECT_EQ(lengths[s] == 0, frequencies[s] == 0) << s;
        if (lengths[s] != 0) {
            kraft += std::uint64_t{1} << (16 - lengths[s]);
        }
    }
    EXPECT_EQ(kraft, std::uint64_t{1} << 16);
    // More frequent symbols never get longer codes.
    for (std::size_t s = 1; s < lengths.size(); ++s) {
        if (frequencies[s] != 0 && frequencies[s - 1] != 0) {
            EXPECT_LE(lengths[s], lengths[s - 1]);
        }
    }
}

}  // namespace
}  // namespace zembrat::lha::test
