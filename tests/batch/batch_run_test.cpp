// The batch run end to end through the real LHA library (and, for failures the library
// reports, through the recording library): what lands in the output folder, what the
// progress display and the message box are told, and that no existing file is ever lost.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

    static std::vector<std::string> FailedPaths(const batch::BatchResult& result) {
        std::vector<std::string> paths;
        for (const auto& failed : result.failed) {
            paths.push_back(failed.path);
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
    EXPECT_EQ(TBatchRun::GetCompressFilename("/in/.profile", 1, false), "/in/.profile.lzh");
    EXPECT_EQ(TBatchRun::GetCompressFilename("/in/.a.txt", 1, false), "/in/.a.lzh");
    EXPECT_EQ(TBatchRun::GetCompressFilename("/in/a.txt", 1, true, "tar.gz"), "/in/a.TAR.GZ");
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

// Two files of one run that map to one archive (a.txt and a.doc, or d1/a.txt and d2/a.txt):
// the later one fails and never replaces what the run made a moment ago, with overwrite on or
// off; nor does an archive replace a selected file the run has not handled yet.
TEST_F(BatchRunTest, OneRunNeverReplacesWhatItMadeOrHasStillToRead) {
    REQUIRE_LHA_LIBRARY();
    REQUIRE_LHASA();
    const auto paths = Inputs({"a.txt", "a.doc", "d1/b.txt", "d2/b.txt"});
    for (bool overwrite : {false, true}) {
        std::filesystem::remove(output / "a.lzh");
        std::filesystem::remove(output / "b.lzh");
        outcomes.clear();
        auto settings = Settings(paths);
        settings.overwrite = overwrite;
        const auto result = run.Run(settings);
        EXPECT_EQ(result.processed, 4);
        EXPECT_THAT(FailedPaths(result), ElementsAre(paths[1], paths[3]));
        EXPECT_THAT(result.failed[0].reason, HasSubstr("この実行で先に作った書庫と同じ名前"));
        EXPECT_TRUE(SameBytes(LhasaContent(output / "a.lzh"), ReadFile(paths[0])));
        EXPECT_TRUE(SameBytes(LhasaContent(output / "b.lzh"), ReadFile(paths[2])));
    }

    // notes.txt then notes.lzh, both selected, packed into their own folder with overwrite:
    // notes.lzh is packed as a file, not replaced by the archive of notes.txt first.
    const std::string text = input.Write("notes.txt", SampleContent(3));
    const std::string archive = input.Write("notes.lzh", SampleContent(4));
    auto settings = Settings({text, archive});
    settings.outputFolder = input.Path().string();
    settings.overwrite = true;
    const auto result = run.Run(settings);
    EXPECT_THAT(FailedPaths(result), ElementsAre(text));
    EXPECT_TRUE(SameBytes(LhasaContent(archive), SampleContent(4)));
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

// Files that no library can be given fail alone, each with its reason, and the run goes
// on: a kind no driver handles, a name no command line can carry, a missing file, a path
// longer than the system takes.
TEST_F(BatchRunTest, AFileNoLibraryCanTakeFailsAloneWithItsReason) {
    REQUIRE_LHA_LIBRARY();
    run.Run(Settings(Inputs({"first.txt"})));
    outcomes.clear();
    const std::string broken = input.Write("line\nbreak.lzh", "x");
    const std::string tooLong = input / (std::string(300, 'n') + ".lzh");
    auto settings = Settings(
        {input.Write("old.gca"), broken, input / "absent.lzh", tooLong, output / "first.lzh"});
    settings.action = BatchAction::kDecompress;
    TempFolder unpacked;
    settings.outputFolder = unpacked.Path().string();

    const auto result = run.Run(settings);
    EXPECT_EQ(result.processed, 5);
    ASSERT_EQ(result.failed.size(), 4u);
    const std::vector<std::string> reasons = {
        "書庫の形式を特定できませんでした。",
        "名前に改行が含まれているため、書庫ライブラリに渡せません", "ファイルが見つかりません",
        "パスが長すぎます"};
    for (std::size_t i = 0; i < reasons.size(); ++i) {
        EXPECT_EQ(result.failed[i].path, settings.paths[i]);
        EXPECT_EQ(result.failed[i].reason, reasons[i]);
    }
    EXPECT_THAT(FolderNames(unpacked.Path()), ElementsAre("first.txt"));
}

// An output folder that cannot take the outputs is refused once, before any file and before
// anything is made, with a message naming it.
TEST_F(BatchRunTest, AnOutputFolderThatCannotTakeOutputsIsRefusedBeforeTheFirstFile) {
    const auto paths = Inputs({"a.txt", "b.txt"});
    const struct {
        std::string folder;
        std::string message;
    } cases[] = {
        {output / "gone", "出力フォルダがありません: " + output / "gone"},
        {output / "a\"b",
         "出力フォルダの名前に二重引用符または改行が含まれているため、"
         "書庫ライブラリに渡せません: " +
             output / "a\"b/"},
        {paths[0], "出力フォルダとして指定されたものはフォルダではありません: " + paths[0]},
    };
    for (const auto& expected : cases) {
        auto settings = Settings(paths);
        settings.outputFolder = expected.folder;
        try {
            run.Run(settings);
            ADD_FAILURE() << expected.folder;
        } catch (const archives::EArchiver& error) {
            EXPECT_EQ(error.what(), expected.message);
        }
        EXPECT_THAT(outcomes, IsEmpty());
        EXPECT_THAT(progress.calls, IsEmpty());
        EXPECT_THAT(FolderNames(output.Path()), IsEmpty());
    }
}

// A name holding double quotes travels to the library in a list file: the archive made
// holds the file under its own name, and unpacking that archive (whose name holds them too)
// brings it back byte for byte. A kind whose library reads no list file refuses it.
TEST_F(BatchRunTest, NamesHoldingDoubleQuotesArePackedAndUnpackedExactly) {
    REQUIRE_LHA_LIBRARY();
    REQUIRE_LHASA();
    const auto paths = Inputs({"say \"hi\".txt", "\"quoted\""});
    auto result = run.Run(Settings(paths));
    EXPECT_THAT(result.failed, IsEmpty());
    EXPECT_THAT(FolderNames(output.Path()), ElementsAre("\"quoted\".lzh", "say \"hi\".lzh"));
    EXPECT_TRUE(SameBytes(LhasaContent(output / "say \"hi\".lzh"), SampleContent(0)));

    TempFolder unpacked;
    auto settings = Settings({output / "say \"hi\".lzh", output / "\"quoted\".lzh"});
    settings.action = BatchAction::kDecompress;
    settings.outputFolder = unpacked.Path().string();
    result = run.Run(settings);
    EXPECT_THAT(result.failed, IsEmpty());
    EXPECT_THAT(FolderNames(unpacked.Path()), ElementsAre("\"quoted\"", "say \"hi\".txt"));
    EXPECT_EQ(ReadFile(unpacked / "say \"hi\".txt"), ReadFile(paths[0]));

    settings = Settings({paths[0]});
    settings.archiveExtension = "tar";
    result = run.Run(settings);
    ASSERT_EQ(result.failed.size(), 1u);
    EXPECT_THAT(result.failed[0].reason, HasSubstr("リストファイル"));
}

// "Replaced a file this run unpacked before" only when a later archive really replaced it:
// two damaged copies of one archive both fail and replace nothing.
TEST_F(BatchRunTest, AReplacementIsNotedOnlyWhenAFileWasReallyReplaced) {
    REQUIRE_LHA_LIBRARY();
    run.Run(Settings(Inputs({"member.txt"}, 3)));
    const std::string good = ReadFile(output / "member.lzh");
    TempFolder archives;
    for (const char* name : {"good1.lzh", "good2.lzh"}) {
        archives.Write(name, good);
    }
    for (const char* name : {"cut1.lzh", "cut2.lzh"}) {
        archives.Write(name, good.substr(0, good.size() / 2));
    }
    const struct {
        std::vector<std::string> names;
        std::size_t failures;
        std::vector<std::string> secondNotes;
    } cases[] = {
        {{"cut1.lzh", "cut2.lzh"}, 2, {}},
        {{"good1.lzh", "good2.lzh"}, 0, {"この実行で先に展開したファイルを置き換えました: "}},
    };
    for (const auto& expected : cases) {
        TempFolder unpacked;
        auto settings = Settings({archives / expected.names[0], archives / expected.names[1]});
        settings.action = BatchAction::kDecompress;
        settings.outputFolder = unpacked.Path().string();
        outcomes.clear();
        const auto result = run.Run(settings);
        EXPECT_EQ(result.failed.size(), expected.failures) << expected.names[0];
        ASSERT_EQ(outcomes.size(), 2u);
        std::vector<std::string> notes;
        for (const std::string& note : outcomes[1].notes) {
            notes.push_back(note.substr(0, note.find(": ") + 2));
        }
        EXPECT_EQ(notes, expected.secondNotes) << expected.names[0];
    }
}

// The window's short form of the final message: ten failures named, the rest counted, all
// of them in the details; the library's reasons in Japanese there.
TEST(CompletionMessages, TheShortFormNamesTenFailuresAndKeepsTheRestInTheDetails) {
    batch::BatchResult result;
    result.processed = 12;
    for (int i = 0; i < 12; ++i) {
        result.failed.push_back({"/a/" + std::to_string(i) + ".lzh", "結果 0x8004: damaged", 0x8004,
                                 "damaged archive: compressed data ends early"});
    }
    const auto message = batch::ShortCompletionMessage(result);
    const std::string reason = " (書庫が壊れています（圧縮データが途中で終わっています）)";
    EXPECT_THAT(message.text,
                ::testing::StartsWith("12個のファイルを処理しました\n\n"
                                      "次のファイルは処理できませんでした：\n/a/0.lzh" +
                                      reason));
    EXPECT_THAT(message.text, ::testing::EndsWith("/a/9.lzh" + reason + "\nほか 2 件"));
    EXPECT_THAT(message.details, HasSubstr("/a/11.lzh" + reason));
    EXPECT_THAT(batch::ShortCompletionMessage(result, 12).details, IsEmpty());
    EXPECT_THAT(batch::CompletionMessage(result), HasSubstr("/a/11.lzh (結果 0x8004: damaged)"));
}

TEST(CompletionMessages, LibraryReasonsBecomeJapanese) {
    const struct {
        int result;
        const char* text;
        const char* japanese;
    } cases[] = {
        {0x8004, "damaged archive: compressed data ends early",
         "書庫が壊れています（圧縮データが途中で終わっています）"},
        {0x8005, "a.txt: the member fails its CRC check",
         "ファイルが壊れています（CRC が一致しません）"},
        {0x8008, "cannot write /o/a.txt: No space left on device",
         "ファイルを書き込めません（ディスクの空きが足りません）"},
        {0x8006, "unsupported method -lh9-", "対応していない圧縮方式です"},
        {0x8004, "something no table knows", "書庫が壊れています"},
        {0x8123, "", "書庫ライブラリがエラーを返しました（0x8123）"},
    };
    for (const auto& expected : cases) {
        EXPECT_EQ(batch::JapaneseLibraryReason(expected.result, expected.text), expected.japanese)
            << expected.text;
    }
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
    EXPECT_THAT(FailedPaths(result), ElementsAre(vanished));
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].status, FileStatus::kFailed);
    EXPECT_THAT(
        notifier.messages,
        ElementsAre("1個のファイルを処理しました\n\n次のファイルは処理できませんでした：\n" +
                    vanished + " (ファイルが見つかりません)"));
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
        EXPECT_THAT(FailedPaths(run.Run(settings)), ElementsAre(paths[0]));
    }
    EXPECT_EQ(ReadFile(output / "doc.lzh"), "old plain");
    EXPECT_EQ(ReadFile(output / "doc.exe"), "old program");
    EXPECT_THAT(FolderNames(output.Path()), ElementsAre("doc.exe", "doc.lzh"));
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].result, 0x8008);
    EXPECT_EQ(outcomes[0].outputText, "cannot write");
    EXPECT_EQ(outcomes[0].reason, "結果 0x8008: cannot write");
}

