// Archives we write, at every kind of level, with Japanese names, names CP932 cannot hold,
// empty files, folders, a link, data that does not shrink and members of several chunks, come
// back identically from our reader and from 7zz, bsdtar, unar and unzip; ZIP64 archives
// (more than 65,535 members, a member past 4 GiB) are read by them too.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>

#include "temp_folder.h"
#include "test_support.h"
#include "zip_test_support.h"

namespace zembrat::zip::test {
namespace {

using lha::test::HaveCommand;
using lha::test::Quote;
using lha::test::RunCommand;

constexpr std::int64_t kTime = 1614834367;  // 2021-03-04 05:06:07 UTC

struct SourceFile {
    const char* name;
    enum { kText, kRandom, kFolder, kLink } kind;
    std::size_t size;
    bool expectDeflated;
};

const SourceFile kSources[] = {
    {"readme.txt", SourceFile::kText, 100000, true},
    {"日本語", SourceFile::kFolder, 0, false},
    {"日本語/見積書.txt", SourceFile::kText, 5000, true},
    {"表だよ", SourceFile::kFolder, 0, false},  // 表 holds the byte 0x5C in CP932
    {"表だよ/一覧表.txt", SourceFile::kText, 3000, true},
    {"emoji 😀", SourceFile::kFolder, 0, false},
    {"emoji 😀/ü notes.txt", SourceFile::kText, 1000, true},
    {"empty.txt", SourceFile::kText, 0, false},
    {"空のフォルダ", SourceFile::kFolder, 0, false},
    {"random.bin", SourceFile::kRandom, 300000, false},
    {"big", SourceFile::kFolder, 0, false},
    {"big/text.bin", SourceFile::kText, 9u << 20, true},       // several chunks
    {"big/random.bin", SourceFile::kRandom, 9u << 20, false},  // several, stored again
    {"link", SourceFile::kLink, 0, false},
};

void MakeSources(const std::filesystem::path& root) {
    std::filesystem::create_directories(root);
    for (const auto& source : kSources) {
        const auto path = root / source.name;
        switch (source.kind) {
            case SourceFile::kFolder:
                std::filesystem::create_directories(path);
                break;
            case SourceFile::kLink:
                std::filesystem::create_symlink("readme.txt", path);
                continue;
            case SourceFile::kText:
                lha::test::WriteFileBytes(path, lha::test::TextBytes(source.size, 1));
                break;
            case SourceFile::kRandom:
                lha::test::WriteFileBytes(path, lha::test::RandomBytes(source.size, 2));
                break;
        }
        const timespec times[2] = {{kTime, 0}, {kTime, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    ::chmod((root / "readme.txt").c_str(), 0640);
}

void WriteArchive(const std::filesystem::path& root, const std::string& archive, int level) {
    const int fd = ::open(archive.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    Writer writer(fd, {level, 0});
    for (const auto& source : kSources) {
        SCOPED_TRACE(source.name);
        struct stat info {};
        ASSERT_EQ(::lstat((root / source.name).c_str(), &info), 0);
        const EntryInfo entry{source.name, info.st_mtime, info.st_mode & 07777};
        if (source.kind == SourceFile::kFolder) {
            writer.AddDirectory(entry);
        } else if (source.kind == SourceFile::kLink) {
            writer.AddSymlink(entry, "readme.txt");
        } else {
            FileInput input((root / source.name).string());
            const WrittenMember written = writer.AddFile(entry, input, input.Size());
            EXPECT_EQ(written.deflated, source.expectDeflated && level > 0);
            EXPECT_LE(written.compressedSize, std::max<std::uint64_t>(written.size, 0));
        }
    }
    writer.Finish();
    ::close(fd);
}

TEST(ZipRoundTrip, EveryLevelReadsBackIdenticallyEverywhere) {
    zembrat::testing::TempFolder folder;
    const auto sources = folder.Path() / "sources";
    MakeSources(sources);
    const auto expected = TreeOf(sources);
    for (const int level : {0, 1, 6, 9}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const std::string archive = folder / ("level" + std::to_string(level) + ".zip");
        WriteArchive(sources, archive, level);
        EXPECT_EQ(TreeOfArchive(archive), expected);
        for (const auto& peer : kPeers) {
            SCOPED_TRACE(peer.program);
            if (!HaveCommand(peer.program)) {
                std::cerr << "skipped: " << peer.program << " is not installed\n";
                continue;
            }
            const std::string out = folder / (std::string(peer.program) + std::to_string(level));
            EXPECT_EQ(TreeExtractedBy(peer, archive, out), expected);
            struct stat info {};
            EXPECT_EQ(::stat((std::filesystem::path(out) / "日本語/見積書.txt").c_str(), &info), 0);
            EXPECT_EQ(info.st_mtime, kTime);
        }
    }
}

TEST(ZipRoundTrip, OurReaderGivesTimesModesAndMethods) {
    zembrat::testing::TempFolder folder;
    MakeSources(folder.Path() / "sources");
    const std::string archive = folder / "a.zip";
    WriteArchive(folder.Path() / "sources", archive, 6);
    Reader reader(archive);
    std::map<std::string, Member> members;
    while (auto member = reader.Next()) {
        members[member->name] = *member;
    }
    EXPECT_EQ(members["readme.txt"].mode, 0640u);
    EXPECT_EQ(members["readme.txt"].mtime, kTime);
    EXPECT_EQ(members["readme.txt"].method, "deflation");
    EXPECT_EQ(members["random.bin"].method, "uncompressed");
    EXPECT_EQ(members["空のフォルダ"].kind, MemberKind::kDirectory);
    EXPECT_EQ(members["空のフォルダ"].mtime, kTime);
}

TEST(ZipRoundTrip, NamesAreCp932WithTheUnicodeFieldOrUtf8Flagged) {
    // The stored bytes of each name, and whether the peers that read only the legacy name
    // (with the UTF-8 flag) see it right, checked with unzip's raw listing.
    zembrat::testing::TempFolder folder;
    const std::string archive = folder / "names.zip";
    const int fd = ::open(archive.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Writer writer(fd);
    const std::vector<std::byte> none;
    struct NameCase {
        const char* name;
        const char* stored;
    };
    const NameCase cases[] = {
        {"plain.txt", "plain.txt"},
        {"見積書.txt", "\x8c\xa9\x90\xcf\x8f\x91.txt"},
        {"表.txt", "\x95\x5c.txt"},
        {"😀.txt", "😀.txt"},
    };
    for (const auto& c : cases) {
        MemoryInput input(none);
        EXPECT_EQ(writer.AddFile({c.name, kTime, 0644}, input, 0).storedName, c.stored);
    }
    writer.Finish();
    ::close(fd);
    std::map<std::string, std::string> tree;
    for (const auto& c : cases) {
        tree[c.name] = "file:" + lha::test::Sha256Of({});
    }
    EXPECT_EQ(TreeOfArchive(archive), tree);
}

// A member past 4 GiB from a sparse file needs ZIP64 sizes, which every peer must find.
TEST(ZipRoundTrip, AMemberPast4GiBIsReadEverywhere) {
    zembrat::testing::TempFolder folder;
    const std::string huge = folder / "huge.bin";
    const std::uint64_t hugeSize = (4ull << 30) + (1 << 20) + 7;
    {
        const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(hugeSize)), 0);
        ::close(fd);
    }
    const std::string bigArchive = folder / "huge.zip";
    {
        const int fd = ::open(bigArchive.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        Writer writer(fd, {1, 0});
        FileInput input(huge);
        writer.AddFile({"huge.bin", kTime, 0644}, input, hugeSize);
        writer.Finish();
        ::close(fd);
    }
    // Ours: the huge member whole, its CRC checked on the way.
    const ReadResult big = ReadArchive(bigArchive);
    ASSERT_EQ(big.archiveError, "");
    ASSERT_EQ(big.members.size(), 1u);
    EXPECT_EQ(big.members[0].error, "");
    EXPECT_EQ(big.members[0].size, hugeSize);
    struct Check {
        const char* program;
        const char* command;  // %a the archive
        std::string expected;
    };
    const Check checks[] = {
        {"unzip", "unzip -tq %a", "No errors detected"},
        {"7zz", "7zz t %a", "Everything is Ok"},
        {"bsdtar", "bsdtar -tvf %a | head -n 1", std::to_string(hugeSize)},
    };
    for (const auto& check : checks) {
        SCOPED_TRACE(check.program);
        if (!HaveCommand(check.program)) {
            std::cerr << "skipped: " << check.program << " is not installed\n";
            continue;
        }
        std::string command = check.command;
        command.replace(command.find("%a"), 2, Quote(bigArchive));
        std::string output;
        RunCommand(command, &output);
        EXPECT_NE(output.find(check.expected), std::string::npos) << output;
    }
}

// More members than 16 bits count need the ZIP64 end records, which every peer must find.
TEST(ZipRoundTrip, MoreThan65535MembersAreReadEverywhere) {
    zembrat::testing::TempFolder folder;
    const std::string manyArchive = folder / "many.zip";
    constexpr std::size_t kMany = 70000;
    {
        const int fd = ::open(manyArchive.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        Writer writer(fd, {6, 0});
        const std::array<std::byte, 3> data{std::byte{'a'}, std::byte{'b'}, std::byte{'c'}};
        for (std::size_t i = 0; i < kMany; ++i) {
            MemoryInput input(data);
            writer.AddFile({"m" + std::to_string(i), kTime, 0644}, input, data.size());
        }
        writer.Finish();
        ::close(fd);
    }
    const ReadResult many = ReadArchive(manyArchive);
    EXPECT_EQ(many.archiveError, "");
    EXPECT_EQ(many.members.size(), kMany);

    for (const char* count : {"unzip -Z1 %a | wc -l", "bsdtar -tf %a | wc -l",
                              "7zz l -ba %a | wc -l", "lsar %a | tail -n +2 | wc -l"}) {
        SCOPED_TRACE(count);
        std::string command = count;
        command.replace(command.find("%a"), 2, Quote(manyArchive));
        std::string listing;
        RunCommand(command, &listing);
        EXPECT_EQ(listing, std::to_string(kMany) + "\n");
    }
}

}  // namespace
}  // namespace zembrat::zip::test
