// Archives of every class other programs write (methods, split sets, ZIP64 fields, data
// descriptors) read in process exactly as a peer reads them; the old methods of the real
// archives pass every CRC; hostile layouts end with their reason.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <zstd.h>

#include <fstream>
#include <set>
#include <sstream>

#include "container.h"
#include "fixtures_dir.h"
#include "temp_folder.h"
#include "test_support.h"
#include "zip/zip.h"
#include "zip_format.h"
#include "zip_test_support.h"

namespace zembrat::zip::test {
namespace {

using lha::test::HaveCommand;
using lha::test::Quote;
using lha::test::RunCommand;

// A source tree with text, data that does not shrink, an empty file and folders.
void MakeTree(const std::filesystem::path& root) {
    std::filesystem::create_directories(root / "sub" / "deeper");
    lha::test::WriteFileBytes(root / "text.txt", lha::test::TextBytes(300000, 7));
    lha::test::WriteFileBytes(root / "sub" / "random.bin", lha::test::RandomBytes(200000, 8));
    lha::test::WriteFileBytes(root / "sub" / "deeper" / "small.txt", lha::test::TextBytes(900, 9));
    lha::test::WriteFileBytes(root / "empty", {});
}

// Python's zipfile, writing every file of the current folder: $1 the archive, $2 the method
// (8, 12, 14), $3 "stream" for an output that cannot seek (data descriptors), "zip64" for
// ZIP64 fields on every member, "stream64" for both.
constexpr const char* kPythonWriter = R"(python3 -c '
import os, sys, zipfile
class Unseekable:
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
with open(sys.argv[1], "wb") as f:
    out = Unseekable(f) if sys.argv[3].startswith("stream") else f
    with zipfile.ZipFile(out, "w", int(sys.argv[2])) as z:
        for root, dirs, files in sorted(os.walk(".")):
            for name in sorted(files):
                path = os.path.join(root, name)[2:]
                with open(path, "rb") as src, z.open(path, "w", force_zip64=sys.argv[3].endswith("64")) as dst:
                    dst.write(src.read())
')";

struct MadeCase {
    const char* what;
    const char* tool;
    const char* make;      // run in the source folder; %a is the archive
    std::uint16_t method;  // of text.txt
    bool inProcess;        // false: the helper reads it all
};

const MadeCase kMadeCases[] = {
    {"deflate", "zip", "zip -q -r -6 %a .", 8, true},
    {"stored", "zip", "zip -q -r -0 %a .", 0, true},
    {"ZIP64 fields forced", "zip", "zip -q -r -fz %a .", 8, true},
    {"Deflate64", "7zz", "7zz a -bd -bso0 -tzip -mm=Deflate64 %a .", 9, true},
    {"bzip2", "7zz", "7zz a -bd -bso0 -tzip -mm=BZip2 %a .", 12, true},
    {"LZMA with its end mark", "7zz", "7zz a -bd -bso0 -tzip -mm=LZMA %a .", 14, true},
    {"xz", "7zz", "7zz a -bd -bso0 -tzip -mm=XZ %a .", 95, true},
    {"PPMd", "7zz", "7zz a -bd -bso0 -tzip -mm=PPMd %a .", 98, true},
    {"Deflate64 and PPMd in one archive", "7zz",
     "7zz a -bd -bso0 -tzip -mm=PPMd %a sub && 7zz a -bd -bso0 -tzip -mm=Deflate64 %a text.txt "
     "empty",
     9, true},
    {"data descriptors", "python3", "%p %a 8 stream", 8, true},
    {"ZIP64 local fields", "python3", "%p %a 8 zip64", 8, true},
    {"ZIP64 data descriptors", "python3", "%p %a 8 stream64", 8, true},
    {"LZMA", "python3", "%p %a 14 plain", 14, true},
    {"bzip2 from python", "python3", "%p %a 12 plain", 12, true},
};

// A tree as an extraction leaves it: the folders of every member's path exist too.
std::map<std::string, std::string> WithFolders(std::map<std::string, std::string> tree) {
    for (auto [name, what] : std::map(tree)) {
        for (auto slash = name.find('/'); slash != std::string::npos;
             slash = name.find('/', slash + 1)) {
            tree.emplace(name.substr(0, slash), "dir");
        }
    }
    return tree;
}

std::uint16_t MethodOf(const std::string& archive, const std::string& name) {
    const ExistingArchive existing(archive);
    for (const ExistingMember& member : existing.Members()) {
        if (member.name == name) {
            return member.method;
        }
    }
    return 0xFFFF;
}

TEST(ZipReader, ArchivesOtherProgramsWriteReadAsSevenZipReadsThem) {
    if (!HaveCommand("7zz")) {
        GTEST_SKIP() << "7zz (the reference reader) is not installed";
    }
    zembrat::testing::TempFolder folder;
    MakeTree(folder / "src");
    for (const MadeCase& made : kMadeCases) {
        SCOPED_TRACE(made.what);
        if (!HaveCommand(made.tool)) {
            ADD_FAILURE() << made.tool << " is missing";
            continue;
        }
        const std::string archive = folder / (std::string(made.what) + ".zip");
        std::string command = made.make;
        if (const auto p = command.find("%p"); p != std::string::npos) {
            command.replace(p, 2, kPythonWriter);
        }
        for (auto at = command.find("%a"); at != std::string::npos; at = command.find("%a")) {
            command.replace(at, 2, Quote(archive));
        }
        std::string output;
        ASSERT_EQ(RunCommand("cd " + Quote(folder / "src") + " && " + command, &output), 0)
            << output;
        EXPECT_EQ(MethodOf(archive, "text.txt"), made.method);
        EXPECT_EQ(Reader(archive).InProcess(), made.inProcess);
        const auto peer = TreeExtractedBy(kPeers[0], archive, folder / made.what);
        EXPECT_EQ(WithFolders(TreeOfArchive(archive)), peer);
        EXPECT_EQ(peer.at("text.txt"), TreeOf(folder / "src").at("text.txt"));
    }
}

// zip -s: name.z01 ... name.zip, read from the last part, also under WinZip's .zx01 ... .zipx
// names; a missing part is named.
TEST(ZipReader, SplitSetsReadFromTheirLastPart) {
    if (!HaveCommand("zip") || !HaveCommand("7zz")) {
        GTEST_SKIP() << "zip or 7zz is missing";
    }
    zembrat::testing::TempFolder folder;
    MakeTree(folder / "src");
    std::string output;
    ASSERT_EQ(RunCommand("cd " + Quote(folder / "src") + " && zip -q -r -s 64k " +
                             Quote(folder / "set.zip") + " .",
                         &output),
              0)
        << output;
    ASSERT_TRUE(std::filesystem::exists(folder / "set.z03")) << "fewer parts than expected";
    const auto peer = TreeExtractedBy(kPeers[0], folder / "set.zip", folder / "by-peer");
    EXPECT_EQ(TreeOfArchive(folder / "set.zip"), peer);

    std::filesystem::create_directories(folder / "x");
    for (int part = 1; std::filesystem::exists(folder / ("set.z0" + std::to_string(part)));
         ++part) {
        std::filesystem::copy_file(folder / ("set.z0" + std::to_string(part)),
                                   folder / ("x/set.zx0" + std::to_string(part)));
    }
    std::filesystem::copy_file(folder / "set.zip", folder / "x/set.zipx");
    EXPECT_EQ(TreeOfArchive(folder / "x/set.zipx"), peer);

    std::filesystem::remove(folder / "set.z02");
    const ReadResult missing = ReadArchive(folder / "set.zip");
    EXPECT_NE(missing.archiveError.find("part 2 of the split set is missing"), std::string::npos)
        << missing.archiveError;
    EXPECT_NE(missing.archiveError.find("set.z02"), std::string::npos);
}

// A member larger than the whole-member limit of the fast inflater streams through the other
// one, with the same result.
TEST(ZipReader, ALargeDeflatedMemberStreams) {
    if (!HaveCommand("zip")) {
        GTEST_SKIP() << "zip is not installed";
    }
    zembrat::testing::TempFolder folder;
    const auto data = lha::test::TextBytes(20u << 20, 3);
    lha::test::WriteFileBytes(folder / "large.txt", data);
    ASSERT_EQ(
        RunCommand("cd " + Quote(folder.Path().string()) + " && zip -q -1 large.zip large.txt"), 0);
    const ReadResult result = ReadArchive(folder / "large.zip");
    ASSERT_EQ(result.members.size(), 1u);
    EXPECT_EQ(result.members[0].error, "");
    EXPECT_EQ(result.members[0].sha256, lha::test::Sha256Of(data));
}

// Every ZIP of the real archives (Deflate64, Implode, Shrink, Reduce, a split set, a torn
// local extra field) gives what the peer that reads it gave, every member passing its CRC.
// Names in unmarked DOS code pages are a documented choice, so contents are compared.
TEST(ZipReader, RealArchivesOfEveryClassGiveThePeersContents) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    const auto real = ::zembrat::testing::FixturesDir() / "real";
    std::ifstream manifest(real / "manifest.tsv");
    ASSERT_TRUE(manifest) << "no manifest under " << real;
    std::map<std::string, std::multiset<std::string>> expected;
    for (std::string line; std::getline(manifest, line);) {
        std::istringstream fields(line);
        std::string archive, peer, member, size, sha256;
        std::getline(fields, archive, '\t');
        std::getline(fields, peer, '\t');
        std::getline(fields, member, '\t');
        std::getline(fields, size, '\t');
        std::getline(fields, sha256, '\t');
        if (archive.ends_with(".zip")) {
            expected[archive].insert(size + " " + sha256);
        }
    }
    // No peer reads Reduce: its members are the implode archive's files, and their CRCs hold.
    expected["Zip.reduce1.zip"] = expected["Zip.implode.zip"];
    ASSERT_EQ(expected.size(), 6u);
    for (const auto& [archive, contents] : expected) {
        SCOPED_TRACE(archive);
        EXPECT_TRUE(Reader((real / archive).string()).InProcess());
        const ReadResult result = ReadArchive(real / archive);
        EXPECT_EQ(result.archiveError, "");
        std::multiset<std::string> got;
        for (const ReadMember& member : result.members) {
            EXPECT_EQ(member.error, "") << member.name;
            if (member.kind == MemberKind::kFile) {
                got.insert(std::to_string(member.size) + " " + member.sha256);
            }
        }
        EXPECT_EQ(got, contents);
    }
}

// ---- Archives made here, byte by byte ----

struct RawMember {
    std::string name;
    std::uint16_t method = 0;
    std::string data;  // as stored
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    std::optional<std::uint32_t> localOffset;  // where the central header says it is
    std::uint32_t dosTime = 0x00210000;        // date high, time low: 1980-01-01 00:00
    std::string extra;                         // in both headers
};

// Local headers and data, then the directory; each member's offset as given or where it lies.
std::string RawArchive(const std::vector<RawMember>& members) {
    using namespace format;
    std::string out;
    std::string directory;
    for (const RawMember& member : members) {
        const auto offset = static_cast<std::uint32_t>(out.size());
        for (std::string* header : {&out, &directory}) {
            const bool central = header == &directory;
            Put32(*header, central ? kCentralHeader : kLocalHeader);
            if (central) {
                Put16(*header, 20);
            }
            Put16(*header, 20);
            Put16(*header, 0);
            Put16(*header, member.method);
            Put32(*header, member.dosTime);
            Put32(*header, member.crc);
            Put32(*header, static_cast<std::uint32_t>(member.data.size()));
            Put32(*header, static_cast<std::uint32_t>(member.size));
            Put16(*header, static_cast<std::uint16_t>(member.name.size()));
            Put16(*header, static_cast<std::uint16_t>(member.extra.size()));
            if (central) {
                Put32(*header, 0);  // comment, disk
                Put16(*header, 0);
                Put32(*header, 0);
                Put32(*header, member.localOffset.value_or(offset));
            }
            *header += member.name;
            *header += member.extra;
        }
        out += member.data;
    }
    const auto start = static_cast<std::uint32_t>(out.size());
    out += directory;
    Put32(out, kEndRecord);
    Put32(out, 0);
    Put16(out, static_cast<std::uint16_t>(members.size()));
    Put16(out, static_cast<std::uint16_t>(members.size()));
    Put32(out, static_cast<std::uint32_t>(directory.size()));
    Put32(out, start);
    Put16(out, 0);
    return out;
}

RawMember ZstdMember(const std::string& name, std::uint16_t method, const std::string& data) {
    std::string packed(ZSTD_compressBound(data.size()), '\0');
    packed.resize(ZSTD_compress(packed.data(), packed.size(), data.data(), data.size(), 3));
    return {name,
            method,
            packed,
            data.size(),
            static_cast<std::uint32_t>(libdeflate_crc32(0, data.data(), data.size())),
            {},
            0x00210000,
            ""};
}

// zstd (93, and 20 as early writers numbered it), which no peer here writes into a ZIP.
TEST(ZipReader, ZstdMembersOfEitherNumberRead) {
    zembrat::testing::TempFolder folder;
    const std::string text(200000, 'z');
    // An empty member whose writer left out even the method's empty stream reads too.
    const std::string archive =
        folder.Write("zstd.zip", RawArchive({ZstdMember("a.txt", 93, text),
                                             ZstdMember("b.txt", 20, text + "!"),
                                             {"empty.txt", 93, "", 0, 0, {}, 0x00210000, ""}}));
    const ReadResult result = ReadArchive(archive);
    ASSERT_EQ(result.members.size(), 3u);
    for (const ReadMember& member : result.members) {
        EXPECT_EQ(member.error, "") << member.name;
    }
    EXPECT_EQ(result.members[1].size, text.size() + 1);
}

// Times as bsdtar sets them: the extended timestamp, Info-ZIP's older Unix field, and an MS-DOS
// date no calendar has (month and day 0), which must not become the year 1601.
TEST(ZipReader, MemberTimesAreThoseAPeerGives) {
    if (!HaveCommand("bsdtar")) {
        GTEST_SKIP() << "bsdtar is not installed";
    }
    std::string timestamp;
    format::Put16(timestamp, format::kExtraTimestamp);
    format::Put16(timestamp, 5);
    timestamp += '\1';
    format::Put32(timestamp, 1234567890);
    std::string oldUnix;
    format::Put16(oldUnix, 0x5855);
    format::Put16(oldUnix, 8);
    format::Put32(oldUnix, 1000000000);  // access
    format::Put32(oldUnix, 1300000000);  // modification
    RawMember stamped{"stamped.txt", 0, "x", 1, 0x8cdc1683, {}, 0x52a95a21, timestamp};
    RawMember old{"old.txt", 0, "x", 1, 0x8cdc1683, {}, 0x52a95a21, oldUnix};
    RawMember impossible{"impossible.txt", 0, "x", 1, 0x8cdc1683, {}, 0, ""};
    RawMember plain{"plain.txt", 0, "x", 1, 0x8cdc1683, {}, 0x52a95a21, ""};
    zembrat::testing::TempFolder folder;
    const std::string archive =
        folder.Write("times.zip", RawArchive({stamped, old, impossible, plain}));
    ASSERT_EQ(RunCommand("mkdir -p " + Quote(folder / "peer") + " && bsdtar -xf " + Quote(archive) +
                         " -C " + Quote(folder / "peer")),
              0);
    Reader reader(archive);
    while (auto member = reader.Next()) {
        SCOPED_TRACE(member->name);
        struct stat peer {};
        ASSERT_EQ(::stat((folder / ("peer/" + member->name)).c_str(), &peer), 0);
        EXPECT_EQ(member->mtime.value_or(-1), peer.st_mtime);
    }
}

struct HostileLayout {
    const char* what;
    std::vector<RawMember> members;
    const char* archiveError;  // empty: the archive reads, its first member fails
    const char* memberError;
};

TEST(ZipReader, HostileLayoutsEndWithTheirReason) {
    const std::string text(100000, 'q');
    const RawMember good = ZstdMember("good.txt", 93, text);
    RawMember cut = good;
    cut.name = "cut.txt";
    cut.data.resize(cut.data.size() / 2);
    RawMember overlapping = good;
    overlapping.name = "again.txt";
    overlapping.localOffset = 0;  // the bytes of the first member once more
    RawMember liar = good;
    liar.name = "liar.txt";
    liar.size = 1000;  // the data makes far more
    RawMember nul = good;
    nul.name = std::string("a\0b.txt", 7);  // the file system would cut the name at the NUL
    RawMember badCrc = good;
    badCrc.name = "crc.txt";
    badCrc.crc ^= 1;
    const HostileLayout layouts[] = {
        {"members sharing bytes", {good, overlapping}, "share the same bytes", ""},
        {"data cut short", {cut, good}, "", "damaged data"},
        {"data past the declared size", {liar, good}, "", "past its declared size"},
        {"a wrong CRC", {badCrc, good}, "", "CRC error"},
        {"a name holding a NUL byte", {nul, good}, "", "NUL byte"},
    };
    zembrat::testing::TempFolder folder;
    for (const HostileLayout& layout : layouts) {
        SCOPED_TRACE(layout.what);
        const std::string archive = folder.Write("hostile.zip", RawArchive(layout.members));
        const ReadResult result = ReadArchive(archive);
        if (*layout.archiveError != '\0') {
            EXPECT_NE(result.archiveError.find(layout.archiveError), std::string::npos)
                << result.archiveError;
            continue;
        }
        EXPECT_EQ(result.archiveError, "");
        ASSERT_EQ(result.members.size(), 2u);
        EXPECT_NE(result.members[0].error.find(layout.memberError), std::string::npos)
            << result.members[0].error;
        EXPECT_EQ(result.members[1].error, "");  // the next member still reads
    }
}

}  // namespace
}  // namespace zembrat::zip::test
