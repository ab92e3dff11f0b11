// The CAB, RAR, ARJ and BGA drivers against recording libraries under their own prefixes:
// the lines each sends, character for character, the refusals, the missing libraries and the
// content probes in detection order.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <typeinfo>
#include <vector>

#include "archives/archive_file.h"
#include "archives/archiver_errors.h"
#include "component_test_support.h"
#include "drivers/arj32.h"
#include "drivers/bga32.h"
#include "drivers/cab32.h"
#include "drivers/rar32.h"
#include "drivers/tar32.h"
#include "drivers/zip32.h"
#include "platform/path.h"

namespace zembrat::drivers {
namespace {

using archives::FileItem;
using archives::TArchiver;
using archives::TArchiverType;
using testing::Outcome;
using testing::RecorderAccess;
using testing::TempFolder;

constexpr const char* kArchive = "rel/a.x";

enum class Op { Unpack, Pack, RemoveItem, MakeSfx, ExtractMem };

// One of the four kinds: how to make its driver, and its binding.
struct Kind {
    const char* prefix;
    std::function<std::unique_ptr<TArchiver>()> make;
    std::function<archives::TArchiverDll*()> binding;
};

template <class Driver>
Kind KindOf(const char* prefix) {
    return {prefix, [] { return std::make_unique<Driver>(); }, [] { return Driver::Binding(); }};
}

const Kind kCab = KindOf<TCab32>("Cab");
const Kind kRar = KindOf<TRar32>("Unrar");
const Kind kArj = KindOf<TArj32>("Unarj");
const Kind kBga = KindOf<TBGA32>("Bga");

// The ARJ lines are LHA lines, which need jse and jso; the other kinds ignore both.
TArchiverOptions BaseOptions() {
    TArchiverOptions options;
    options.jse = 1;
    options.jso = 1;
    return options;
}

// Runs the operation on kArchive with the folder and the one item "f"; the line it built.
std::string LineOf(TArchiver& driver, Op op, const TArchiverOptions& options,
                   const std::string& folder = "/out", bool useListFile = false) {
    std::string output(16, '\0');
    const std::array<FileItem, 1> items{FileItem("f")};
    unsigned char buffer[32];
    std::uint32_t written = 0;
    switch (op) {
        case Op::Unpack:
            driver.Unpack(0, kArchive, options, folder, items, useListFile, output);
            break;
        case Op::Pack:
            driver.Pack(0, kArchive, options, folder, items, useListFile, output);
            break;
        case Op::RemoveItem:
            driver.RemoveItem(0, kArchive, options, folder, items, useListFile, output);
            break;
        case Op::MakeSfx:
            driver.MakeSfx(0, kArchive, options, folder, output);
            break;
        case Op::ExtractMem:
            driver.ExtractMem(0, kArchive, options, "f", buffer, sizeof buffer, &written);
            break;
    }
    return driver.CommandLine;
}

void FreeEveryBinding() {
    TCab32::FreeLibraryBinding();
    TRar32::FreeLibraryBinding();
    TArj32::FreeLibraryBinding();
    TBGA32::FreeLibraryBinding();
    TLha32::FreeLibraryBinding();
    TTar32::FreeLibraryBinding();
    TZip32::FreeLibraryBinding();
}

// Only the four recording libraries are found (others when a test names their folders);
// every binding starts afresh.
class KindDrivers : public ::testing::Test {
  protected:
    void SetUp() override { Libraries({ZEMBRAT_KIND_RECORDER_DIR}); }
    void TearDown() override {
        FreeEveryBinding();
        platform::RestoreLibrarySearch();
    }
    static void Libraries(const std::vector<std::string>& folders) {
        platform::OverrideLibrarySearch(folders, false);
        FreeEveryBinding();
        for (const Kind* kind : {&kCab, &kRar, &kArj, &kBga}) {
            if (Outcome([&] { kind->make(); }) == "ok") {
                Recorder(*kind).Reset();
            }
        }
    }
    static RecorderAccess Recorder(const Kind& kind) {
        return RecorderAccess(kind.binding()->Handle());
    }
};

TEST_F(KindDrivers, EachOperationSendsItsLineToItsOwnLibrary) {
    const std::string absolute = platform::ExpandFileName(kArchive);
    struct Case {
        const Kind& kind;
        Op op;
        std::string line;
    };
    const std::vector<Case> cases = {
        // The cabinet library gets the archive to unpack by its absolute name only.
        {kCab, Op::Unpack, "-x  \"" + absolute + "\" \"/out/\" \"f\" "},
        {kCab, Op::Pack, "-a  \"rel/a.x\" \"/out/\" \"f\" "},
        {kCab, Op::MakeSfx, "-f  \"rel/a.x\" \"/out/\" "},
        {kCab, Op::ExtractMem, "  \"rel/a.x\" \"f\" "},
        {kRar, Op::Unpack, "-x -u  \"rel/a.x\" \"/out/\" \"f\" "},
        {kRar, Op::ExtractMem, " -u  \"rel/a.x\" \"f\" "},
        {kArj, Op::Unpack, "x -+ -jse1 -jso1  \"rel/a.x\" \"/out/\" \"f\" "},
        {kArj, Op::ExtractMem, " -+ -jse1 -jso1  \"rel/a.x\" \"f\" "},
        {kBga, Op::Unpack, "x -n -j  \"rel/a.x\" \"/out/\" \"f\" "},
        {kBga, Op::Pack, "a -n -j  \"rel/a.x\" \"/out/\" \"f\" "},
        {kBga, Op::RemoveItem, "d -n -j  \"rel/a.x\" \"f\" "},
        {kBga, Op::MakeSfx, "s -n -j  \"rel/a.x\" \"/out/\" "},
    };
    for (const Case& c : cases) {
        auto driver = c.kind.make();
        Recorder(c.kind).Reset();
        EXPECT_EQ(LineOf(*driver, c.op, BaseOptions()), c.line) << c.kind.prefix << int(c.op);
        const std::string logged =
            c.op == Op::ExtractMem
                ? std::string(c.kind.prefix) + "ExtractMem 0 [" + c.line + "] 32 null null\n"
                : std::string(c.kind.prefix) + " 0 [" + c.line + "] buffer 16\n";
        EXPECT_EQ(Recorder(c.kind).Log(), logged);
    }
    // The ARJ lines are the LHA driver's own.
    TArj32 arj;
    const std::array<FileItem, 1> items{FileItem("f")};
    EXPECT_EQ(LineOf(arj, Op::Unpack, BaseOptions(), "/o", true),
              TLha32::BuildCommand(arj, "x", kArchive, BaseOptions(), "/o", items, true));
    EXPECT_EQ(TLha32::Binding(), nullptr) << "the ARJ driver needs no LHA library";
    // The RAR test line: the archive alone, and all of the library's answer.
    TRar32 rar;
    Recorder(kRar).Reset();
    std::string output;
    EXPECT_EQ(rar.Test("dir/a b.rar", output), 0);
    EXPECT_EQ(Recorder(kRar).Log(), "Unrar 0 [-t \"dir/a b.rar\"] buffer 4096\n");
}

TEST_F(KindDrivers, SwitchesFromTheOptions) {
    struct Case {
        const Kind& kind;
        std::function<void(TArchiverOptions&)> set;
        bool ownerWindow;
        std::string line;
    };
    const std::string tail = "  \"rel/a.x\" \"f\" ";
    const std::vector<Case> cases = {
        {kCab, [](auto& o) { o.c = 2, o.x = 1; }, false, "-a" + tail},
        {kCab, [](auto& o) { o.n = 0; }, true, "-a -i" + tail},
        {kCab, [](auto& o) { o.c = 1, o.n = 1, o.r = 1, o.w = "/tmp", o.x = 0, o.ji = 1; }, false,
         "-a -o -i -r \"-h/tmp/\" -j -q" + tail},
        {kRar, [](auto& o) { o.x = 0, o.c = 0, o.m = 0, o.p = 0; }, false, "-e -u" + tail},
        {kRar, [](auto& o) { o.x = 1, o.c = 1, o.m = 1, o.p = 1; }, false, "-x -y -s" + tail},
        {kBga, [](auto& o) { o.c = 1, o.x = 1; }, false, "a -o" + tail},
        {kBga, [](auto& o) { o.x = 0, o.jm = 0; }, true, "a -n -i -j -l0" + tail},
        {kBga, [](auto& o) { o.a = 1, o.n = 1, o.r = 1, o.jm = 9, o.UserOptions = "-z"; }, false,
         "a -a -n -i -r -j -l9 -z \"rel/a.x\" \"f\" "},
        {kArj, [](auto&) {}, true, "x -+ -n1 -jse1 -jso1" + tail},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        auto driver = c.kind.make();
        if (c.ownerWindow) {
            driver->SetOwnerWindow(7, nullptr);
        }
        TArchiverOptions options = BaseOptions();
        c.set(options);
        const Op op = &c.kind == &kRar || &c.kind == &kArj ? Op::Unpack : Op::Pack;
        EXPECT_EQ(LineOf(*driver, op, options, ""), c.line) << "case " << i;
    }
}

TEST_F(KindDrivers, ListFileWhereEachOperationLooksForIt) {
    TempFolder folder;
    struct Case {
        const Kind& kind;
        Op op;
        archives::TResFileUsage usage;
        bool flag;
        bool usesList;
    };
    const archives::TResFileUsage all{archives::ruOnPack, archives::ruOnUnpack,
                                      archives::ruOnRemoveItem};
    // CAB and RAR read the options and ARJ and BGA the caller's flag, except BGA's RemoveItem.
    const std::vector<Case> cases = {
        {kCab, Op::Unpack, {archives::ruOnUnpack}, false, true},
        {kCab, Op::Pack, {archives::ruOnUnpack}, true, false},
        {kCab, Op::MakeSfx, all, true, false},
        {kRar, Op::Unpack, {archives::ruOnUnpack}, false, true},
        {kRar, Op::ExtractMem, all, true, false},
        {kArj, Op::Unpack, all, false, false},
        {kBga, Op::Pack, {}, true, true},
        {kBga, Op::RemoveItem, {archives::ruOnRemoveItem}, false, true},
        {kBga, Op::RemoveItem, {archives::ruOnUnpack}, true, false},
        {kBga, Op::MakeSfx, all, true, false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        TArchiverOptions options = BaseOptions();
        options.ResFileName = folder / "names.lst";
        options.ResFileUsage = c.usage;
        const std::string line = LineOf(*c.kind.make(), c.op, options, "/out", c.flag);
        EXPECT_EQ(line.find("\"@" + options.ResFileName + "\"") != std::string::npos, c.usesList)
            << "case " << i << ": " << line;
    }
}

TEST_F(KindDrivers, RefusalsReachNoLibraryAndCheckModes) {
    constexpr const char* kNoPack = "この形式では書庫ファイルの作成をサポートしておりません。";
    constexpr const char* kNoRemove = "この形式の書庫ではファイルの削除をサポートしておりません。";
    constexpr const char* kNoSfx = "この形式では自己解凍書庫の作成をサポートしておりません。";
    struct Refusal {
        const Kind& kind;
        Op op;
        const char* message;
    };
    for (const Refusal& c : std::vector<Refusal>{
             {kCab, Op::RemoveItem, kNoRemove},
             {kRar, Op::Pack, kNoPack},
             {kRar, Op::MakeSfx, kNoSfx},
             {kArj, Op::Pack, kNoPack},
             {kArj, Op::RemoveItem, kNoRemove},
             {kArj, Op::MakeSfx, kNoSfx},
             {kBga, Op::ExtractMem, "この形式ではメモリへの展開をサポートしておりません。"}}) {
        EXPECT_EQ(Outcome([&] { LineOf(*c.kind.make(), c.op, BaseOptions()); }), c.message);
        EXPECT_EQ(Recorder(c.kind).Log(), "") << c.kind.prefix << int(c.op);
    }
    struct Check {
        const Kind& kind;
        int mode, further;
        const char* sent;
    };
    // The BGA library knows no level 2: it gets 1.
    for (const Check& c : std::vector<Check>{
             {kCab, 2, 16, "18"}, {kBga, 2, 0, "1"}, {kBga, 2, 16, "17"}, {kBga, 3, 0, "3"}}) {
        Recorder(c.kind).Reset();
        c.kind.make()->CheckArchive(kArchive, c.mode, c.further);
        EXPECT_EQ(Recorder(c.kind).Log(),
                  std::string(c.kind.prefix) + "CheckArchive rel/a.x " + c.sent + "\n");
    }
}

TEST_F(KindDrivers, ProbesOpenTheAbsoluteNameAndAlwaysClose) {
    TempFolder folder;
    const std::string present = folder.Write("p.exe");
    const std::string absent = folder / "absent.exe";
    struct Case {
        const Kind& kind;
        bool (*probe)(const std::string&);
        std::string file;
        int open;
        bool answer;
        bool opened;
    };
    // The BGA probe alone looks for the file first.
    const std::vector<Case> cases = {
        {kCab, IsCabArchive, absent, 1, true, true},  {kCab, IsCabArchive, present, 0, false, true},
        {kRar, IsRarArchive, present, 1, true, true}, {kArj, IsArjArchive, present, 0, false, true},
        {kBga, IsBgaArchive, present, 1, true, true}, {kBga, IsBgaArchive, absent, 1, false, false},
    };
    for (const Case& c : cases) {
        Recorder(c.kind).Reset();
        Recorder(c.kind).SetArchiveAnswers(1, c.open);
        EXPECT_EQ(c.probe(c.file), c.answer) << c.kind.prefix << " " << c.file;
        const std::string prefix = c.kind.prefix;
        const std::string handle = c.open != 0 ? "4660" : "0";
        EXPECT_EQ(Recorder(c.kind).Log(), c.opened
                                              ? prefix + "OpenArchive 0 " + c.file + " 8388610\n" +
                                                    prefix + "CloseArchive " + handle + "\n"
                                              : "")
            << c.kind.prefix << " " << c.file;
    }
    EXPECT_NE(TBGA32::Binding()->Handle(), nullptr) << "the library is loaded all the same";
}

TEST_F(KindDrivers, AMissingLibraryIsNamedAndProbesAnswerNo) {
    TempFolder empty;
    platform::OverrideLibrarySearch(std::vector<std::string>{empty.Path().string()}, false);
    const std::string file = empty.Write("p.exe");
    struct Case {
        const Kind& kind;
        bool (*probe)(const std::string&);
        const char* message;
    };
    const std::vector<Case> cases = {
        {kCab, IsCabArchive, "CAB 形式書庫 を扱うには CAB32.DLL が 必要です。"},
        {kRar, IsRarArchive, "RAR 形式書庫 を扱うには UNRAR32.DLL が 必要です。"},
        {kArj, IsArjArchive, "ARJ 形式書庫 を扱うには UNARJ32J.DLL が 必要です。"},
        {kBga, IsBgaArchive, "BGA 形式書庫 を扱うには BGA32.DLL が 必要です。"},
    };
    FreeEveryBinding();
    for (const Case& c : cases) {
        EXPECT_EQ(Outcome([&] { c.kind.make(); }), c.message);
        // The binding stays after its failed load: the next driver is made, and the library
        // is reported again at the binding's next use.
        EXPECT_EQ(Outcome([&] { c.kind.make(); }), "ok");
        EXPECT_FALSE(c.probe(file)) << c.kind.prefix;
        EXPECT_EQ(Outcome([&] { c.kind.binding()->OpenArchive(0, file, 0); }), c.message);
    }
}

TEST_F(KindDrivers, ExtensionsAndContentDetectionTakeTheLastYes) {
    archives::TArchiveFile archive;
    for (auto [name, type] : std::initializer_list<std::pair<const char*, const std::type_info*>>{
             {"x.cab", &typeid(TCab32)},
             {"x.RAR", &typeid(TRar32)},
             {"x.arj", &typeid(TArj32)},
             {"x.gza", &typeid(TBGA32)},
             {"x.BZA", &typeid(TBGA32)}}) {
        archive.SetFileName(name);
        ASSERT_NE(archive.Archiver(), nullptr) << name;
        EXPECT_EQ(typeid(*archive.Archiver()), *type) << name;
    }

    Libraries({ZEMBRAT_KIND_RECORDER_DIR, ZEMBRAT_TAR_RECORDER_DIR,
               std::string(ZEMBRAT_ZIP_RECORDER_DIR) + "/unzip32", platform::ProgramFolder()});
    TempFolder folder;
    const std::string file = folder.Write("setup.exe");
    TLha32::LoadLibraryBinding();
    TTar32::LoadLibraryBinding();
    TZip32::LoadLibraryBinding();
    const RecorderAccess lha(TLha32::Binding()->Handle());
    const RecorderAccess tar(TTar32::Binding()->Handle());
    const RecorderAccess zip(TZip32::Binding()->Handle(ZipLibrary::Unzip32));
    enum Yes { kRarYes = 1, kArjYes = 2, kZipYes = 4, kBgaYes = 8, kCabYes = 16, kLhaYes = 32 };
    struct Case {
        int yes;
        int tarType;
        TArchiverType expected;
    };
    const std::vector<Case> cases = {
        {kRarYes, 1, archives::atRar},
        {kRarYes | kArjYes, 0, archives::atArj},
        {kArjYes | kZipYes, 0, archives::atZip},
        {kZipYes | kBgaYes | kRarYes, 0, archives::atBga},
        {kBgaYes | kCabYes, 0, archives::atCab},
        {kCabYes | kLhaYes | kRarYes, 0, archives::atLha},
        {0, 1, archives::atTar},  // no yes: the tar library's answer
        {0, 0, archives::atNone},
    };
    for (const Case& c : cases) {
        Recorder(kRar).SetArchiveAnswers(1, c.yes & kRarYes);
        Recorder(kArj).SetArchiveAnswers(1, c.yes & kArjYes);
        zip.SetArchiveAnswers(1, c.yes & kZipYes);
        Recorder(kBga).SetArchiveAnswers(1, c.yes & kBgaYes);
        Recorder(kCab).SetArchiveAnswers(1, c.yes & kCabYes);
        lha.SetArchiveAnswers(1, c.yes & kLhaYes);
        tar.SetArchiveType(c.tarType);
        EXPECT_EQ(archives::TArchiveFile::DetectArchiverType(file, true), c.expected) << c.yes;
    }
}

}  // namespace
}  // namespace zembrat::drivers
