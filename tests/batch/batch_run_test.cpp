// The batch run end to end through the real LHA library (and, for failures the library
// reports, through the recording library): what lands in the output folder, what the
// progress display and the message box are told, and that no existing file is ever lost.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "archives/archiver_errors.h"
#include "batch/batch_run.h"
#include "batch_test_support.h"

namespace zembrat::testing {
namespace {

using batch::ArchiveKind;
using batch::BatchAction;
using batch::BatchSettings;
using batch::FileOutcome;
using batch::FileStatus;
using batch::TBatchRun;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class BatchRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        run.Hooks().onFile = [this](const FileOutcome& outcome) { outcomes.push_back(outcome); };
        run.Hooks().onCompleted = [this] { ++completed; };
        std::filesystem::create_directories(input.Path());
        std::filesystem::create_directories(output.Path());
    }

    BatchSettings Settings(std::vector<std::string> paths) const {
        BatchSettings settings;
        settings.paths = std::move(paths);
        settings.outputFolder = output.Path().string();
        return settings;
    }

    // Writes the files into the input folder; their full paths.
    std::vector<std::string> Inputs(const std::vector<std::string>& names, int seed = 0) const {
        std::vector<std::string> paths;
        for (const auto& name : names) {
            paths.push_back(input.Write(name, SampleContent(seed++)));
        }
        return paths;
    }

    TempFolder input;
    TempFolder output;
    RecordingProgress progress;
    RecordingNotifier notifier;
    TBatchRun run{progress, notifier};
    std::vector<FileOutcome> outcomes;
    int completed = 0;
};

TEST(GetCompressFilename, ReplacesOrAppendsTheExtensionInTheChosenCase) {
    EXPECT_EQ(TBatchRun::GetCompressFilename("/in/photo.jpg", 1, false), "/in/photo.lzh");
    EXPECT_EQ(TBatchRun::GetCompressFilename("/in/photo.jpg", 1, true), "/in/photo.LZH");
    EXPECT_EQ(TBatchRun::GetCompressFilename("/in/photo.jpg", 2, false), "/in/photo.exe");
    EXPECT_EQ(TBatchRun::GetCompressFilename("/in/photo.jpg", 2, true), "/in/photo.EXE");
    EXPECT_EQ(TBatchRun::GetCompressFilename("a.tar.gz", 1, false), "a.tar.lzh");
    EXPECT_EQ(TBatchRun::GetCompressFilename("/in.d/README", 1, false), "/in.d/README.lzh");
    EXPECT_EQ(TBatchRun::GetCompressFilename("/in/photo.jpg", 3, true), "/in/photo.jpg");
}

TEST_F(BatchRunTest, CompressesEveryFileIntoItsOwnArchiveThatLhasaReadsBack) {
    REQUIRE_LHA_LIBRARY();
    REQUIRE_LHASA();
    const auto paths = Inputs({"report.txt", "photo.jpg", "README"});
    const auto result = run.Run(Settings(paths));

    EXPECT_EQ(result.processed, 3);
    EXPECT_FALSE(result.cancelled);
    EXPECT_THAT(result.failed, IsEmpty());
    EXPECT_THAT(FolderNames(output.Path()), ElementsAre("README.lzh", "photo.lzh", "report.lzh"));
    for (const auto& path : paths) {
        const std::string archive =
            (output.Path() /
             platform::ExtractFileName(TBatchRun::GetCompressFilename(path, 1, false)))
                .string();
        EXPECT_TRUE(SameBytes(LhasaContent(archive), ReadFile(path))) << archive;
    }
    EXPECT_THAT(progress.calls,
                ElementsAre("init 3", "show", "label 残り：3", "step", "label 残り：2", "step",
                            "label 残り：1", "step", "close"));
    EXPECT_EQ(notifier.beeps, 1);
    EXPECT_THAT(notifier.messages, ElementsAre("3個のファイルを処理しました"));
    EXPECT_EQ(completed, 1);
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[1].path, paths[1]);
    EXPECT_EQ(outcomes[1].outputPath, output / "photo.lzh");
    EXPECT_EQ(outcomes[1].status, FileStatus::kDone);
    EXPECT_EQ(outcomes[1].result, 0);
}

TEST_F(BatchRunTest, OverwriteOffSkipsAnExistingOutputAndStillCountsIt) {
    REQUIRE_LHA_LIBRARY();
    const auto paths = Inputs({"a.txt", "b.txt"});
    const std::string existing = output.Write("b.lzh", "older archive");
    const auto result = run.Run(Settings(paths));

    EXPECT_EQ(result.processed, 2);
    EXPECT_EQ(ReadFile(existing), "older archive");
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].status, FileStatus::kDone);
    EXPECT_EQ(outcomes[1].status, FileStatus::kSkippedExisting);
    EXPECT_THAT(notifier.messages, ElementsAre("2個のファイルを処理しました"));
}

