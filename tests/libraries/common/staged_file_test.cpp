#include "common/staged_file.h"
#include "common/folder_times.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "temp_folder.h"

namespace zembrat::common {
namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::span<const std::byte> Bytes(const std::string& text) {
    return std::as_bytes(std::span(text.data(), text.size()));
}

// One piece of what a writer is given: data, or a hole the reader knows of.
struct Piece {
    std::string data;
    std::uint64_t hole = 0;
};

// Whatever comes in, the file reads back as the same bytes; long runs of zeros take no
// blocks of the disk.
TEST(HoleAwareWriter, WritesTheSameBytesAndLeavesHoles) {
    const std::string block(kHoleBlock, 'a');
    const std::string zeros(16 * kHoleBlock, '\0');
    struct Case {
        const char* name;
        std::vector<Piece> pieces;
        bool sparse;  // at least 16 blocks of zeros on disk as a hole
    };
    const std::vector<Case> cases = {
        {"plain data", {{block + "tail"}}, false},
        {"zeros in the data", {{block + zeros + block}}, true},
        {"zeros at the end", {{block + zeros}}, true},
        {"only zeros", {{zeros}}, true},
        {"unaligned start", {{"abc"}, {zeros}, {"x"}}, true},
        {"short zero runs stay data",
         {{std::string(100, '\0') + "x" + std::string(100, '\0')}},
         false},
        {"holes given as such", {{"head"}, {"", 16 * kHoleBlock}, {"tail"}}, true},
        {"hole at the end", {{block}, {"", 16 * kHoleBlock}}, true},
        {"empty", {}, false},
    };
    const testing::TempFolder folder;
    for (const Case& test : cases) {
        const std::string path = folder / "out";
        std::filesystem::remove(path);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        std::string expected;
        HoleAwareWriter writer(fd);
        for (const Piece& piece : test.pieces) {
            if (piece.hole > 0) {
                writer.Hole(piece.hole);
                expected.append(piece.hole, '\0');
            } else {
                writer.Write(Bytes(piece.data));
                expected += piece.data;
            }
        }
        writer.Finish();
        struct stat info {};
        ASSERT_EQ(::fstat(fd, &info), 0);
        ::close(fd);
        EXPECT_EQ(Read(path), expected) << test.name;
        EXPECT_EQ(writer.Size(), expected.size()) << test.name;
        const auto onDisk = static_cast<std::uint64_t>(info.st_blocks) * 512;
        if (test.sparse) {
            EXPECT_LE(onDisk + 16 * kHoleBlock, expected.size() + 4 * kHoleBlock) << test.name;
        }
    }
}

TEST(StagedFile, AppearsOnlyWhenCommitted) {
    const testing::TempFolder folder;
    const std::string final = folder / "final.txt";
    {
        StagedFile dropped(folder.Folder());
        ASSERT_TRUE(dropped.Valid());
        ASSERT_EQ(::write(dropped.Fd(), "x", 1), 1);
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
    {
        StagedFile first(folder.Folder());
        StagedFile second(folder.Folder());
        ASSERT_TRUE(first.Valid() && second.Valid());
        EXPECT_NE(first.Path(), second.Path());
        ASSERT_EQ(::write(first.Fd(), "data", 4), 4);
        std::string reason;
        ASSERT_TRUE(first.Commit(final, reason)) << reason;
    }
    EXPECT_EQ(Read(final), "data");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                            std::filesystem::directory_iterator()),
              1);
    std::string reason;
    StagedFile nowhere(folder / "missing/");
    EXPECT_FALSE(nowhere.Valid());
    EXPECT_FALSE(nowhere.Commit(final, reason));
}

TEST(MakeHardLink, ReplacesWhatIsThereWhole) {
    const testing::TempFolder folder;
    const std::string source = folder.Write("source", "data");
    const std::string existing = folder.Write("existing", "old");
    for (const std::string& target : {folder / "new", existing}) {
        ASSERT_TRUE(MakeHardLink(source, target)) << target;
        EXPECT_TRUE(std::filesystem::equivalent(source, target)) << target;
    }
    EXPECT_FALSE(MakeHardLink(folder / "missing", folder / "other"));
    EXPECT_FALSE(std::filesystem::exists(folder / "other"));
    // Nothing temporary is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                            std::filesystem::directory_iterator()),
              3);
}

// Times and permissions hold once applied, deepest first, even for a parent whose child was
// touched after it was remembered.
TEST(FolderTimes, AppliedDeepestFirst) {
    const testing::TempFolder folder;
    const std::string outer = folder / "outer";
    const std::string inner = folder / "outer/inner";
    std::filesystem::create_directories(inner);
    FolderTimes times;
    times.Add(outer, 1000000000 * kNanosecondsPerSecond, 0755);
    times.Add(inner, 1100000000 * kNanosecondsPerSecond, 0500);
    times.Apply();
    struct stat info {};
    ASSERT_EQ(::stat(outer.c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1000000000);
    ASSERT_EQ(::stat(inner.c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1100000000);
    EXPECT_EQ(info.st_mode & 07777, 0500u);
    ::chmod(inner.c_str(), 0755);
}

}  // namespace
}  // namespace zembrat::common