// What the user named is what gets packed, exactly: case twins stay apart, a file whose
// name holds '*' or '?' is that file and no pattern, a hidden file named by the user is
// packed, and a missing name never falls back to its case twin.
TEST_F(BatchRunTest, EachArchiveHoldsExactlyTheFileThatWasNamed) {
    REQUIRE_LHA_LIBRARY();
    REQUIRE_LHASA();
    const auto paths = Inputs(
        {"a.txt", "A.TXT", "*.txt", "q?.txt", "qX.txt", ".profile", "only.txt", "passwords.txt"});
    auto settings = Settings({paths[0], paths[2], paths[3], paths[5], input / "ONLY.TXT"});
    const auto result = run.Run(settings);

    EXPECT_THAT(FailedPaths(result), ElementsAre(input / "ONLY.TXT"));
    EXPECT_THAT(FolderNames(output.Path()),
                ElementsAre("*.lzh", ".profile.lzh", "a.lzh", "q?.lzh"));
    const std::vector<std::pair<std::string, std::size_t>> archives = {
        {"a.lzh", 0}, {"*.lzh", 2}, {"q?.lzh", 3}, {".profile.lzh", 5}};
    for (const auto& [archive, index] : archives) {
        EXPECT_TRUE(SameBytes(LhasaContent(output / archive), ReadFile(paths[index]))) << archive;
    }
}

