#include "archives/archive_file.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "archives/archiver_errors.h"
#include "component_test_support.h"
#include "platform/messages.h"

namespace zembrat::archives {
namespace {

using testing::RecordingLibraryTest;
using testing::TempFolder;

std::string MessageOf(auto&& operation) {
    try {
        operation();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no exception";
}

// Options as the batch run sets them.
void SetBatchOptions(TArchiveFile& archive) {
    archive.Options().jso = 1;
    archive.Options().jse = 1;
    archive.Options().n = 1;
    archive.Options().y = 1;
    archive.Options().m = 2;
    archive.Options().gw = 2;
    archive.SetOutputSize(8192);
}

TEST(DetectArchiverType, ByExtensionIgnoringCase) {
    EXPECT_EQ(TArchiveFile::DetectArchiverType("x.TGZ", true), atTgz);
    EXPECT_EQ(TArchiveFile::DetectArchiverType("/a/x.Lzh", true), atLha);
    EXPECT_EQ(TArchiveFile::DetectArchiverType("x.tar.bz2", true), atBZ2);
    EXPECT_EQ(TArchiveFile::DetectArchiverType("x.jar", true), atZip);
    EXPECT_EQ(TArchiveFile::DetectArchiverType("x.GCA", true), atGCA);
    EXPECT_EQ(TArchiveFile::DetectArchiverType("x.txt", true), atNone);
    EXPECT_EQ(TArchiveFile::DetectArchiverType("dir.lzh/README", true), atNone);
    EXPECT_EQ(TArchiveFile::DetectArchiverType("", true), atNone);
}

using ArchiveFile = RecordingLibraryTest;

TEST_F(ArchiveFile, FileNameChoosesTheDriverAndUnknownNamesGoByContent) {
    TArchiveFile archive;
    EXPECT_EQ(archive.ArchiverType(), atAutoDetect);
    EXPECT_TRUE(IsNoValue(archive.FileName()));
    EXPECT_EQ(archive.Archiver(), nullptr);

    archive.SetFileName("x.Lzh");
    EXPECT_EQ(archive.ArchiverType(), atLha);
    TArchiver* first = archive.Archiver();
    ASSERT_NE(first, nullptr);
    archive.SetFileName("notes.txt");
    EXPECT_EQ(archive.Archiver(), first) << "a name not there yet (to be made) keeps the driver";
    EXPECT_EQ(archive.FileName(), "notes.txt");
    archive.SetFileName("y.lzh");
    EXPECT_NE(archive.Archiver(), first) << "the same kind again gives a fresh driver";

    for (const char* unsupported : {"a.gca"}) {
        EXPECT_EQ(MessageOf([&] { archive.SetFileName(unsupported); }),
                  "書庫の形式を特定できませんでした。");
        EXPECT_EQ(archive.FileName(), "y.lzh");
        EXPECT_EQ(archive.ArchiverType(), atLha);
    }
}

TEST_F(ArchiveFile, KindValuesNoneAutoDetectDesignAndLoading) {
    TArchiveFile archive;
    archive.SetArchiverType(atLha);
    TArchiver* driver = archive.Archiver();
    archive.SetArchiverType(atNone);
    EXPECT_EQ(archive.ArchiverType(), atLha);
    archive.SetArchiverType(atAutoDetect);
    EXPECT_EQ(archive.ArchiverType(), atAutoDetect);
    EXPECT_EQ(archive.Archiver(), driver);
    EXPECT_THROW(archive.SetArchiverType(atYz1), EArchiver);

    archive.SetLoading(true);
    archive.SetArchiverType(atBel);
    EXPECT_EQ(archive.ArchiverType(), atBel);
    archive.SetLoading(false);

    archive.SetDesigning(true);
    archive.SetArchiverType(atGCA);
    EXPECT_EQ(archive.ArchiverType(), atGCA);
    EXPECT_EQ(archive.Archiver(), driver);
}

TEST_F(ArchiveFile, OutputBufferFollowsOutputSize) {
    TArchiveFile archive;
    EXPECT_EQ(archive.OutputSize(), 0);
    archive.SetOutputSize(8192);
    EXPECT_EQ(archive.OutputSize(), 8192);
    EXPECT_EQ(archive.Output()[0], '\0');
    archive.SetOutputSize(0);
    EXPECT_EQ(archive.OutputSize(), 0);
    archive.SetOutputSize(-5);
    EXPECT_EQ(archive.OutputSize(), 0);
}

TEST_F(ArchiveFile, ContentDetectionDecidesForExeAndUnknownNames) {
    TempFolder folder;
    const std::string program = folder.Write("setup.exe");

    Recorder().SetArchiveAnswers(1, 1);
    TArchiveFile accepted;
    accepted.SetFileName(program);
    EXPECT_EQ(accepted.ArchiverType(), atLha);
    const std::string log = Recorder().Log();
    EXPECT_NE(log.find("UnlhaCheckArchive " + program + " 16"), std::string::npos) << log;
    EXPECT_NE(log.find("UnlhaOpenArchive 0 " + program + " 8388610"), std::string::npos);

    // Any name the extension table does not know, or none, is recognised the same way.
    for (const char* name : {"book.cbz", "data.tar.zst", "setup.bin", "archive"}) {
        TArchiveFile byContent;
        byContent.SetFileName(folder.Write(name));
        EXPECT_EQ(byContent.ArchiverType(), atLha) << name;
    }

    // An existing file that nothing claims fails by itself, whatever came before; the previous
    // driver stays but is not given the file.
    Recorder().SetArchiveAnswers(0, 1);
    TArchiveFile refused;
    refused.SetFileName("earlier.lzh");
    for (const char* name : {"data.bin", "junk.exe", "README"}) {
        EXPECT_EQ(MessageOf([&] { refused.SetFileName(folder.Write(name)); }),
                  "書庫の形式を特定できませんでした。")
            << name;
        EXPECT_EQ(refused.FileName(), "earlier.lzh");
    }
    // A name not there yet cannot be recognised: packing into it on a fresh component asks
    // the content once more and then refuses.
    TArchiveFile fresh;
    fresh.SetFileName(folder / "new.dat");
    EXPECT_EQ(fresh.ArchiverType(), atAutoDetect);
    EXPECT_EQ(MessageOf([&] { fresh.Pack(0, nullptr, "", {}); }), "書庫の形式を判別できません。");

    TArchiveFile none;
    EXPECT_EQ(MessageOf([&] { none.Unpack(0, nullptr, "/out", {}); }),
              "書庫の形式を判別できません。");
    EXPECT_EQ(MessageOf([&] { none.MakeSfx(0, nullptr, "/out"); }), "書庫の形式を判別できません。");
}

TEST_F(ArchiveFile, PackThroughTheFilterSendsTheExplicitFileAndKeepsTheCallersOptions) {
    TempFolder folder;
    const std::string file = folder.Write("dir/file.txt");
    TArchiveFile archive;
    SetBatchOptions(archive);
    archive.SetFileName(folder / "out/file.lzh");
    const StringList list{file};
    const std::array<FileItem, 1> items{FileItem(std::cref(list))};
    Recorder().SetResult(0, "packed");

    EXPECT_EQ(archive.Pack(0, nullptr, "", items), 0);
    const std::string expected = "u -+ -m2 -n1 -p1 -y1 -jse1 -jso1 -gw2  \"" +
                                 (folder / "out/file.lzh") + "\" \"" + file + "\" ";
    EXPECT_EQ(archive.CommandLine(), expected);
    EXPECT_EQ(archive.OutputText(), "packed");
    EXPECT_EQ(archive.Options().p, -1) << "the filter works on a private copy";
}

TEST_F(ArchiveFile, PackWithNothingLeftAfterFilteringDoesNotCallTheLibrary) {
    TempFolder folder;
    folder.Write(".hidden");
    TArchiveFile archive;
    SetBatchOptions(archive);
    archive.SetFileName(folder / "a.lzh");
    // A hidden file that only a wildcard brings in is left out.
    const StringList list{folder / ".hid*", folder / "missing.txt"};
    const std::array<FileItem, 1> items{FileItem(std::cref(list))};
    Recorder().Reset();
    std::string& output = const_cast<std::string&>(archive.Output());
    output[0] = 'x';

    EXPECT_EQ(archive.Pack(0, nullptr, "", items), 0);
    EXPECT_EQ(archive.Output()[0], '\0');
    EXPECT_EQ(Recorder().Log().find("Unlha "), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder / "a.lzh"));
}

TEST_F(ArchiveFile, PackWithTheLibraryFilterPassesTheItemsUnchanged) {
    TArchiveFile archive;
    SetBatchOptions(archive);
    archive.Options().PackFilter = pfArchiver;
    archive.Options().jx = {"*.bak"};
    archive.SetFileName("/out/a.lzh");
    const std::array<FileItem, 1> items{FileItem("*.txt")};
    archive.Pack(0, nullptr, "/src", items);
    EXPECT_EQ(archive.CommandLine(),
              "u -+ -m2 -n1 -y1 -jse1 -jso1 \"-jx*.bak\" -gw2  \"/out/a.lzh\" \"/src/\" "
              "\"*.txt\" ");
}

// A separate process, so that nothing registered by other tests is seen.
TEST_F(ArchiveFile, WithoutAHandlerNoMessageIsRegisteredAndNoWindowMade) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TArchiveFile archive;
            SetBatchOptions(archive);
            archive.SetFileName("/in/a.lzh");
            archive.Unpack(0, nullptr, "/out", {});
            const bool untouched = TArchiveFile::ArcExtractMessage() == 0 &&
                                   !platform::IsWindowMessageRegistered("wm_arcextract") &&
                                   archive.ProgressWindow() == 0 &&
                                   platform::HiddenWindowCount() == 0 &&
                                   Recorder().Log().find("SetOwnerWindowEx") == std::string::npos;
            std::exit(untouched ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(ArchiveFile, ProgressMessagesReachTheHandlerAndAbortStopsTheLibrary) {
    TArchiveFile archive;
    SetBatchOptions(archive);
    archive.Options().n = 0;
    archive.SetFileName("/in/a.lzh");
    std::vector<std::string> seen;
    archive.SetOnProgress(
        [&](TArchiveFile& sender, int state, LPEXTRACTINGINFOEX record, bool& abort) {
            EXPECT_EQ(&sender, &archive);
            EXPECT_EQ(state, ARC_PROGRESS_UPDATE);
            seen.emplace_back(record->source_file_name);
            abort = seen.size() == 2;
        });
    Recorder().SetProgress(5);

    EXPECT_EQ(archive.Unpack(0, nullptr, "/out", {}), ARC_ERROR_ABORTED);
    EXPECT_EQ(seen, (std::vector<std::string>{"file0", "file1"}));
    EXPECT_NE(TArchiveFile::ArcExtractMessage(), 0u);
    const WindowHandle window = archive.ProgressWindow();
    ASSERT_NE(window, 0u);
    const std::string log = Recorder().Log();
    EXPECT_NE(log.find("UnlhaSetOwnerWindowEx " + std::to_string(window) + " null"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("progress 1 answered 1"), std::string::npos) << log;
    EXPECT_NE(log.find("UnlhaKillOwnerWindowEx " + std::to_string(window)), std::string::npos);
    EXPECT_NE(archive.CommandLine().find(" -n1 "), std::string::npos)
        << "with progress routed the library is told not to ask: " << archive.CommandLine();
    EXPECT_FALSE(archive.Archiver()->HasOwnerWindow());

    // Other messages reach the default procedure.
    EXPECT_EQ(platform::SendMessage(window, 0x0010, 0, 0), 0);
}

TEST_F(ArchiveFile, AbortDuringFileSelectionReturnsWithoutCallingTheLibrary) {
    TempFolder folder;
    folder.Write("a.txt");
    folder.Write("b.txt");
    TArchiveFile archive;
    SetBatchOptions(archive);
    archive.SetFileName(folder / "x.lzh");
    archive.Unpack(0, nullptr, "/out", {});
    const std::string previous = archive.CommandLine();
    int selections = 0;
    archive.SetOnProgress([&](TArchiveFile&, int state, LPEXTRACTINGINFOEX, bool& abort) {
        EXPECT_EQ(state, 2053);
        abort = ++selections == 1;
    });
    Recorder().Reset();
    const StringList list{folder / "*.txt"};
    const std::array<FileItem, 1> items{FileItem(std::cref(list))};

    EXPECT_EQ(archive.Pack(0, nullptr, "", items), 0x8020);
    EXPECT_EQ(selections, 1);
    EXPECT_EQ(archive.CommandLine(), previous);
    EXPECT_EQ(Recorder().Log().find("Unlha "), std::string::npos);
}

TEST_F(ArchiveFile, ExceptionsFromTheDriverStillCopyTheCommandLine) {
    TArchiveFile archive;
    archive.SetFileName("/in/a.lzh");
    archive.SetOnProgress([](TArchiveFile&, int, LPEXTRACTINGINFOEX, bool&) {});
    EXPECT_THROW(archive.Unpack(0, nullptr, "/out", {}), EAssertionFailed);
    EXPECT_EQ(archive.CommandLine(), "");
    EXPECT_FALSE(archive.Archiver()->HasOwnerWindow()) << "the owner window is released";
}

}  // namespace
}  // namespace zembrat::archives
