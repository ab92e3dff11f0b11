// Hostile archives: nothing is ever written outside the destination, nothing damaged is left
// under a final name, and names are never printed raw.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "lha/archive.h"
#include "lha/stream.h"
#include "unlha32_library.h"

namespace zembrat::unlha32::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct Hostile {
    enum Kind { kFile, kLink, kFolder } kind;
    std::string name;
    std::string content;  // file data or link target
};

// Written with the LHA writer directly, bypassing every check of the library's packing side.
void WriteArchive(const std::string& path, const std::vector<Hostile>& members,
                  std::uint8_t osId = 'U') {
    lha::FileOutput output(path);
    lha::Writer writer(output, lha::WriterOptions{.osId = osId});
    for (const Hostile& member : members) {
        lha::Member header;
        header.path = member.name;
        header.unixTime = 1600000000;
        if (member.kind == Hostile::kFile) {
            lha::MemoryInput data(std::as_bytes(std::span(member.content)));
            writer.AddFile(header, data, member.content.size());
        } else if (member.kind == Hostile::kLink) {
            header.method = "-lhd-";
            header.linkTarget = member.content;
            writer.AddSymlink(header);
        } else {
            header.method = "-lhd-";
            writer.AddDirectory(header);
        }
    }
    writer.Finish();
    output.Close();
}

std::vector<std::string> StoredNames(const std::string& archive) {
    std::vector<std::string> names;
    lha::FileInput input(archive);
    lha::Reader reader(input);
    while (auto member = reader.Next()) {
        names.push_back(member->path);
    }
    return names;
}

class SafetyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_LIBRARY();
        std::filesystem::create_directories(outside_);
        std::filesystem::create_directories(destination_);
    }

    Unlha32Library::Result Extract(const std::vector<Hostile>& members) {
        WriteArchive(archive_, members);
        return Library().Run("x -m1 \"" + archive_ + "\" \"" + destination_ + "\"");
    }

    void ExpectOutsideUntouched() {
        EXPECT_THAT(Tree(outside_), ElementsAre("keep.txt"));
        EXPECT_EQ(ReadFile(outside_ + "keep.txt"), "precious");
    }

    TempFolder scratch_;
    std::string archive_ = scratch_.Folder() + "hostile.lzh";
    std::string destination_ = scratch_.Folder() + "a/b/dest/";
    std::string outside_ = scratch_.Folder() + "outside/";
    std::string keep_ = scratch_.Write("outside/keep.txt", "precious");
};

TEST_F(SafetyTest, NamesThatClimbOutAreRefusedOthersStillExtracted) {
    const std::vector<Hostile> members = {
        {Hostile::kFile, "../escape.txt", "x"},
        {Hostile::kFile, "a/../../../escape.txt", "x"},
        {Hostile::kFile, "../../../outside/keep.txt", "overwritten"},
        {Hostile::kFile, outside_ + "keep.txt", "overwritten"},
        {Hostile::kFile, "ok.txt", "fine"},
    };
    WriteArchive(archive_, members);
    if (StoredNames(archive_)[0] != "../escape.txt") {
        GTEST_SKIP() << "the LHA writer cleans names, so no hostile archive can be made with it";
    }
    auto result = Library().Run("x -m1 \"" + archive_ + "\" \"" + destination_ + "\"");
    EXPECT_EQ(result.code, ARC_ERROR_UNSAFE_PATH);
    EXPECT_THAT(result.text, HasSubstr("escape.txt"));
    // The LHA reader drops a leading '/', so the absolute name may land inside; nothing else.
    for (const std::string& name : Tree(destination_)) {
        EXPECT_EQ(name.find("escape"), std::string::npos) << name;
    }
    EXPECT_EQ(ReadFile(destination_ + "ok.txt"), "fine");
    EXPECT_FALSE(std::filesystem::exists(scratch_.Folder() + "a/b/escape.txt"));
    EXPECT_FALSE(std::filesystem::exists(scratch_.Folder() + "escape.txt"));
    ExpectOutsideUntouched();
}

// Drive letters and '\\' as a delimiter belong to names from MS-DOS and Windows; in a Unix
// name they are characters, and such a name still lands inside.
TEST_F(SafetyTest, DriveLettersAndBackslashesFollowTheWritersSystem) {
    const std::vector<Hostile> members = {{Hostile::kFile, "C:/drive.txt", "x"},
                                          {Hostile::kFile, "back\\slash.txt", "y"}};
    const struct {
        std::uint8_t osId;
        int code;
        std::vector<std::string> tree;
    } cases[] = {
        {'M', ARC_ERROR_UNSAFE_PATH, {"back/", "back/slash.txt"}},
        {'w', ARC_ERROR_UNSAFE_PATH, {"back/", "back/slash.txt"}},
        {'U', 0, {"C:/", "C:/drive.txt", "back\\slash.txt"}},
    };
    for (const auto& [osId, code, tree] : cases) {
        std::filesystem::remove_all(destination_);
        WriteArchive(archive_, members, osId);
        auto result = Library().Run("x -m1 \"" + archive_ + "\" \"" + destination_ + "\"");
        EXPECT_EQ(result.code, code) << osId << result.text;
        EXPECT_EQ(Tree(destination_), tree) << osId;
    }
    ExpectOutsideUntouched();
}