// Unpacking: a member named like an archive of the batch not handled yet neither destroys
// that archive nor keeps it from being read; a file this run unpacked and a later archive
// replaces is reported.
TEST_F(BatchRunTest, MembersNeverDestroyArchivesTheRunHasStillToRead) {
    REQUIRE_LHA_LIBRARY();
    // download.lzh holds a member "precious.lzh"; the real precious.lzh holds precious.txt.
    TempFolder fake;
    auto settings = Settings({fake.Write("precious.lzh", "not an archive")});
    settings.outputFolder = fake.Path().string() + "/made";
    std::filesystem::create_directory(settings.outputFolder);
    run.Run(settings);
    std::filesystem::rename(fake / "made/precious.lzh", output / "download.lzh");
    settings = Settings(Inputs({"precious.txt"}));
    run.Run(settings);
    settings =
        Settings({output / "download.lzh", output / "precious.lzh", output / "download.lzh"});
    settings.action = BatchAction::kDecompress;
    settings.overwrite = true;
    outcomes.clear();
    const auto result = run.Run(settings);

    EXPECT_THAT(result.failed, IsEmpty());
    EXPECT_EQ(ReadFile(output / "precious.txt"), ReadFile(input / "precious.txt"));
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_THAT(outcomes[0].notes,
                ElementsAre(HasSubstr("書庫を元に戻しました: " + output / "precious.lzh")));
    // The third file unpacks download.lzh again: its member replaces what the first wrote.
    EXPECT_THAT(outcomes[2].notes, ElementsAre("この実行で先に展開したファイルを置き換えました: " +
                                               output / "precious.lzh"));
    EXPECT_EQ(ReadFile(output / "precious.lzh"), "not an archive");
    EXPECT_THAT(FolderNames(output.Path()),
                ElementsAre("download.lzh", "precious.lzh", "precious.txt"));
}

