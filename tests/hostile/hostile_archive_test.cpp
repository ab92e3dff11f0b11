// Crafted hostile archives through the real libunlha32.so: for each, a clear non-zero
// result, nothing outside the destination, no partial member under its final name, bounded
// time and memory, and the members before the damage still extracted.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>

#include "crafted_archive.h"
#include "unlha32_library.h"

namespace zembrat::hostile {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
// The loaded library, the temporary folder and the file helpers.
using namespace unlha32::testing;

std::string AsText(const Bytes& bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

class HostileArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override { REQUIRE_LIBRARY(); }

    // Writes the archive and extracts all of it into a fresh destination.
    unlha32::testing::Unlha32Library::Result Extract(const Bytes& archive,
                                                     const std::string& switches = "-m1") {
        scratch_.Write("hostile.lzh", AsText(archive));
        std::filesystem::remove_all(destination_);
        const auto started = std::chrono::steady_clock::now();
        auto result = Library().Run("x " + switches + " \"" + scratch_.Folder() +
                                    "hostile.lzh\" \"" + destination_ + "\"");
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        return result;
    }

    // Nothing but the archive, the destination and the bait beside it.
    void ExpectNothingOutside() {
        std::vector<std::string> outside;
        for (const auto& name : Tree(scratch_.Folder())) {
            if (name.rfind("dest/", 0) != 0 && name != "hostile.lzh" && name != "outside/" &&
                name != "outside/keep.txt") {
                outside.push_back(name);
            }
        }
        EXPECT_THAT(outside, ::testing::IsEmpty());
        EXPECT_EQ(ReadFile(scratch_.Folder() + "outside/keep.txt"), "precious");
    }

    // No temporary file of a member left behind in the destination.
    void ExpectNoTemporaries() {
        for (const auto& name : Tree(destination_)) {
            EXPECT_THAT(name, Not(HasSubstr(".zembrat-")));
        }
    }

    TempFolder scratch_;
    std::string destination_ = scratch_.Folder() + "dest/";
    std::string bait_ = scratch_.Write("outside/keep.txt", "precious");
};

// In names from MS-DOS and Windows, '\\' is a delimiter and a drive letter a way out; a Unix
// name holds both as characters, and lands inside as one file whatever it says.
TEST_F(HostileArchiveTest, NamesThatLeaveAreRefusedAndTheRestExtracted) {
    std::vector<CraftedMember> members = {
        StoredFile("first.txt", "first"),
        StoredFile("..\\outside\\keep.txt", "overwritten", 0),  // backslashes climb too
        StoredFile("a\\..\\..\\outside\\keep.txt", "overwritten", 1),
        StoredFile("C:\\outside\\keep.txt", "overwritten", 0),  // drive letters
        StoredFile("c:keep.txt", "overwritten", 1),
        StoredFile("sub/../../outside/keep.txt", "overwritten"),
        StoredFile("dir\\inner\\file.txt", "deep", 0),  // a backslash is a folder delimiter
        StoredFile("last.txt", "last"),
    };
    // Level 0 headers without an extension area are MS-DOS ones; the Unix case is about the
    // extended headers of level 2.
    const struct {
        std::uint8_t osId;
        std::optional<int> level;
        std::vector<std::string> tree;
    } cases[] = {
        {'M', std::nullopt, {"dir/", "dir/inner/", "dir/inner/file.txt", "first.txt", "last.txt"}},
        {'U',
         2,
         {"..\\outside\\keep.txt", "C:\\outside\\keep.txt", "a\\..\\..\\outside\\keep.txt",
          "c:keep.txt", "dir\\inner\\file.txt", "first.txt", "last.txt"}},
    };
    for (const auto& [osId, level, tree] : cases) {
        std::filesystem::remove_all(destination_);
        for (CraftedMember& member : members) {
            member.osId = osId;
            member.level = level.value_or(member.level);
        }
        const auto result = Extract(CraftArchive(members));
        EXPECT_EQ(result.code, ARC_ERROR_UNSAFE_PATH) << result.text;
        EXPECT_EQ(ReadFile(destination_ + "first.txt"), "first");
        EXPECT_EQ(ReadFile(destination_ + "last.txt"), "last");
        EXPECT_EQ(Tree(destination_), tree) << osId;
        ExpectNothingOutside();
    }
}

// An absolute stored name lands inside the destination with its leading delimiter dropped,
// as the peers read it: Windows tools store ordinary relative paths as "\\dir\\file", so
// refusing such names would refuse sound archives.
TEST_F(HostileArchiveTest, AbsoluteNamesLandInsideTheDestination) {
    const std::vector<CraftedMember> members = {
        StoredFile("/" + scratch_.Folder().substr(1) + "outside/keep.txt", "overwritten"),
        StoredFile("\\abs0.txt", "x", 0),
        StoredFile("/abs1.txt", "x", 1),
        StoredFile("ok.txt", "ok"),
    };
    const auto result = Extract(CraftArchive(members));
    EXPECT_EQ(result.code, 0) << result.text;
    EXPECT_EQ(ReadFile(destination_ + scratch_.Folder().substr(1) + "outside/keep.txt"),
              "overwritten");
    EXPECT_EQ(ReadFile(destination_ + "abs0.txt"), "x");
    EXPECT_EQ(ReadFile(destination_ + "abs1.txt"), "x");
    ExpectNothingOutside();
}

TEST_F(HostileArchiveTest, LinksNeverCarryAMemberOutside) {
    const std::string outside = scratch_.Folder() + "outside";
    for (int level : {0, 1, 2}) {
        SCOPED_TRACE(level);
        const std::vector<CraftedMember> members = {
            Symlink("abs", outside, level),  // a link to an absolute path: refused
            StoredFile("abs/keep.txt", "overwritten", level),
            Symlink("up", "../outside", level),  // leads out: refused
            StoredFile("up\\keep.txt", "overwritten", level),
            Folder("real", level),
            Symlink("alias", "real", level),  // harmless, but never written through
            StoredFile("alias/new.txt", "through the link", level),
            StoredFile("plain.txt", "plain", level),             // a file first ...
            Symlink("plain.txt", outside + "/keep.txt", level),  // ... then a link over it
            StoredFile("plain.txt", "overwritten", level),
        };
        const auto result = Extract(CraftArchive(members));
        EXPECT_EQ(result.code, ARC_ERROR_UNSAFE_PATH) << result.text;
        EXPECT_FALSE(std::filesystem::exists(destination_ + "real/new.txt"));
        EXPECT_FALSE(std::filesystem::is_symlink(destination_ + "plain.txt"));
        ExpectNothingOutside();
        ExpectNoTemporaries();
    }
}

TEST_F(HostileArchiveTest, ControlCharactersAndEscapesNeverReachTheOutputRaw) {
    const std::vector<CraftedMember> members = {
        StoredFile("bell\a\x1b]0;title\a\x1b[2J\x9b"
                   "31m.txt",
                   "x"),
        StoredFile("..\\\x1b[1A\r.txt", "x", 0),
    };
    const auto result = Extract(CraftArchive(members));
    EXPECT_EQ(result.code, ARC_ERROR_UNSAFE_PATH);
    for (char c : result.text) {
        if (c != '\n') {
            EXPECT_GE(static_cast<unsigned char>(c), 0x20) << result.text;
            EXPECT_NE(c, 0x7F);
        }
    }
    EXPECT_THAT(result.text, HasSubstr("\\x1B"));
    EXPECT_THAT(result.text, Not(HasSubstr("\xC2\x9B")));  // CSI, the one-byte ESC [
    // Listing prints names as well.
    const auto listing = Library().Run("v \"" + scratch_.Folder() + "hostile.lzh\"");
    EXPECT_THAT(listing.text, Not(HasSubstr("\x1b")));
    EXPECT_THAT(listing.text, Not(HasSubstr("\a")));
}

// Members after good ones whose headers lie: the good ones are extracted, the result says
// the archive is damaged, nothing half-written stays.
TEST_F(HostileArchiveTest, LyingHeadersStopTheExtractionCleanly) {
    const Bytes good = CraftHeader(StoredFile("good.txt", "good"));
    struct Case {
        const char* what;
        Bytes tail;
    };
    // "bad.txt" under a header of the level, the bytes from the offset on overwritten.
    const auto bad = [](int level, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
        const CraftedMember member = StoredFile("bad.txt", "bad", level);
        Bytes header = CraftHeader(member);
        for (const std::uint8_t byte : bytes) {
            header.at(at++) = std::byte{byte};
        }
        for (char c : member.data) {
            header.push_back(static_cast<std::byte>(c));
        }
        return header;
    };
    // Level 2: the extended headers start at 24 (the CRC header's size), then at 29.
    const std::vector<Case> cases = {
        {"extended header of size 1 (points back into itself)", bad(2, 29, {1, 0})},
        {"extended header of size 2", bad(2, 24, {2, 0})},
        {"extended header past the end", bad(2, 29, {0xFF, 0xFF})},
        {"level 2 header size 255", bad(2, 0, {255, 0})},
        {"level 0 header size 255", bad(0, 0, {255})},
        {"level 1 header size 255", bad(1, 0, {255})},
        {"member data past the end", bad(2, 7, {0xFF, 0xFF})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes archive = good;
        for (char ch : std::string("good")) {
            archive.push_back(static_cast<std::byte>(ch));
        }
        archive.insert(archive.end(), c.tail.begin(), c.tail.end());
        archive.insert(archive.end(), good.begin(), good.end());  // never reached
        archive.push_back(std::byte{0});
        const auto result = Extract(archive);
        EXPECT_NE(result.code, 0) << result.text;
        EXPECT_EQ(ReadFile(destination_ + "good.txt"), "good");
        EXPECT_FALSE(std::filesystem::exists(destination_ + "bad.txt"));
        ExpectNoTemporaries();
        ExpectNothingOutside();
    }
}

// A header whose size (its first byte) is 0 is the end mark at every level: what follows
// is not part of the archive, as with the padding some transfers append.
TEST_F(HostileArchiveTest, HeaderSizeZeroEndsTheArchive) {
    for (int level : {0, 1, 2}) {
        SCOPED_TRACE(level);
        Bytes archive = CraftArchive(std::vector{StoredFile("good.txt", "good", level)}, false);
        Bytes after = CraftArchive(std::vector{StoredFile("after.txt", "after", level)});
        after[0] = std::byte{0};
        archive.insert(archive.end(), after.begin(), after.end());
        const auto result = Extract(archive);
        EXPECT_EQ(result.code, 0) << result.text;
        EXPECT_THAT(Tree(destination_), ::testing::ElementsAre("good.txt"));
    }
}

// A member that claims a terabyte (or 4 GiB) but holds a few bytes: refused quickly,
// nothing of it left, and the disk not filled on the way.
TEST_F(HostileArchiveTest, SizeBombsFailFastWithoutFillingTheDisk) {
    CraftedMember large = StoredFile("bomb64.bin", std::string(64, 'z'));
    large.largeOriginalSize = std::uint64_t{1} << 40;
    CraftedMember stored = StoredFile("bomb32.bin", std::string(64, 'z'));
    stored.originalSize = 0xFFFFFFFFu;
    CraftedMember packed = StoredFile("bomb_lh5.bin", std::string(200, '\x55'));
    packed.method = "-lh5-";
    packed.originalSize = 0xFFFFFFFFu;
    for (const CraftedMember& bomb : {large, stored, packed}) {
        SCOPED_TRACE(bomb.name);
        const std::vector<CraftedMember> members = {StoredFile("before.txt", "before"), bomb};
        const auto result = Extract(CraftArchive(members));
        EXPECT_NE(result.code, 0) << result.text;
        EXPECT_EQ(ReadFile(destination_ + "before.txt"), "before");
        EXPECT_FALSE(std::filesystem::exists(destination_ + bomb.name));
        ExpectNoTemporaries();
        // Testing and listing the bomb are bounded too.
        EXPECT_NE(Library().Run("t \"" + scratch_.Folder() + "hostile.lzh\"").code, 0);
    }
}

// An archive cut at every 97th byte: each member wholly before the cut is extracted intact,
// none after it appears, the result is an error whenever a member was cut.
TEST_F(HostileArchiveTest, TruncatedAtEvery97thByte) {
    std::string text;
    for (int i = 0; text.size() < 3000; ++i) {
        text += "line " + std::to_string(i) + " of the truncation test\n";
    }
    const std::vector<CraftedMember> members = {
        StoredFile("one.txt", text.substr(0, 700), 0),
        StoredFile("two.txt", text.substr(700, 900), 1),
        Folder("folder"),
        StoredFile("folder/three.txt", text.substr(1600, 1200)),
    };
    const Bytes whole = CraftArchive(members);
    // Where each member's data ends.
    std::vector<std::pair<std::string, std::size_t>> ends;
    std::size_t at = 0;
    for (const auto& member : members) {
        at += CraftHeader(member).size() + member.data.size();
        ends.emplace_back(member.name, at);
    }
    for (std::size_t cut = 97; cut < whole.size(); cut += 97) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const auto result = Extract(Bytes(whole.begin(), whole.begin() + cut));
        bool memberCut = true;
        for (const auto& [name, end] : ends) {
            memberCut = memberCut && end != cut;
        }
        if (memberCut) {
            EXPECT_NE(result.code, 0) << result.text;
        }
        for (std::size_t i = 0; i < members.size(); ++i) {
            const std::string path = destination_ + members[i].name;
            if (ends[i].second <= cut) {
                if (members[i].method == "-lh0-") {
                    EXPECT_EQ(ReadFile(path), members[i].data) << members[i].name;
                }
            } else if (members[i].method == "-lh0-") {
                EXPECT_FALSE(std::filesystem::exists(path)) << members[i].name;
            }
        }
        ExpectNoTemporaries();
    }
}

}  // namespace
}  // namespace zembrat::hostile