TEST_F(BatchRunTest, NamesThatDifferOnlyInTheirExtensionShareOneArchive) {
    REQUIRE_LHA_LIBRARY();
    REQUIRE_LHASA();
    const auto paths = Inputs({"a.txt", "a.doc"});
    for (bool overwrite : {false, true}) {
        std::filesystem::remove(output / "a.lzh");
        auto settings = Settings(paths);
        settings.overwrite = overwrite;
        EXPECT_EQ(run.Run(settings).processed, 2);
        // Overwrite off: the second is skipped; on: the second's archive replaces the first's.
        EXPECT_TRUE(SameBytes(LhasaContent(output / "a.lzh"), ReadFile(paths[overwrite ? 1 : 0])))
            << "overwrite " << overwrite;
    }
}

TEST_F(BatchRunTest, UpperCaseExtensionGivesLzhAndExeInCapitals) {
    REQUIRE_LHA_LIBRARY();
    const auto paths = Inputs({"photo.jpg"});
    auto settings = Settings(paths);
    settings.upperCaseExtension = true;
    run.Run(settings);
    settings.kind = ArchiveKind::kExe;
    run.Run(settings);
    EXPECT_THAT(FolderNames(output.Path()), ElementsAre("photo.EXE", "photo.LZH"));
}

// The self-extracting kind: the file runs and extracts; its temporary archive lived in a
// private folder, so a file of the same name in the temporary folder is left alone.
TEST_F(BatchRunTest, SelfExtractingOutputRunsAndLeavesTheTemporaryFolderAlone) {
    REQUIRE_LHA_LIBRARY();
    TempFolder temporary;
    const std::string unrelated = temporary.Write("photo.lzh", "somebody else's file");
    ScopedEnvironment tmpdir("TMPDIR", temporary.Path().c_str());
    const auto paths = Inputs({"photo.jpg"});
    auto settings = Settings(paths);
    settings.kind = ArchiveKind::kExe;
    const auto result = run.Run(settings);

    EXPECT_THAT(result.failed, IsEmpty());
    EXPECT_THAT(FolderNames(output.Path()), ElementsAre("photo.exe"));
    EXPECT_EQ(ReadFile(unrelated), "somebody else's file");
    EXPECT_THAT(FolderNames(temporary.Path()), ElementsAre("photo.lzh"));  // no folder left

    struct stat info {};
    ASSERT_EQ(::stat((output / "photo.exe").c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IXUSR, 0u);
    TempFolder extracted;
    const auto ran = RunCommand(Quoted(output / "photo.exe") + " " + Quoted(extracted.Path()));
    EXPECT_EQ(ran.status, 0);
    EXPECT_TRUE(SameBytes(ReadFile(extracted / "photo.jpg"), ReadFile(paths[0])));
}

TEST_F(BatchRunTest, DecompressUnpacksEveryArchiveIntoTheFolder) {
    REQUIRE_LHA_LIBRARY();
    const auto paths = Inputs({"one.txt", "two.bin"});
    run.Run(Settings(paths));
    TempFolder unpacked;
    auto settings = Settings({output / "one.lzh", output / "two.lzh"});
    settings.action = BatchAction::kDecompress;
    settings.outputFolder = unpacked.Path().string();
    const auto result = run.Run(settings);

    EXPECT_EQ(result.processed, 2);
    EXPECT_THAT(result.failed, IsEmpty());
    EXPECT_TRUE(SameBytes(ReadFile(unpacked / "one.txt"), ReadFile(paths[0])));
    EXPECT_TRUE(SameBytes(ReadFile(unpacked / "two.bin"), ReadFile(paths[1])));
}

// The cancel button acts between files: here it is pressed while the second file is being
// packed, and seen when the run lets pending events through before the third.
TEST_F(BatchRunTest, CancelDuringTheSecondOfFiveFilesStopsAfterIt) {
    REQUIRE_LHA_LIBRARY();
    const auto paths = Inputs({"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"});
    bool cancelPressed = false;
    int pumps = 0;
    run.Hooks().onFile = [&](const FileOutcome& outcome) { cancelPressed = outcome.index == 1; };
    run.Hooks().pumpEvents = [&] {
        ++pumps;
        if (cancelPressed) {
            run.Cancel();
        }
    };
    const auto result = run.Run(Settings(paths));

    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.processed, 2);
    EXPECT_EQ(pumps, 5);
    EXPECT_THAT(FolderNames(output.Path()), ElementsAre("1.lzh", "2.lzh"));
    EXPECT_THAT(notifier.messages, ElementsAre("処理を中断しました　2個のファイルが処理済みです"));
    EXPECT_EQ(notifier.beeps, 1);
    EXPECT_EQ(completed, 0);
    EXPECT_FALSE(run.Processing());
}

TEST_F(BatchRunTest, AnUnknownKindEndsTheRunWithTheComponentsMessage) {
    REQUIRE_LHA_LIBRARY();
    run.Run(Settings(Inputs({"first.txt"})));
    progress.calls.clear();
    notifier.messages.clear();
    notifier.beeps = 0;
    outcomes.clear();
    completed = 0;
    auto settings = Settings({output / "first.lzh", input.Write("old.gca"), output / "first.lzh"});
    settings.action = BatchAction::kDecompress;
    TempFolder unpacked;
    settings.outputFolder = unpacked.Path().string();

    try {
        run.Run(settings);
        ADD_FAILURE() << "no exception";
    } catch (const archives::EArchiver& error) {
        EXPECT_STREQ(error.what(), "書庫の形式を特定できませんでした。");
    }
    EXPECT_EQ(outcomes.size(), 1u);  // the first file was handled, the third never reached
    EXPECT_EQ(progress.calls.back(), "close");
    EXPECT_EQ(notifier.beeps, 0);
    EXPECT_THAT(notifier.messages, IsEmpty());
    EXPECT_EQ(completed, 0);
}

