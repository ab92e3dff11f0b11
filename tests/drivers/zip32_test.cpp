#include "drivers/zip32.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <tuple>
#include <vector>

#include "archives/archive_file.h"
#include "archives/archiver_errors.h"
#include "component_test_support.h"
#include "fixture_files.h"
#include "platform/file_system.h"
#include "scoped_environment.h"

namespace zembrat::drivers {
namespace {

using archives::FileItem;
using archives::StringList;
using testing::Outcome;
using testing::ReadFile;
using testing::RecorderAccess;
using testing::TempFolder;
using Library = ZipLibrary;

constexpr const char* kUnpackMessage =
    "ZIP 形式書庫の解凍には UNZIP32.DLL または LMZIP32.DLL が必要です。";
constexpr const char* kPackMessage =
    "ZIP 形式書庫の作成には ZIP32J.DLL または LMZIP32.DLL が必要です。";
constexpr const char* kSfxMessage =
    "ZIP 形式書庫からの自己解凍書庫作成には ZIP32J.DLL が必要です。";

// The recording ZIP libraries, each in its own folder: a test lets the platform find only
// the ones it names, and the binding is loaded afresh.
class Zip32 : public ::testing::Test {
  protected:
    void TearDown() override {
        TZip32::FreeLibraryBinding();
        TLha32::FreeLibraryBinding();
        platform::RestoreLibrarySearch();
    }
    static void Present(const std::vector<Library>& libraries) {
        static constexpr const char* kFolders[] = {"/unzip32", "/zip32j", "/lmzip32"};
        std::vector<std::string> folders;
        for (Library library : libraries) {
            folders.push_back(ZEMBRAT_ZIP_RECORDER_DIR +
                              std::string(kFolders[static_cast<std::size_t>(library)]));
        }
        platform::OverrideLibrarySearch(folders, false);
        TZip32::FreeLibraryBinding();
        TZip32::LoadLibraryBinding();
        for (Library library : libraries) {
            Recorder(library).Reset();
        }
    }
    static RecorderAccess Recorder(Library library) {
        return RecorderAccess(TZip32::Binding()->Handle(library));
    }
    static bool Logged(Library library, const std::string& text) {
        return Recorder(library).Log().find(text) != std::string::npos;
    }