// A library that leaves a later volume of a set to the set's first volume: the file counts as
// handled, is no failure, and is told apart from an archive whose existing files were kept.
TEST_F(BatchRunTest, ALaterVolumeLeftToItsFirstIsReportedAsSkipped) {
    ScopedLibraryFolder recorder(ZEMBRAT_RECORDER_DIR);
    drivers::TLha32::LoadLibraryBinding();
    const RecorderAccess access(drivers::TLha32::Binding()->Handle());
    const struct {
        const char* text;
        FileStatus status;
        bool listedAsSkipped;
    } cases[] = {
        {"set.part2.lzh: volume 2 of the set that set.part1.lzh extracts; skipped\n",
         FileStatus::kSkippedLaterVolume, true},
        {"set.part2.lzh: kept the existing file (-o overwrites)\n", FileStatus::kDone, false},
        // Another archive's line, or the library's words without the skip, are no skip.
        {"other.lzh: volume 2 of the set that other.part1.lzh extracts; skipped\n",
         FileStatus::kDone, false},
        {"set.part2.lzh: volume 2 of the set that \n", FileStatus::kDone, false},
    };
    const std::string later = input.Write("set.part2.lzh", "a later volume");
    for (const auto& test : cases) {
        SCOPED_TRACE(test.text);
        access.SetResult(ARC_WARNING_SKIPPED, test.text);
        auto settings = Settings({later});
        settings.action = BatchAction::kDecompress;
        outcomes.clear();
        notifier.messages.clear();
        const auto result = run.Run(settings);

        EXPECT_THAT(result.failed, IsEmpty());
        ASSERT_EQ(outcomes.size(), 1u);
        EXPECT_EQ(outcomes[0].status, test.status);
        const std::string line = test.text;
        EXPECT_THAT(outcomes[0].notes, ElementsAre(line.substr(0, line.size() - 1)));
        const std::string listed =
            "\n\n次のファイルは分割書庫の続きなのでスキップしました（最初の巻が書庫全体を展開"
            "します）：\n" +
            later;
        EXPECT_THAT(notifier.messages,
                    ElementsAre("1個のファイルを処理しました" +
                                (test.listedAsSkipped ? listed : std::string())));
    }
}

