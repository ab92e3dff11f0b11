// Members taken over from an existing archive (as updating, freshening and deleting do) come
// out byte for byte as they went in, from our archives and from other writers' (data
// descriptors, a self-extracting prefix); a damaged directory is refused, never copied.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "fixtures_dir.h"
#include "temp_folder.h"
#include "test_support.h"
#include "zip_test_support.h"

namespace zembrat::zip::test {
namespace {

using lha::test::HaveCommand;
using lha::test::Quote;
using lha::test::RunCommand;

constexpr std::int64_t kTime = 1614834367;

class ArchiveFile {
  public:
    explicit ArchiveFile(const std::string& path)
        : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)) {}
    ~ArchiveFile() { ::close(fd_); }
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;
    int Fd() const { return fd_; }

  private:
    int fd_;
};

void AddText(Writer& writer, const std::string& name, std::size_t size, std::uint32_t seed) {
    const auto data = lha::test::TextBytes(size, seed);
    MemoryInput input(data);
    writer.AddFile({name, kTime, 0644}, input, data.size());
}

void WriteOriginal(const std::string& path) {
    ArchiveFile file(path);
    Writer writer(file.Fd());
    AddText(writer, "a.txt", 50000, 1);
    writer.AddDirectory({"日本語", kTime, 0755});
    AddText(writer, "日本語/見積書.txt", 3000, 2);
    AddText(writer, "😀.txt", 100, 3);
    const auto random = lha::test::RandomBytes(20000, 4);
    MemoryInput input(random);
    writer.AddFile({"b.bin", kTime, 0600}, input, random.size());
    writer.Finish();
}

// A new archive with every member of the old one but `drop`, and `add` added after them.
void Rewrite(const std::string& from, const std::string& to, const std::string& drop = {},
             const std::string& add = {}) {
    const ExistingArchive existing(from);
    ArchiveFile file(to);
    Writer writer(file.Fd());
    for (std::size_t i = 0; i < existing.Members().size(); ++i) {
        if (existing.Members()[i].name != drop) {
            writer.CopyMember(existing, i);
        }
    }
    if (!add.empty()) {
        AddText(writer, add, 1000, 5);
    }
    writer.Finish();
}

TEST(ZipCopy, TheMembersOfAnExistingArchiveAreDescribed) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    zembrat::testing::TempFolder folder;
    const std::string original = folder / "a.zip";
    WriteOriginal(original);
    const ExistingArchive existing(original);
    ASSERT_EQ(existing.Members().size(), 5u);
    const ExistingMember& folderMember = existing.Members()[1];
    EXPECT_EQ(folderMember.name, "日本語");
    EXPECT_TRUE(folderMember.isDirectory);
    const ExistingMember& japanese = existing.Members()[2];
    EXPECT_EQ(japanese.name, "日本語/見積書.txt");
    EXPECT_FALSE(japanese.isDirectory);
    EXPECT_EQ(japanese.size, 3000u);
    EXPECT_LT(japanese.compressedSize, 3000u);
    EXPECT_EQ(japanese.mtime, kTime);
    EXPECT_EQ(japanese.method, 8);
    EXPECT_EQ(japanese.mode, 0100644u);
    EXPECT_EQ(existing.Members()[4].method, 0);  // random data, stored
    const ExistingArchive encrypted(ZipFixturesDir() / "hostile" /
                                    "read_format_zip_traditional_encryption_data.zip");
    ASSERT_FALSE(encrypted.Members().empty());
    for (const auto& member : encrypted.Members()) {
        EXPECT_TRUE(member.encrypted) << member.name;
    }
    EXPECT_EQ(existing.Members()[3].name, "😀.txt");
}

TEST(ZipCopy, DeletingAndAddingKeepEveryOtherMemberAsItWas) {
    zembrat::testing::TempFolder folder;
    const std::string original = folder / "a.zip";
    const std::string updated = folder / "b.zip";
    WriteOriginal(original);
    Rewrite(original, updated, "b.bin", "c.txt");
    auto expected = TreeOfArchive(original);
    expected.erase("b.bin");
    const auto updatedTree = TreeOfArchive(updated);
    ASSERT_EQ(updatedTree.count("c.txt"), 1u);
    auto withoutNew = updatedTree;
    withoutNew.erase("c.txt");
    EXPECT_EQ(withoutNew, expected);
    for (const auto& peer : kPeers) {
        SCOPED_TRACE(peer.program);
        if (HaveCommand(peer.program)) {
            EXPECT_EQ(TreeExtractedBy(peer, updated, folder / peer.program), updatedTree);
        }
    }
}

