#include "drivers/tar32.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <functional>
#include <typeinfo>
#include <vector>

#include "archives/archive_file.h"
#include "archives/archiver_errors.h"
#include "component_test_support.h"
#include "drivers/zip32.h"
#include "fixture_files.h"
#include "platform/file_system.h"
#include "scoped_environment.h"

namespace zembrat::drivers {
namespace {

using archives::FileItem;
using testing::Outcome;
using testing::ReadFile;
using testing::RecorderAccess;
using testing::TempFolder;

// Only the recording tar library is found (with the LHA one beside it when asked for); every
// binding is loaded afresh.
class Tar32 : public ::testing::Test {
  protected:
    void SetUp() override { Libraries({ZEMBRAT_TAR_RECORDER_DIR}); }
    void TearDown() override {
        TTar32::FreeLibraryBinding();
        TLha32::FreeLibraryBinding();
        TZip32::FreeLibraryBinding();
        platform::RestoreLibrarySearch();
    }
    static void Libraries(const std::vector<std::string>& folders) {
        platform::OverrideLibrarySearch(folders, false);
        TTar32::FreeLibraryBinding();
        TLha32::FreeLibraryBinding();
        TTar32::LoadLibraryBinding();
        Recorder().Reset();
    }
    static RecorderAccess Recorder() { return RecorderAccess(TTar32::Binding()->Handle()); }
    static bool Logged(const std::string& text) {
        return Recorder().Log().find(text) != std::string::npos;
    }
};

TEST_F(Tar32, SwitchesCharacterForCharacterForEachKind) {
    // The plain tar switches; tgz adds " -z<level>" and bz2 " -B<level>" after them.
    struct Case {
        std::function<void(archives::TArchiverOptions&)> set;
        bool ownerWindow;
        std::string switches, level;
    };
    const std::vector<Case> cases = {
        {[](auto&) {}, false, "", ""},
        {[](auto& o) { o.a = 0; }, false, " -I", ""},
        {[](auto& o) { o.a = 1; }, false, " -AH", ""},
        {[](auto& o) { o.n = 1; }, false, " --display-dialog=0", ""},
        {[](auto& o) { o.n = 1; }, true, "", ""},
        {[](auto& o) { o.jm = 0; }, false, "", ""},
        {[](auto& o) { o.jm = 6; }, false, "", "6"},
        {[](auto& o) { o.a = 2, o.n = 1, o.o = 1, o.p = 0, o.x = 0, o.jm = 9; }, false,
         " -AH --display-dialog=0 -g --check-all-path=0 --use-directory=0", "9"},
    };
    TTar32 tar;
    TTgz32 tgz;
    TBZ232 bz2;
    const std::array<FileItem, 1> items{FileItem("f")};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        archives::TArchiverOptions options;
        c.set(options);
        for (auto [driver, compression] :
             {std::pair<TTar32*, std::string>{&tar, ""}, {&tgz, " -z"}, {&bz2, " -B"}}) {
            driver->OwnerWindow = c.ownerWindow ? 7 : 0;
            std::string output(16, '\0');
            EXPECT_EQ(driver->Pack(0, "a.tar", options, "", items, false, output), 0);
            const std::string level = compression.empty() ? "" : compression + c.level;
            EXPECT_EQ(driver->CommandLine, "c" + c.switches + level + "  -f \"a.tar\" \"f\" ")
                << "case " << i << " " << typeid(*driver).name();
        }
    }
    EXPECT_TRUE(
        Logged("Tar 0 [c -AH --display-dialog=0 -g --check-all-path=0 "
               "--use-directory=0 -B9  -f \"a.tar\" \"f\" ] buffer 16"));
}

TEST_F(Tar32, FolderListFileAndMemberLines) {
    TempFolder folder;
    TTgz32 driver;
    archives::TArchiverOptions options;
    options.a = 0;
    options.UserOptions = "--extra";
    options.UserFileList = "\"more\"";
    options.ResFileName = folder / "names.lst";
    options.ResFileUsage = {archives::ruOnPack};
    std::string output;
    const std::array<FileItem, 1> items{FileItem("a b")};

    // The options decide about the list file, whatever the caller's flag says.
    driver.Unpack(0, "a.tgz", options, "/out", items, true, output);
    EXPECT_EQ(driver.CommandLine, "x -I -z --extra -f \"a.tgz\" -o \"/out/\" \"a b\" \"more\"");
    driver.Pack(0, "a.tgz", options, "/src", items, false, output);
    EXPECT_EQ(driver.CommandLine, "c -I -z --extra -f \"a.tgz\" -o \"/src/\" \"@" +
                                      options.ResFileName + "\" \"more\"");
    EXPECT_EQ(ReadFile(options.ResFileName), "\"a b\"\r\n");

    unsigned char buffer[32];
    std::uint32_t written = 0;
    EXPECT_EQ(driver.ExtractMem(0, "a.tgz", options, "doc/x", buffer, sizeof buffer, &written), 0);
    EXPECT_EQ(driver.CommandLine, " -I -z --extra -f \"a.tgz\" \"doc/x\" \"more\"");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), written), "member data");
    EXPECT_TRUE(
        Logged("TarExtractMem 0 [ -I -z --extra -f \"a.tgz\" \"doc/x\" \"more\"] 32 "
               "null null"));
}

