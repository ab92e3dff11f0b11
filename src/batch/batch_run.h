// The batch run: one archive operation per selected file, in list order, with one archive
// component for the whole batch. It knows nothing of windows: the progress display, the
// beep and the message box are interfaces, and the settings come from a plain structure,
// so that the main window and the command-line front end share it.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archives/archive_file.h"
#include "archives/archiver_options.h"
#include "archives/file_items.h"
#include "batch/batch_messages.h"
#include "platform/messages.h"

namespace zembrat::batch {

enum class BatchAction { kCompress, kDecompress };  // RadioGroup1 items 0 and 1
enum class ArchiveKind { kLzh, kExe };              // RadioGroup2 items 0 and 1

// What GetCompressFilename makes of a name.
enum CompressNameKind { kArchiveName = 1, kSelfExtractingName = 2 };

struct BatchSettings {
    std::vector<std::string> paths;  // the files to handle, in order
    BatchAction action = BatchAction::kCompress;
    ArchiveKind kind = ArchiveKind::kLzh;
    bool overwrite = false;           // "同名ファイルの場合は上書き"
    bool upperCaseExtension = false;  // "拡張子は大文字"
    std::string outputFolder;         // as typed; the run adds the trailing delimiter
    // The kind of archive compress makes, by its extension without the dot ("lzh", "zip",
    // "tar.gz"): the component picks the driver from it. The window always makes "lzh".
    std::string archiveExtension = "lzh";
    platform::WindowHandle window = 0;
};

// The progress window as the run drives it.
class ProgressView {
  public:
    virtual ~ProgressView() = default;
    // Bar to 0, bar maximum to count, label to "残り：" + count.
    virtual void ProgressInitialize(int count) = 0;
    virtual void Show() = 0;
    virtual void SetLabel(const std::string& text) = 0;
    virtual void StepIt() = 0;
    virtual void Close() = 0;
};

struct BatchResult;

// The beep and the plain message box (no icon, one OK button, the application title).
class UserNotifier {
  public:
    virtual ~UserNotifier() = default;
    virtual void Beep() = 0;
    virtual void ShowMessage(const std::string& text) = 0;
    // The message at the end of a run; by default its full text (result.message).
    virtual void ShowCompletion(const BatchResult& result);
};

// What became of one file.
enum class FileStatus {
    kDone,             // the library reported success and the output stands
    kSkippedExisting,  // the output exists and overwriting is off
    kFailed,           // the library reported a failure, or the output did not appear
    // Decompress: a later volume of a set; the library left it alone because the set's first
    // volume unpacks the whole set.
    kSkippedLaterVolume,
};

struct FileOutcome {
    std::size_t index = 0;
    std::string path;        // the selected file
    std::string outputPath;  // the archive or self-extracting file made; the folder for decompress
    FileStatus status = FileStatus::kDone;
    int result = 0;          // the library's result code of the last call made for the file
    std::string outputText;  // the library's output text of that call
    std::string reason;      // kFailed: why, in one line (the run's own words or the library's)
    // Worth telling though the file was handled: existing files the library kept, files of
    // this run that a later archive replaced.
    std::vector<std::string> notes;
};

struct FailedFile {
    std::string path;
    std::string reason;
    // When the reason is the library's: its result code and its text (else 0 and empty).
    int result = 0;
    std::string libraryText;
};

struct BatchHooks {
    // Lets pending window events through; called before every file, so that the progress
    // display repaints and its cancel button can act.
    std::function<void()> pumpEvents;
    // Called after the batch options are set, before the first file: a front end may add
    // options (the LHA method switch jm, for example).
    std::function<void(archives::TArchiverOptions&)> adjustOptions;
    // Decompress: called for each archive once its kind is known, with a copy of the run's
    // options that this archive's Unpack then uses (how a kind's driver is told to replace
    // existing files, for example).
    std::function<void(archives::TArchiverType, archives::TArchiverOptions&)> adjustUnpackOptions;
    // Called once with the run's component, after the options, before the first file: a
    // front end may set its progress handler there.
    std::function<void(archives::TArchiveFile&)> prepareArchive;
    // Told after every operation made for a file (Pack, MakeSfx, Unpack), with the
    // component, whose CommandLine() and OutputText() are that call's (CommandLine() is empty
    // when the operation reached no library).
    std::function<void(const archives::TArchiveFile&)> onLibraryCall;
    // Told about every file handled.
    std::function<void(const FileOutcome&)> onFile;
    // A run that was not cancelled calls it after the beep, before its message.
    std::function<void()> onCompleted;
};

struct BatchResult {
    int processed = 0;       // every file reached while the run could go on
    bool cancelled = false;  // Processing was false at the end
    std::vector<FailedFile> failed;
    std::vector<std::string> skippedVolumes;  // kSkippedLaterVolume files, in list order
    std::string message;                      // the text shown at the end
};

// When the library skipped the archive because it is a later volume of a set ("NAME: volume 2
// of the set that FIRST extracts; skipped", "tests" for a test): the file name of the set's
// first volume, which lies in the same folder. Nothing for any other result or text, also for
// members the library kept.
std::optional<std::string> SkippedLaterVolume(std::string_view archive, int result,
                                              std::string_view text);

class TBatchRun {
  public:
    TBatchRun(ProgressView& progress, UserNotifier& notifier);