    TZip32 driver;
    TArchiverOptions options;
    std::string output = std::string(64, '\0');
};

TEST(ZipCommandLines, EachBuilderCharacterForCharacter) {
    struct Line {
        std::function<void(TArchiverOptions&)> set;
        const char* zip;
        const char* unzip;
        const char* lmzip;
    };
    const std::vector<Line> lines = {
        {[](auto&) {}, " -D  \"/a.zip\" \"/src/\" \"f\" ", "  \"/a.zip\" \"/src/\" \"f\" ",
         "  \"/a.zip\" \"f\" "},
        {[](auto& o) { o.a = 1; }, " -S -D  ", "  ", "  "},
        {[](auto& o) { o.a = 2; }, " -S  ", "  ", "  "},
        {[](auto& o) { o.jm = 0; }, " -D -0  ", "  ", "  "},
        {[](auto& o) { o.x = 0; }, " -D -j  ", " -j  ", " -j  "},
        {[](auto& o) { o.x = 1; }, " -D  ", "  ", "  "},
        {[](auto& o) { o.n = 1; }, " -D -q -o  ", " --i  ", "  "},
        {[](auto& o) { o.c = 1; }, " -D  ", " -o  ", " -o  "},
        {[](auto& o) { o.c = 2; }, " -D  ", "  ", "  "},
        {[](auto& o) {
             for (auto* on : {&o.a, &o.l, &o.n, &o.r, &o.o, &o.u, &o.jc, &o.ji, &o.gd}) {
                 *on = 1;
             }
             o.x = 0;
             o.jm = 9;
             o.UserOptions = "-X";
         },
         " -S -D -v -q -r -o -u -j -FF -k -9 -J -X ", " --i -j -X ", " -j -X "},
    };
    const std::array<FileItem, 1> items{FileItem("f")};
    TZip32 driver;
    for (const Line& line : lines) {
        TArchiverOptions o;
        line.set(o);
        auto starts = [](const std::string& text, const char* start) {
            return text.starts_with(start) ? ::testing::AssertionSuccess()
                                           : ::testing::AssertionFailure() << text;
        };
        EXPECT_TRUE(
            starts(TZip32::BuildZipCommand("", "/a.zip", o, "/src", items, false), line.zip));
        EXPECT_TRUE(starts(TZip32::BuildUnzipCommand(driver, "", "/a.zip", o, "/src", items, false),
                           line.unzip));
        EXPECT_TRUE(starts(TZip32::BuildLmzipCommand("", "/a.zip", o, items, false), line.lmzip));
    }
    driver.OwnerWindow = 7;
    EXPECT_EQ(TZip32::BuildUnzipCommand(driver, "-x", "/a.zip", {}, "/o", {}, false),
              "-x --i  \"/a.zip\" \"/o/\" ");
}

TEST(EscapeZipName, SwitchDashBackslashAndBracketButNeverHalfACharacter) {
    const auto windows = platform::PathSyntax::Windows(platform::kCodePageUtf8);
    const auto host = platform::PathSyntax::Host();
    const std::vector<std::tuple<std::string, platform::PathSyntax, std::string>> cases = {
        {"-a\\b[1].txt", windows, "[-]a/b[[]1].txt"},
        {"-readme.txt", windows, "[-]readme.txt"},
        {"sub\\[a].c", windows, "sub/[[]a].c"},
        {"--x-", windows, "[-]-x-"},
        {"", windows, ""},
        {"表\\[", windows, "表/[[]"},
        // Shift-JIS 0x95 0x5C and 0x83 0x5B: the trail bytes stay, the real ones change.
        {"\x95\x5C\\\x83\x5B[", platform::PathSyntax::Windows(), "\x95\x5C/\x83\x5B[[]"},
        // A Linux name keeps its backslash.
        {"/in/back\\slash[1].txt", host, "/in/back[\\]slash[[]1].txt"},
    };
    for (const auto& [name, syntax, escaped] : cases) {
        EXPECT_EQ(EscapeZipName(name, syntax), escaped) << name;
    }
}

TEST(SfxTargetName, ExeBesideTheArchiveOrInTheFolder) {
    const auto windows = platform::PathSyntax::Windows();
    const std::vector<std::tuple<std::string, std::string, platform::PathSyntax, std::string>>
        cases = {
            {"/a/b.zip", "", platform::PathSyntax::Host(), "/a/b.EXE"},
            {"/a/b.zip", "/out", platform::PathSyntax::Host(), "/out/b.EXE"},
            {"/a/b.zip", "/out/", platform::PathSyntax::Host(), "/out/b.EXE"},
            {"b", archives::NoValue, platform::PathSyntax::Host(), "b.EXE"},
            {"C:\\arc\\b.zip", "C:\\out", windows, "C:\\out\\b.EXE"},
            {"C:\\arc\\b.zip", "C:\\out\\", windows, "C:\\out\\b.EXE"},
            {"C:b.zip", "D:\\\x95\x5C", windows, "D:\\\x95\x5C\\b.EXE"},
        };
    for (const auto& [archive, folder, syntax, target] : cases) {
        EXPECT_EQ(SfxTargetName(archive, folder, syntax), target) << archive << " " << folder;
    }
}

// Which library answers each operation, with one, two or all three present.
TEST_F(Zip32, EveryOperationReachesItsLibraryInEachConfiguration) {
    TempFolder folder;
    const std::string archive = folder.Write("a.zip");
    const std::array<FileItem, 1> items{FileItem("-f")};
    const std::string unpackLine = "-x  \"" + archive + "\" \"/o/\" \"[-]f\" ";
    const std::string packLine = " -D  \"" + archive + "\" \"[-]f\" ";
    struct Step {
        std::function<void(TZip32&, TArchiverOptions&, std::string&)> run;
        std::optional<Library> library;
        std::string expected;  // the logged call, or the error
    };
    auto unpack = [&](TZip32& d, TArchiverOptions& o, std::string& out) {
        d.Unpack(0, archive, o, "/o", items, false, out);
    };
    auto pack = [&](TZip32& d, TArchiverOptions& o, std::string& out) {
        d.Pack(0, archive, o, "", items, false, out);
    };
    auto remove = [&](TZip32& d, TArchiverOptions& o, std::string& out) {
        d.RemoveItem(0, archive, o, "", items, false, out);
    };
    auto open = [&](TZip32& d, TArchiverOptions&, std::string&) {
        archives::TArchiveEntryInfo entry{};
        d.FindFirst(d.OpenArchive(0, archive, 0), entry, "*");
    };
    auto check = [&](TZip32& d, TArchiverOptions&, std::string&) { d.CheckArchive("r.zip", 3, 4); };
    auto sfx = [&](TZip32& d, TArchiverOptions& o, std::string& out) {
        d.MakeSfx(0, archive, o, "", out);
    };
    const std::string zipMissing = "Zip のエントリが DLL に見つかりませんでした。";
    const std::vector<std::pair<std::vector<Library>, std::vector<Step>>> configurations = {
        {{Library::Lmzip32},
         {{unpack, Library::Lmzip32, "Unzip 0 [" + unpackLine + "]"},
          {open, Library::Lmzip32, "UnzipOpenArchive 0 " + archive + " 0\nUnzipFindFirst"},
          {pack, Library::Lmzip32, "Zip 0 [-ru  \"" + archive + "\" \"-f\" ] buffer 64"},
          {sfx, {}, kSfxMessage}}},
        {{Library::Unzip32},
         {{unpack, Library::Unzip32, "UnZip 0 [" + unpackLine + "] buffer 64"},
          {check, Library::Unzip32, "UnZipCheckArchive r.zip 3\n"},
          {pack, {}, kPackMessage},
          {remove, {}, zipMissing}}},
        {{Library::Zip32j},
         {{unpack, {}, kUnpackMessage},
          {open, Library::Zip32j, "UnZipOpenArchive 0 " + archive + " 0\nUnZipFindFirst"},
          {pack, Library::Zip32j, "Zip 0 [" + packLine + "]"},
          {remove, Library::Zip32j, "Zip 0 [-d -D  \"" + archive + "\" \"[-]f\" ]"}}},
        {{Library::Unzip32, Library::Zip32j, Library::Lmzip32},
         {{unpack, Library::Unzip32, "UnZip 0 [" + unpackLine + "]"},
          {pack, Library::Zip32j, "Zip 0 [" + packLine + "]"},
          {open, Library::Lmzip32, "UnzipOpenArchive"},
          {check, Library::Unzip32, "UnZipCheckArchive r.zip 3\n"}}},
        {{},
         {{unpack, {}, kUnpackMessage},
          {pack, {}, kPackMessage},
          {open, {}, "UnZipOpenArchive のエントリが DLL に見つかりませんでした。"}}},
    };
    for (const auto& [present, steps] : configurations) {
        for (const Step& step : steps) {
            Present(present);
            TZip32 zip;
            const std::string outcome = Outcome([&] { step.run(zip, options, output); });
            if (step.library) {
                EXPECT_EQ(outcome, "ok");
                EXPECT_TRUE(Logged(*step.library, step.expected))
                    << Recorder(*step.library).Log() << "\nexpected " << step.expected;
            } else {
                EXPECT_EQ(outcome, step.expected);
            }
        }
    }
}

TEST_F(Zip32, ALibraryMissingAtFirstIsLoadedByTheNextLookupButNotByThePresenceTest) {
    Present({});
    platform::OverrideLibrarySearch(
        std::vector<std::string>{ZEMBRAT_ZIP_RECORDER_DIR + std::string("/unzip32")}, false);
    EXPECT_EQ(Outcome([&] { driver.Unpack(0, "/a.zip", options, "", {}, false, output); }),
              kUnpackMessage);
    EXPECT_EQ(driver.CheckArchive("/a.zip", 1, 0), 1);
    EXPECT_EQ(Outcome([&] { driver.Unpack(0, "/a.zip", options, "", {}, false, output); }), "ok");
}

TEST_F(Zip32, FileNamesAreEscapedInTheListFileButNotForLmzip) {
    TempFolder folder;
    options.ResFileName = folder / "names.lst";
    const StringList names{"-readme.txt", "sub\\[a].c"};
    const std::array<FileItem, 1> items{FileItem(std::cref(names))};
    Present({Library::Zip32j, Library::Lmzip32});
    driver.Pack(0, "/a.zip", options, "", items, true, output);
    // On Linux the backslash is part of the name: bracketed, the library reads it as itself.
    EXPECT_EQ(ReadFile(options.ResFileName), "\"[-]readme.txt\"\r\n\"sub[\\][[]a].c\"\r\n");
    Present({Library::Lmzip32});
    driver.Pack(0, "/a.zip", options, "", items, true, output);
    EXPECT_EQ(ReadFile(options.ResFileName), "\"-readme.txt\"\r\n\"sub\\[a].c\"\r\n");
    driver.Pack(0, "/a.zip", options, "", items, false, output);
    EXPECT_EQ(driver.CommandLine, "-ru  \"/a.zip\" \"-readme.txt\" \"sub\\[a].c\" ");
}

// LMZIP32 writes a new archive: the old one goes, but comes back when the library fails.
TEST_F(Zip32, PackThroughLmzipReplacesTheArchiveOnlyWhenTheLibrarySucceeds) {
    TempFolder folder;
    const std::string archive = folder.Write("a.zip", "old archive");
    Present({Library::Lmzip32});
    Recorder(Library::Lmzip32).SetResult(0x8008, "cannot write");
    EXPECT_EQ(driver.Pack(0, archive, options, "", {}, false, output), 0x8008);
    EXPECT_EQ(ReadFile(archive), "old archive");
    Recorder(Library::Lmzip32).SetResult(0, "");
    EXPECT_EQ(driver.Pack(0, archive, options, "", {}, false, output), 0);
    EXPECT_FALSE(platform::FileExists(archive));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 0);
}

TEST_F(Zip32, MakeSfxCopiesTheStubThenTheArchiveAndAdjustsIt) {
    TempFolder folder;
    TempFolder stubs;
    const testing::ScopedEnvironment path("PATH", stubs.Path().c_str());
    const std::string archive = folder.Write("a.zip", "ARCHIVE");
    Present({Library::Zip32j});
    EXPECT_EQ(Outcome([&] { driver.MakeSfx(0, archive, options, "", output); }),
              "zip 書庫からのDOS自己解凍書庫の作成には sfx16.dat が必要です。");
    options.gw = 1;
    EXPECT_EQ(Outcome([&] { driver.MakeSfx(0, archive, options, "", output); }),
              "zip 書庫からのWin32自己解凍書庫の作成には sfx32gui.dat が必要です。");
    stubs.Write("sfx32gui.dat", "GUI-");
    stubs.Write("sfx16.dat", "DOS-");

    EXPECT_EQ(driver.MakeSfx(0, archive, options, folder.Path().string(), output), 0);
    const std::string target = folder / "a.EXE";
    EXPECT_EQ(driver.CommandLine, "-A " + target);
    EXPECT_TRUE(Logged(Library::Zip32j, "Zip 0 [-A " + target + "] buffer 64"));
    EXPECT_EQ(ReadFile(target), "GUI-ARCHIVE");
    EXPECT_EQ(ReadFile(archive), "ARCHIVE");
    struct stat status {};
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    EXPECT_NE(status.st_mode & S_IXUSR, 0u) << "a self-extracting file is a program";

    // An archive that already bears the target's name is read whole before it is replaced.
    options.gw = -1;
    EXPECT_EQ(driver.MakeSfx(0, target, options, "", output), 0);
    EXPECT_EQ(ReadFile(target), "DOS-GUI-ARCHIVE");

    // A copy that fails leaves no program and no temporary file behind.
    EXPECT_THROW(driver.MakeSfx(0, folder / "missing.zip", options, "", output),
                 archives::EStreamError);
    EXPECT_FALSE(platform::FileExists(folder / "missing.EXE"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 2);
}

TEST_F(Zip32, OwnerWindowEntriesComeFromUnzip32Alone) {
    Present({Library::Lmzip32});
    const std::string outcome = Outcome([&] { driver.SetOwnerWindow(5, nullptr); });
    EXPECT_NE(outcome.find("UnZipSetOwnerWindowEx のエントリが見つかりません。"), std::string::npos)
        << outcome;
    EXPECT_FALSE(driver.HasOwnerWindow());

    Present({Library::Unzip32, Library::Lmzip32});
    EXPECT_TRUE(driver.SetOwnerWindow(5, nullptr));
    EXPECT_TRUE(driver.HasOwnerWindow());
    driver.Unpack(0, "/a.zip", options, "", {}, false, output);
    EXPECT_EQ(driver.CommandLine, "-x --i  \"/a.zip\" ");
    EXPECT_TRUE(driver.KillOwnerWindow(5));
    EXPECT_FALSE(driver.HasOwnerWindow());
    EXPECT_TRUE(Logged(Library::Unzip32, "UnZipSetOwnerWindowEx 5 null\n"));
    EXPECT_TRUE(Logged(Library::Unzip32, "UnZipKillOwnerWindowEx 5\n"));
}

TEST_F(Zip32, ListingTimesFromTheLowerCaseWriteTimeEntryOrTheDosTime) {
    Present({Library::Unzip32});
    Recorder(Library::Unzip32).SetMembers(1);
    archives::TArchiveEntryInfo entry{};
    EXPECT_EQ(driver.FindFirst(driver.OpenArchive(0, "/a.zip", 0), entry, "*"), 0);
    EXPECT_EQ(std::uint64_t{entry.lastWriteTime}, 20'000'000u) << "UnzipGetWriteTimeEx";
    // The 64-bit size queries are asked too: a ZIP64 member is not listed as 4294967295.
    EXPECT_EQ(std::uint64_t{entry.originalSize}, 4294967296u) << "UnZipGetOriginalSizeEx";

    Present({Library::Zip32j});
    Recorder(Library::Zip32j).SetMembers(1);
    EXPECT_EQ(driver.FindFirst(driver.OpenArchive(0, "/a.zip", 0), entry, "*"), 0);
    EXPECT_EQ(std::uint64_t{entry.lastWriteTime},
              platform::DosDateTimeToFileTime(entry.record.dos_date, entry.record.dos_time));
    EXPECT_EQ(std::uint64_t{entry.lastAccessTime}, 40'000'000u);
}

TEST_F(Zip32, ExtractMemEscapesTheMemberAndPassesNoTimeOrAttributes) {
    Present({Library::Unzip32});
    unsigned char buffer[8];
    std::uint32_t written = 0;
    EXPECT_EQ(driver.ExtractMem(0, "/a.zip", options, "-m[1]", buffer, sizeof buffer, &written), 0);
    EXPECT_EQ(written, sizeof buffer);
    EXPECT_TRUE(
        Logged(Library::Unzip32, "UnZipExtractMem 0 [  \"/a.zip\" \"[-]m[[]1]\" ] 8 null null"));
}

TEST_F(Zip32, ContentProbeChecksThenOpensAndNeverRaises) {
    TempFolder folder;
    const std::string program = folder.Write("setup.exe");
    Present({Library::Unzip32});
    EXPECT_TRUE(IsZipArchive(program));
    EXPECT_TRUE(Logged(Library::Unzip32, "UnZipCheckArchive " + program +
                                             " 24\nUnZipOpenArchive 0 " + program +
                                             " 8388610\nUnZipCloseArchive"));
    EXPECT_FALSE(IsZipArchive(folder / "absent.exe"));
    Recorder(Library::Unzip32).SetArchiveAnswers(0, 1);
    EXPECT_FALSE(IsZipArchive(program));

    // ".zip" and ".jar" name the kind; an ".exe" the ZIP libraries take is one.
    Recorder(Library::Unzip32).SetArchiveAnswers(1, 1);
    archives::TArchiveFile file;
    file.SetFileName(program);
    EXPECT_EQ(file.ArchiverType(), archives::atZip);
    file.SetFileName("x.JAR");
    EXPECT_NE(dynamic_cast<TZip32*>(file.Archiver()), nullptr);

    Present({});
    EXPECT_FALSE(IsZipArchive(program));
    TZip32::FreeLibraryBinding();
    EXPECT_FALSE(IsZipArchive(program));
}

TEST_F(Zip32, ADriverUsedAfterFreeDllFailsAsIfNoLibraryWereThere) {
    driver.FreeDLL();
    EXPECT_EQ(Outcome([&] { driver.Unpack(0, "/a.zip", options, "", {}, false, output); }),
              kUnpackMessage);
    EXPECT_EQ(Outcome([&] { driver.OpenArchive(0, "/a.zip", 0); }),
              "UnZipOpenArchive のエントリが DLL に見つかりませんでした。");
}

}  // namespace
}  // namespace zembrat::drivers