struct ForeignCase {
    const char* name;
    const char* make;  // shell command run in the folder, making foreign.zip
};

const ForeignCase kForeign[] = {
    // Streamed from standard input: sizes in a data descriptor after the data.
    {"data descriptors",
     "printf 'streamed data' | zip -q foreign.zip - && zip -q foreign.zip a.txt"},
    {"7zz", "7zz a -tzip -bd -bso0 foreign.zip a.txt dir"},
    // A self-extracting prefix whose offsets still count from the archive's start.
    {"unadjusted prefix",
     "zip -qr plain.zip a.txt dir && head -c 4096 /dev/zero > foreign.zip "
     "&& cat plain.zip >> foreign.zip"},
};

TEST(ZipCopy, OtherWritersArchivesAreTakenOverByteForByte) {
    for (const auto& foreign : kForeign) {
        SCOPED_TRACE(foreign.name);
        zembrat::testing::TempFolder folder;
        folder.Write("a.txt", std::string(5000, 'a'));
        folder.Write("dir/b.txt", "bee");
        if (!HaveCommand("zip") || !HaveCommand("7zz")) {
            GTEST_SKIP() << "zip or 7zz is not installed";
        }
        std::string output;
        ASSERT_EQ(
            RunCommand("cd " + Quote(folder.Path().string()) + " && " + foreign.make, &output), 0)
            << output;
        const std::string copy = folder / "copy.zip";
        Rewrite(folder / "foreign.zip", copy);
        EXPECT_EQ(TreeOfArchive(copy), TreeOfArchive(folder / "foreign.zip"));
        EXPECT_EQ(RunCommand("unzip -tq " + Quote(copy), &output), 0) << output;
    }
}

// Little-endian patches on a good archive of two members.
struct Damage {
    const char* name;
    enum { kEnd, kCentral, kLocal } where;  // what the offset counts from
    std::size_t at;
    std::uint64_t value;
    int bytes;
    const char* error;
};

const Damage kDamages[] = {
    {"directory offset past the end", Damage::kEnd, 16, 0x7FFFFFF0, 4, "outside the file"},
    {"more members than the directory holds", Damage::kEnd, 10, 5000, 2, "more members"},
    {"second member over the first", Damage::kCentral, 42, 0, 4, "share the same bytes"},
    {"local header gone", Damage::kLocal, 0, 0x12345678, 4, "local header is missing"},
    {"data past the directory", Damage::kCentral, 20, 0x7FFFFFF0, 4, "runs into the central"},
    {"end record cut", Damage::kEnd, 20, 0xFFFF, 2, "no end of central directory"},
};

TEST(ZipCopy, ADamagedDirectoryIsRefused) {
    zembrat::testing::TempFolder folder;
    const std::string good = folder / "good.zip";
    {
        ArchiveFile file(good);
        Writer writer(file.Fd());
        AddText(writer, "one.txt", 1000, 1);
        AddText(writer, "two.txt", 1000, 2);
        writer.Finish();
    }
    const auto bytes = lha::test::ReadFileBytes(good);
    const auto get = [&](std::size_t at, int size) {
        std::uint64_t value = 0;
        for (int i = size - 1; i >= 0; --i) {
            value =
                (value << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
        }
        return value;
    };
    const std::size_t end = bytes.size() - 22;
    const auto directory = static_cast<std::size_t>(get(end + 16, 4));
    // The second central header follows the first.
    const std::size_t second =
        directory + 46 + get(directory + 28, 2) + get(directory + 30, 2) + get(directory + 32, 2);
    for (const auto& damage : kDamages) {
        SCOPED_TRACE(damage.name);
        auto damaged = bytes;
        const std::size_t base = damage.where == Damage::kEnd       ? end
                                 : damage.where == Damage::kCentral ? second
                                                                    : 0;
        for (int i = 0; i < damage.bytes; ++i) {
            damaged[base + damage.at + static_cast<std::size_t>(i)] =
                static_cast<std::byte>((damage.value >> (8 * i)) & 0xFF);
        }
        const std::string path = folder / "damaged.zip";
        lha::test::WriteFileBytes(path, damaged);
        try {
            ExistingArchive existing(path);
            ADD_FAILURE() << "accepted";
        } catch (const Error& error) {
            EXPECT_EQ(error.Kind(), ErrorKind::kArchive);
            EXPECT_NE(std::string(error.what()).find(damage.error), std::string::npos)
                << error.what();
        }
    }
}

}  // namespace
}  // namespace zembrat::zip::test