// The final rename: never over a file another run made meanwhile (unless overwriting), a
// replaced read-only archive stays read-only, and a rename the system refuses is reported
// with the system's reason.
TEST_F(BatchRunTest, TheFinalRenameRespectsWhatAppearedAndWhatItReplaces) {
    REQUIRE_LHA_LIBRARY();
    const auto paths = Inputs({"race.txt", "locked.txt", "blocked.txt"});
    run.Hooks().onLibraryCall = [&](const archives::TArchiveFile& archive) {
        if (archive.FileName().find("race.lzh") != std::string::npos) {
            output.Write("race.lzh", "another run's archive");
        }
    };
    run.Run(Settings({paths[0]}));
    EXPECT_EQ(ReadFile(output / "race.lzh"), "another run's archive");
    EXPECT_EQ(outcomes.back().status, FileStatus::kSkippedExisting);
    run.Hooks().onLibraryCall = nullptr;

    output.Write("locked.lzh", "old");
    ::chmod((output / "locked.lzh").c_str(), 0444);
    std::filesystem::create_directory(output / "blocked.lzh");
    auto settings = Settings({paths[1], paths[2]});
    settings.overwrite = true;
    const auto result = run.Run(settings);
    struct stat info {};
    ASSERT_EQ(::stat((output / "locked.lzh").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0444u);
    EXPECT_NE(ReadFile(output / "locked.lzh"), "old");
    ASSERT_EQ(result.failed.size(), 1u);
    EXPECT_THAT(result.failed[0].reason,
                HasSubstr("できた書庫に名前を付けられませんでした: " + output / "blocked.lzh"));
    EXPECT_THAT(FolderNames(output.Path()), ElementsAre("blocked.lzh", "locked.lzh", "race.lzh"));
}

// Folders a killed run could not remove go when the next run starts; one that a living
// run holds stays.
TEST_F(BatchRunTest, LeftoversOfKilledRunsAreRemovedAndLivingRunsKept) {
    REQUIRE_LHA_LIBRARY();
    TempFolder temporary;
    ScopedEnvironment tmpdir("TMPDIR", temporary.Path().c_str());
    const std::string stale = temporary / "zembrat-Abc123";
    const std::string stagedStale = output / ".zembrat-Def456";
    const std::string living = temporary / "zembrat-Liv789";
    for (const std::string& folder : {stale, stagedStale, living}) {
        std::filesystem::create_directories(folder + "/inner");
        std::ofstream(folder + "/inner/archive.lzh") << "75 MB once";
        const timespec old[2] = {{1, 0}, {1, 0}};
        ::utimensat(AT_FDCWD, folder.c_str(), old, 0);
    }
    const int held = ::open(living.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    auto settings = Settings(Inputs({"tool.txt"}));
    settings.kind = ArchiveKind::kExe;
    run.Run(settings);
    ::close(held);

    EXPECT_THAT(FolderNames(temporary.Path()), ElementsAre("zembrat-Liv789"));
    EXPECT_THAT(FolderNames(output.Path()), ElementsAre("tool.exe"));
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