    void SetHooks(BatchHooks hooks) { hooks_ = std::move(hooks); }
    BatchHooks& Hooks() { return hooks_; }

    // The run. An exception of the component ends it at once (progress closed, no beep, no
    // message, onCompleted not called) and is passed on to the caller; so does an output
    // folder that is missing, cannot be written or no library can be given (EArchiver naming
    // the folder, before the first file and before anything is made). A file that
    // cannot be handled (missing, a name no command line can carry, an archive of a kind no
    // driver knows) fails alone and the run goes on.
    BatchResult Run(const BatchSettings& settings);

    // True while the run may go on; set by every run, cleared by Cancel. Safe to clear from
    // a signal handler.
    bool Processing() const { return processing_.load(); }
    void SetProcessing(bool processing) { processing_.store(processing); }
    void Cancel() { processing_.store(false); }

    // The batch configuration of a component: the LHA kind and the batch options.
    void ArchiveInitialize(archives::TArchiveFile& archive) const;

    // kArchiveName: extension to ".lzh" (".LZH" in upper case), or to the archive extension
    // given; kSelfExtractingName: ".exe" (".EXE"); any other kind: unchanged. A name without
    // extension gets one appended, as does a hidden file's name (".profile.lzh").
    static std::string GetCompressFilename(std::string_view fileName, int kind, bool upperCase,
                                           std::string_view archiveExtension = "lzh");

  private:
    class RunState;

    FileOutcome HandleFile(archives::TArchiveFile& archive, std::size_t index,
                           const std::string& outputFolder, RunState& state);
    FileOutcome lzhCompress(archives::TArchiveFile& archive, const archives::StringList& fileList,
                            const std::string& outputArchivePath, std::size_t index,
                            RunState& state);
    FileOutcome exeCompress(archives::TArchiveFile& archive, const archives::StringList& fileList,
                            const std::string& outputSfxPath, const std::string& archiveName,
                            std::size_t index, RunState& state);
    FileOutcome Decompress(archives::TArchiveFile& archive, const std::string& path,
                           const std::string& outputFolder);
    // Gives the made output its final name (outcome.outputPath).
    FileOutcome Place(const std::string& made, FileOutcome outcome, RunState& state);

    ProgressView& progress_;
    UserNotifier& notifier_;
    BatchHooks hooks_;
    std::atomic<bool> processing_{false};
    BatchSettings settings_;
};

}  // namespace zembrat::batch
