#include "drivers/lha32.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <sstream>

#include "archives/archive_file.h"
#include "archives/archiver_errors.h"
#include "component_test_support.h"
#include "platform/file_system.h"

namespace zembrat::drivers {
namespace {

using archives::FileItem;
using archives::NoValue;
using archives::StringList;
using testing::RecordingLibraryTest;
using testing::TempFolder;

constexpr const char* kJseMissing = "jse オプションが設定されていません。 (LHA32, 258 行)";
constexpr const char* kJsoMissing = "jso オプションが設定されていません。 (LHA32, 264 行)";

TArchiverOptions BatchOptions() {
    TArchiverOptions options;
    options.m = 2;
    options.n = 1;
    options.y = 1;
    options.jse = 1;
    options.jso = 1;
    options.gw = 2;
    return options;
}

using Lha32 = RecordingLibraryTest;

TEST_F(Lha32, TheBatchRunsThreeLinesCharacterForCharacter) {
    TempFolder folder;
    const std::string file = folder.Write("dir/file.txt");
    const std::string archivePath = folder / "out/file.lzh";
    archives::TArchiveFile archive;
    archive.SetOptions(BatchOptions());
    archive.SetOutputSize(8192);

    archive.SetFileName(archivePath);
    const StringList list{file};
    const std::array<FileItem, 1> items{FileItem(std::cref(list))};
    archive.Pack(0, nullptr, "", items);
    EXPECT_EQ(archive.CommandLine(),
              "u -+ -m2 -n1 -p1 -y1 -jse1 -jso1 -gw2  \"" + archivePath + "\" \"" + file + "\" ");

    const std::array<FileItem, 1> noMembers{FileItem(archives::CStringArray{})};
    archive.Unpack(0, nullptr, "/out", noMembers);
    EXPECT_EQ(archive.CommandLine(),
              "x -+ -m2 -n1 -y1 -jse1 -jso1 -gw2  \"" + archivePath + "\" \"/out/\" ");

    archive.MakeSfx(0, nullptr, "/out/");
    EXPECT_EQ(archive.CommandLine(),
              "s -+ -m2 -n1 -y1 -jse1 -jso1 -gw2  \"" + archivePath + "\" \"/out/\" ");
    const std::string log = Recorder().Log();
    EXPECT_NE(log.find("Unlha 0 [s -+ -m2"), std::string::npos) << log;
    EXPECT_NE(log.find("] buffer 8192"), std::string::npos);
}

TEST_F(Lha32, PackWithAFolderAddsItsDelimiterAndEndsWithABlank) {
    TLha32 driver;
    TArchiverOptions options;
    options.jso = 1;
    options.n = 1;
    std::string output;
    const std::array<FileItem, 1> items{FileItem("a.txt")};
    driver.Pack(0, "/out/a.lzh", options, "/src", items, false, output);
    EXPECT_EQ(driver.CommandLine, "u -+ -n1 -jso1  \"/out/a.lzh\" \"/src/\" \"a.txt\" ");
}

TEST_F(Lha32, EverySwitchInItsPlace) {
    TArchiverOptions o;
    std::int8_t next = 0;
    for (auto* field :
         {&o.a,   &o.c,   &o.e,   &o.f,   &o.h,   &o.i,   &o.l,   &o.m,   &o.n,   &o.o,
          &o.p,   &o.r,   &o.s,   &o.t,   &o.u,   &o.x,   &o.y,   &o.z,   &o.jc,  &o.jd,
          &o.je,  &o.jf,  &o.jh,  &o.ji,  &o.jm,  &o.jn,  &o.jp,  &o.jr,  &o.jsb, &o.jsc,
          &o.jsd, &o.jse, &o.jsf, &o.jsl, &o.jso, &o.jss, &o.jst, &o.jsv, &o.jsz, &o.jw,
          &o.jyc, &o.jyd, &o.jyk, &o.jyn, &o.jyo, &o.ga,  &o.gd,  &o.ge,  &o.gf,  &o.gj,
          &o.gm,  &o.gn,  &o.go,  &o.gp,  &o.gs,  &o.gu,  &o.gw}) {
        *field = next++;
    }
    o.w = "/tmp";
    o.jo = "";
    o.job = "240131";
    o.jx = {"*.bak", "", "*.o"};
    o.jz = "comment";
    o.gr = "r";
    o.UserOptions = "-extra";
    o.UserFileList = "\"more\"";
    TLha32 driver;
    std::string output;
    const std::array<FileItem, 1> items{FileItem("f")};
    driver.Update(0, "/a.lzh", o, "/d", items, false, output);
    EXPECT_EQ(driver.CommandLine,
              "f -+ -a0 -c1 -e2 -f3 -h4 -i5 -l6 -m7 -n8 -o9 -p10 -r11 -s12 -t13 -u14"
              " \"-w/tmp/\" -x15 -y16 -z17 -jc18 -jd19 -je20 -jf21 -jh22 -ji23 -jm24 -jn25"
              " \"-jo\" \"-job240131\" -jp26 -jr27 -jsb28 -jsc29 -jsd30 -jse31 -jsf32 -jsl33"
              " -jso34 -jss35 -jst36 -jsv37 -jsz38 -jw39 \"-jx*.bak\" \"-jx*.o\" -jyc40 -jyd41"
              " -jyk42 -jyn43 -jyo44 \"-jzcomment\" -ga45 -gd46 -ge47 -gf48 -gj49 -gm50 -gn51"
              " -go52 -gp53 \"-grr\" -gs54 -gu55 -gw56 -extra \"/a.lzh\" \"/d/\" \"f\" \"more\"");
}

TEST_F(Lha32, OwnerWindowForcesN1AndNegativeValuesWriteNothing) {
    TLha32 driver;
    TArchiverOptions options;
    options.jso = -2;  // only -1 fails the check
    options.n = 0;
    std::string output;
    driver.Pack(0, "/a.lzh", options, "", {}, false, output);
    EXPECT_EQ(driver.CommandLine, "u -+ -n0  \"/a.lzh\" ");

    driver.SetOwnerWindow(42, nullptr);
    for (std::int8_t n : {0, -1}) {
        options.n = n;
        driver.Pack(0, "/a.lzh", options, "", {}, false, output);
        EXPECT_EQ(driver.CommandLine, "u -+ -n1  \"/a.lzh\" ");
    }
    driver.KillOwnerWindow(42);
    const std::string log = Recorder().Log();
    EXPECT_NE(log.find("UnlhaSetOwnerWindowEx 42 null"), std::string::npos);
    EXPECT_NE(log.find("UnlhaKillOwnerWindowEx 42"), std::string::npos);
}

TEST_F(Lha32, RequiredOptionsAreAssertedBeforeAnythingRuns) {
    TLha32 driver;
    driver.CommandLine = "previous";
    const TArchiverOptions fresh;
    std::string output;
    auto message = [](auto&& operation) {
        try {
            operation();
        } catch (const archives::EAssertionFailed& error) {
            return std::string(error.what());
        }
        return std::string("no assertion");
    };
    EXPECT_EQ(message([&] { driver.Unpack(0, "/a.lzh", fresh, "/o", {}, false, output); }),
              kJseMissing);
    for (auto operation : std::initializer_list<std::function<void()>>{
             [&] { driver.Pack(0, "/a.lzh", fresh, "", {}, false, output); },
             [&] { driver.RemoveItem(0, "/a.lzh", fresh, "", {}, false, output); },
             [&] { driver.Update(0, "/a.lzh", fresh, "", {}, false, output); },
             [&] { driver.MakeSfx(0, "/a.lzh", fresh, "/o", output); },
             [&] { driver.ExtractMem(0, "/a.lzh", fresh, "m", nullptr, 0, nullptr); }}) {
        EXPECT_EQ(message(operation), kJsoMissing);
    }
    TArchiverOptions withJse;
    withJse.jse = 1;
    EXPECT_EQ(message([&] { driver.Unpack(0, "/a.lzh", withJse, "/o", {}, false, output); }),
              kJsoMissing);
    EXPECT_EQ(driver.CommandLine, "previous");
    EXPECT_EQ(Recorder().Log().find("Unlha "), std::string::npos);
}

TEST_F(Lha32, OperationSpecificFoldersFilesAndListFiles) {
    TempFolder folder;
    TLha32 driver;
    TArchiverOptions options;
    options.jso = 1;
    options.ResFileName = folder / "names.lst";
    options.ResFileUsage = {archives::ruOnRemoveItem};
    std::string output;
    const StringList names{"a", "b"};
    const std::array<FileItem, 1> items{FileItem(std::cref(names))};

    driver.RemoveItem(0, "/a.lzh", options, "/ignored", items, false, output);
    EXPECT_EQ(driver.CommandLine, "d -+ -jso1  \"/a.lzh\" \"@" + options.ResFileName + "\" ");
    std::ifstream listFile(options.ResFileName, std::ios::binary);
    std::stringstream content;
    content << listFile.rdbuf();
    EXPECT_EQ(content.str(), "\"a\"\r\n\"b\"\r\n");

    driver.Update(0, "/a.lzh", options, "", items, true, output);
    EXPECT_EQ(driver.CommandLine, "f -+ -jso1  \"/a.lzh\" \"a\" \"b\" ")
        << "the driver decides from ResFileUsage, not from the flag";

    unsigned char buffer[32];
    std::uint32_t written = 0;
    EXPECT_EQ(
        driver.ExtractMem(0, "/a.lzh", options, "doc/readme.txt", buffer, sizeof buffer, &written),
        0);
    EXPECT_EQ(driver.CommandLine, " -+ -jso1  \"/a.lzh\" \"doc/readme.txt\" ");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), written), "member data");
    EXPECT_NE(Recorder().Log().find("UnlhaExtractMem 0 [ -+ -jso1  \"/a.lzh\" "
                                    "\"doc/readme.txt\" ] 32 null null"),
              std::string::npos);
}