TEST_F(Tar32, MakeSfxCopiesStubAndArchiveWithoutTheLibrary) {
    TempFolder folder;
    TempFolder stubs;
    const testing::ScopedEnvironment path("PATH", stubs.Path().c_str());
    const std::string archive = folder.Write("a.tgz", "ARCHIVE");
    archives::TArchiverOptions options;
    std::string output;
    TTgz32 tgz;
    TBZ232 bz2;
    tgz.CommandLine = "previous";

    EXPECT_EQ(Outcome([&] { tgz.MakeSfx(0, archive, options, "", output); }),
              "tar/tgz 書庫からの自己解凍書庫の作成には kmtarsef.exe が必要です。");
    stubs.Write("kmtarsef.exe", "STUB-");
    EXPECT_EQ(Outcome([&] { bz2.MakeSfx(0, archive, options, "", output); }),
              "BZ2 形式書庫は自己解凍形式にできません。");
    EXPECT_FALSE(platform::FileExists(folder / "a.EXE"));

    TempFolder out;
    EXPECT_EQ(tgz.MakeSfx(0, archive, options, out.Path().string(), output), 0);
    EXPECT_EQ(ReadFile(out / "a.EXE"), "STUB-ARCHIVE");
    EXPECT_EQ(ReadFile(archive), "ARCHIVE");
    EXPECT_EQ(tgz.CommandLine, "previous");
    EXPECT_EQ(Recorder().Log(), "") << "the library is not called";

    // An archive already named like the target is read whole before the target replaces it.
    const std::string named = folder.Write("b.EXE", "OLD");
    EXPECT_EQ(TTar32().MakeSfx(0, named, options, "", output), 0);
    EXPECT_EQ(ReadFile(named), "STUB-OLD");
    // A copy that fails leaves nothing behind.
    EXPECT_THROW(tgz.MakeSfx(0, folder / "missing.tgz", options, "", output),
                 archives::EStreamError);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 2);
}

TEST_F(Tar32, ArchiveTypeCodesAndAMissingLibrary) {
    for (auto [code, type] :
         std::initializer_list<std::pair<int, archives::TArchiverType>>{{1, archives::atTar},
                                                                        {2, archives::atTgz},
                                                                        {5, archives::atTgz},
                                                                        {6, archives::atBZ2},
                                                                        {7, archives::atBZ2},
                                                                        {0, archives::atNone},
                                                                        {-1, archives::atNone},
                                                                        {8, archives::atNone}}) {
        Recorder().SetArchiveType(code);
        EXPECT_EQ(TarArchiverType("rel.bin"), type) << code;
    }
    EXPECT_TRUE(Logged("TarGetArchiveType rel.bin\n"));

    TempFolder empty;
    platform::OverrideLibrarySearch(std::vector<std::string>{empty.Path().string()}, false);
    TTar32::FreeLibraryBinding();
    EXPECT_EQ(Outcome([] { TTgz32 driver; }),
              "tar/tgz/taz/bz2 形式書庫 を扱うには TAR32.DLL が 必要です。");
    EXPECT_EQ(TarArchiverType("rel.bin"), archives::atNone);
    TTar32::FreeLibraryBinding();
    EXPECT_EQ(TarArchiverType("rel.bin"), archives::atNone) << "its own failed load";
}

TEST_F(Tar32, RegisteredByExtensionAndTheFallbackOfContentDetection) {
    archives::TArchiveFile archive;
    for (auto [name, type] : std::initializer_list<std::pair<const char*, const std::type_info*>>{
             {"x.tar", &typeid(TTar32)},
             {"x.deb", &typeid(TTar32)},
             {"x.tar.gz", &typeid(TTgz32)},
             {"x.taz", &typeid(TTgz32)},
             {"x.tar.bz2", &typeid(TBZ232)}}) {
        archive.SetFileName(name);
        ASSERT_NE(archive.Archiver(), nullptr) << name;
        EXPECT_EQ(typeid(*archive.Archiver()), *type) << name;
    }

    TempFolder folder;
    const std::string file = folder.Write("unknown.bin");
    Recorder().SetArchiveType(3);
    EXPECT_EQ(archives::TArchiveFile::DetectArchiverType(file, false), archives::atTgz);
    // Another recogniser's yes wins over the tar library's answer.
    Libraries({ZEMBRAT_TAR_RECORDER_DIR, platform::ProgramFolder()});
    Recorder().SetArchiveType(1);
    EXPECT_EQ(archives::TArchiveFile::DetectArchiverType(file, false), archives::atLha);
}

}  // namespace
}  // namespace zembrat::drivers