TEST_F(BatchRunTest, AMissingLibraryEndsTheRunBeforeTheFirstFile) {
    TempFolder empty;
    ScopedLibraryFolder nowhere(empty.Path().string());
    const auto paths = Inputs({"a.txt"});
    try {
        run.Run(Settings(paths));
        ADD_FAILURE() << "no exception";
    } catch (const archives::ENoArchiverDLL& error) {
        EXPECT_STREQ(error.what(), "LHA 形式書庫 を扱うには UNLHA32.DLL が 必要です。");
    }
    EXPECT_THAT(progress.calls, ElementsAre("close"));
    EXPECT_EQ(notifier.beeps, 0);
    EXPECT_THAT(notifier.messages, IsEmpty());
    EXPECT_THAT(FolderNames(output.Path()), IsEmpty());
}

// A selected ".lzh" compressed into its own folder with overwrite on: it ends up inside the
// new archive of the same name, never deleted before.
TEST_F(BatchRunTest, AnInputThatIsItsOwnOutputIsPackedBeforeItIsReplaced) {
    REQUIRE_LHA_LIBRARY();
    REQUIRE_LHASA();
    const std::string precious = input.Write("data.lzh", SampleContent(7));
    auto settings = Settings({precious});
    settings.outputFolder = input.Path().string();
    settings.overwrite = true;
    const auto result = run.Run(settings);

    EXPECT_THAT(result.failed, IsEmpty());
    EXPECT_TRUE(SameBytes(LhasaContent(precious), SampleContent(7)));
    EXPECT_THAT(FolderNames(input.Path()), ElementsAre("data.lzh"));  // no staging left
}

TEST_F(BatchRunTest, AFailedPackKeepsTheOldOutputAndTheMessageNamesTheFile) {
    REQUIRE_LHA_LIBRARY();
    const std::string old = output.Write("gone.lzh", "the old archive");
    const std::string vanished = input / "gone.txt";  // chosen, then removed before the run
    auto settings = Settings({vanished});
    settings.overwrite = true;
    const auto result = run.Run(settings);

    EXPECT_EQ(ReadFile(old), "the old archive");
    EXPECT_THAT(result.failed, ElementsAre(vanished));
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].status, FileStatus::kFailed);  // whatever result the library gave
    EXPECT_THAT(
        notifier.messages,
        ElementsAre("1個のファイルを処理しました\n\n次のファイルは処理できませんでした：\n" +
                    vanished));
    EXPECT_THAT(FolderNames(output.Path()), ElementsAre("gone.lzh"));
}

// Failures as the library reports them, through the recording library: its result and text
// reach the observer, and neither kind's old output is touched.
TEST_F(BatchRunTest, ALibraryFailureLeavesBothKindsOfOldOutputInPlace) {
    ScopedLibraryFolder recorder(ZEMBRAT_RECORDER_DIR);
    drivers::TLha32::LoadLibraryBinding();
    RecorderAccess(drivers::TLha32::Binding()->Handle()).SetResult(0x8008, "cannot write");
    const auto paths = Inputs({"doc.txt"});
    output.Write("doc.lzh", "old plain");
    output.Write("doc.exe", "old program");
    for (ArchiveKind kind : {ArchiveKind::kLzh, ArchiveKind::kExe}) {
        auto settings = Settings(paths);
        settings.kind = kind;
        settings.overwrite = true;
        EXPECT_THAT(run.Run(settings).failed, ElementsAre(paths[0]));
    }
    EXPECT_EQ(ReadFile(output / "doc.lzh"), "old plain");
    EXPECT_EQ(ReadFile(output / "doc.exe"), "old program");
    EXPECT_THAT(FolderNames(output.Path()), ElementsAre("doc.exe", "doc.lzh"));
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].result, 0x8008);
    EXPECT_EQ(outcomes[0].outputText, "cannot write");
}

// A front end may add options before the first file; the batch options stay.
TEST_F(BatchRunTest, ExtraOptionsReachTheCommandLine) {
    ScopedLibraryFolder recorder(ZEMBRAT_RECORDER_DIR);
    drivers::TLha32::LoadLibraryBinding();
    const RecorderAccess access(drivers::TLha32::Binding()->Handle());
    run.Hooks().adjustOptions = [](archives::TArchiverOptions& options) { options.jm = 1; };
    run.Run(Settings(Inputs({"doc.txt"})));
    EXPECT_THAT(access.Log(), HasSubstr("-jm1"));
    EXPECT_THAT(access.Log(), HasSubstr("-jso1"));
    EXPECT_THAT(access.Log(), HasSubstr("-gw2"));
}

}  // namespace
}  // namespace zembrat::testing