TEST_F(Lha32, DriversShareOneBindingAndListThroughIt) {
    TLha32 first;
    archives::TArchiverDll* binding = TLha32::Binding();
    const std::size_t lookups = binding->LookupCount();
    TLha32 second;
    EXPECT_EQ(TLha32::Binding(), binding);
    EXPECT_EQ(binding->LookupCount(), lookups);

    Recorder().SetMembers(1);
    const HARC handle = second.OpenArchive(0, "relative.lzh", 0);
    archives::TArchiveEntryInfo entry{};
    EXPECT_EQ(second.FindFirst(handle, entry, "*.txt"), 0);
    EXPECT_STREQ(entry.record.file_name, "member0.txt");
    EXPECT_NE(second.FindNext(handle, entry), 0);
    EXPECT_EQ(second.CloseArchive(handle), 0);
    EXPECT_EQ(second.CheckArchive("rel.lzh", 1, 2), 1);
    const std::string log = Recorder().Log();
    EXPECT_NE(log.find("UnlhaOpenArchive 0 " + platform::GetCurrentDirectory() + "/relative.lzh 0"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("UnlhaCheckArchive rel.lzh 3"), std::string::npos) << log;
}

TEST_F(Lha32, ContentProbeNeverRaises) {
    TempFolder folder;
    const std::string file = folder.Write("x.exe");
    Recorder().SetArchiveAnswers(1, 0);
    EXPECT_FALSE(IsLhaArchive(file));
    EXPECT_NE(Recorder().Log().find("UnlhaCloseArchive 0"), std::string::npos)
        << "closed even when nothing was opened";
    Recorder().SetArchiveAnswers(1, 1);
    EXPECT_TRUE(IsLhaArchive(file));

    TLha32::FreeLibraryBinding();
    platform::OverrideLibrarySearch(std::vector<std::string>{folder.Path().string()}, false);
    EXPECT_FALSE(IsLhaArchive(file));
}

TEST_F(Lha32, MissingLibraryFailsTheFirstDriverThenEveryCall) {
    TempFolder empty;
    TLha32::FreeLibraryBinding();
    platform::OverrideLibrarySearch(std::vector<std::string>{empty.Path().string()}, false);
    const std::string expected = "LHA 形式書庫 を扱うには UNLHA32.DLL が 必要です。";
    try {
        TLha32 driver;
        FAIL() << "the first driver needs the library";
    } catch (const archives::ENoArchiverDLL& error) {
        EXPECT_EQ(error.what(), expected);
    }
    TLha32 later;  // the binding exists: no new attempt until a call needs the library
    std::string output;
    try {
        later.Pack(0, "/a.lzh", BatchOptions(), "", {}, false, output);
        FAIL();
    } catch (const archives::EArchiver& error) {
        EXPECT_EQ(error.what(), expected);
    }
    // A driver used after FreeDLL has no binding at all: the same error, not a crash.
    later.FreeDLL();
    EXPECT_THROW(later.Pack(0, "/a.lzh", BatchOptions(), "", {}, false, output),
                 archives::ENoArchiverDLL);
}

}  // namespace
}  // namespace zembrat::drivers