TEST_F(SafetyTest, LinkExtractedThenWrittenThrough) {
    auto result = Extract({
        {Hostile::kFolder, "sub", ""},
        {Hostile::kLink, "inner", "sub"},         // harmless by itself ...
        {Hostile::kFile, "inner/evil.txt", "x"},  // ... but never followed by a later member
        {Hostile::kLink, "out", outside_},        // absolute: refused
        {Hostile::kLink, "up", "../../../../outside"},
        {Hostile::kFile, "out/evil.txt", "x"},
        {Hostile::kFile, "up/keep.txt", "overwritten"},
    });
    EXPECT_EQ(result.code, ARC_ERROR_UNSAFE_PATH);
    EXPECT_FALSE(std::filesystem::exists(destination_ + "sub/evil.txt"));
    EXPECT_TRUE(std::filesystem::is_symlink(destination_ + "inner"));
    EXPECT_FALSE(std::filesystem::is_symlink(destination_ + "out"));
    EXPECT_FALSE(std::filesystem::is_symlink(destination_ + "up"));
    ExpectOutsideUntouched();
}

TEST_F(SafetyTest, FileFirstThenALinkOfTheSameNameAndLinksAlreadyThere) {
    ASSERT_EQ(symlink(outside_.c_str(), (destination_ + "pre").c_str()), 0);
    auto result = Extract({
        {Hostile::kFile, "x", "first"},
        {Hostile::kLink, "x", outside_ + "keep.txt"},
        {Hostile::kFile, "pre/keep.txt", "overwritten"},
        {Hostile::kFile, "pre/new.txt", "x"},
    });
    EXPECT_EQ(result.code, ARC_ERROR_UNSAFE_PATH);
    EXPECT_EQ(ReadFile(destination_ + "x"), "first");
    EXPECT_FALSE(std::filesystem::is_symlink(destination_ + "x"));
    ExpectOutsideUntouched();
}

TEST_F(SafetyTest, LinksInsideAreRestored) {
    auto result = Extract({
        {Hostile::kFile, "data/real.txt", "real"},
        {Hostile::kLink, "data/alias.txt", "real.txt"},
        {Hostile::kLink, "top.txt", "data/real.txt"},
    });
    ASSERT_EQ(result.code, 0) << result.text;
    EXPECT_EQ(std::filesystem::read_symlink(destination_ + "data/alias.txt"), "real.txt");
    EXPECT_EQ(ReadFile(destination_ + "top.txt"), "real");
}

TEST_F(SafetyTest, DamagedDataNeverLeftUnderItsFinalName) {
    const std::string content = RandomBytes(200000, 9);
    scratch_.Write("src/good.bin", content);
    scratch_.Write("src/bad.bin", Text(200000));
    ASSERT_EQ(Library()
                  .Run("a \"" + archive_ + "\" \"" + scratch_.Folder() + "src/\" bad.bin good.bin")
                  .code,
              0);
    std::string bytes = ReadFile(archive_);
    const std::size_t at = bytes.find("bad.bin") + 400;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
    std::ofstream(archive_, std::ios::binary | std::ios::trunc) << bytes;

    auto result = Library().Run("x \"" + archive_ + "\" \"" + destination_ + "\"");
    EXPECT_TRUE(result.code == ARC_ERROR_CRC || result.code == ARC_ERROR_BROKEN_ARCHIVE)
        << std::hex << result.code;
    EXPECT_THAT(result.text, HasSubstr("bad.bin"));
    EXPECT_THAT(Tree(destination_), ElementsAre("good.bin"));  // no temporary file either
    EXPECT_EQ(ReadFile(destination_ + "good.bin"), content);

    // Cut short: the member at the end is not left behind half-written either.
    bytes = ReadFile(archive_);
    std::ofstream(archive_, std::ios::binary | std::ios::trunc)
        << bytes.substr(0, bytes.size() - 5000);
    std::filesystem::remove_all(destination_);
    EXPECT_NE(Library().Run("x \"" + archive_ + "\" \"" + destination_ + "\"").code, 0);
    EXPECT_FALSE(std::filesystem::exists(destination_ + "good.bin"));
    for (const std::string& name : Tree(destination_)) {
        EXPECT_EQ(name.find(".zembrat-"), std::string::npos) << name;
    }
}

TEST_F(SafetyTest, ControlCharactersAreEscapedInTheOutput) {
    auto result = Extract({{Hostile::kFile, "bell\x07\x1b[2J.txt", "x"}});
    ASSERT_EQ(result.code, 0) << result.text;
    EXPECT_EQ(result.text.find('\x1b'), std::string::npos);
    EXPECT_EQ(result.text.find('\x07'), std::string::npos);
    EXPECT_THAT(result.text, HasSubstr("bell\\x07\\x1B[2J.txt"));
    auto listing = Library().Run("l \"" + archive_ + "\"");
    EXPECT_EQ(listing.text.find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace zembrat::unlha32::testing
