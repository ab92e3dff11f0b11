#include "batch/batch_run.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "archiver_api.h"
#include "batch/scratch_folder.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/system_folders.h"

namespace zembrat::batch {

using archives::FileItem;
using archives::FileItems;
using archives::StringList;
using archives::TArchiveFile;

namespace {

constexpr const char* kRemaining = "残り：";
constexpr const char* kProcessed = "個のファイルを処理しました";
constexpr const char* kInterrupted = "処理を中断しました　";
constexpr const char* kProcessedSoFar = "個のファイルが処理済みです";
constexpr const char* kFailedFiles = "次のファイルは処理できませんでした：";
constexpr const char* kNoWorkFolder = "作業フォルダを作成できません: ";

constexpr int kOutputSize = 8192;

bool EqualsIgnoringAsciiCase(std::string_view left, std::string_view right) {
    if (left.size() != right.size()) {
        return false;
    }
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (lower(left[i]) != lower(right[i])) {
            return false;
        }
    }
    return true;
}

// The file of the folder whose name is the given one in any letter case.
std::optional<std::string> FindIgnoringCase(const std::string& folder, std::string_view name) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string found = entry.path().filename().string();
        if (EqualsIgnoringAsciiCase(found, name) && platform::FileExists(entry.path().string())) {
            return entry.path().string();
        }
    }
    return std::nullopt;
}

// Puts the new file in place of the old one in one step (the platform's rename refuses to
// replace, as the Windows one does).
bool ReplaceFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

FileOutcome Failure(std::string outputPath, int result, std::string text) {
    FileOutcome outcome;
    outcome.outputPath = std::move(outputPath);
    outcome.status = FileStatus::kFailed;
    outcome.result = result;
    outcome.outputText = std::move(text);
    return outcome;
}

void TellLibraryCall(const BatchHooks& hooks, const TArchiveFile& archive) {
    if (hooks.onLibraryCall) {
        hooks.onLibraryCall(archive);
    }
}

// Closes the progress display once, however the run ends.
class ProgressCloser {
  public:
    explicit ProgressCloser(ProgressView& progress) : progress_(progress) {}
    ~ProgressCloser() { Close(); }
    ProgressCloser(const ProgressCloser&) = delete;
    ProgressCloser& operator=(const ProgressCloser&) = delete;

    void Close() {
        if (!closed_) {
            closed_ = true;
            progress_.Close();
        }
    }

  private:
    ProgressView& progress_;
    bool closed_ = false;
};

}  // namespace

// The run's own folders, made when first needed and removed with everything left in them
// when the run ends: a private temporary folder for the self-extracting kind's archives,
// and a staging folder inside the output folder where every output is made before it
// takes its final name (a rename within one file system).
class TBatchRun::RunFolders {
  public:
    explicit RunFolders(std::string outputFolder) : outputFolder_(std::move(outputFolder)) {}

    const ScratchFolder& Temporary() {
        if (!temporary_) {
            temporary_.emplace(platform::GetTempPath(), "zembrat-");
        }
        return *temporary_;
    }
    const ScratchFolder& Staging() {
        if (!staging_) {
            staging_.emplace(outputFolder_, ".zembrat-");
        }
        return *staging_;
    }

  private:
    std::string outputFolder_;
    std::optional<ScratchFolder> temporary_;
    std::optional<ScratchFolder> staging_;
};

TBatchRun::TBatchRun(ProgressView& progress, UserNotifier& notifier)
    : progress_(progress), notifier_(notifier) {}

void TBatchRun::ArchiveInitialize(TArchiveFile& archive) const {
    archive.SetArchiverType(archives::atLha);
    auto& options = archive.Options();
    options.jso = 1;
    options.jse = 1;
    options.n = 1;
    options.y = 1;
    options.m = 2;
    options.gw = 2;
    archive.SetOutputSize(kOutputSize);
}

std::string TBatchRun::GetCompressFilename(std::string_view fileName, int kind, bool upperCase) {
    switch (kind) {
        case kArchiveName:
            return platform::ChangeFileExt(fileName, upperCase ? ".LZH" : ".lzh");
        case kSelfExtractingName:
            return platform::ChangeFileExt(fileName, upperCase ? ".EXE" : ".exe");
        default:
            return std::string(fileName);
    }
}

BatchResult TBatchRun::Run(const BatchSettings& settings) {
    settings_ = settings;
    auto archive = std::make_unique<TArchiveFile>();
    StringList fileList;
    ProgressCloser closer(progress_);
    BatchResult result;

    processing_.store(true);
    ArchiveInitialize(*archive);
    if (hooks_.adjustOptions) {
        hooks_.adjustOptions(archive->Options());
    }
    if (hooks_.prepareArchive) {
        hooks_.prepareArchive(*archive);
    }
    const std::string outputFolder = platform::IncludeTrailingDelimiter(settings_.outputFolder);
    const auto count = settings_.paths.size();
    progress_.ProgressInitialize(static_cast<int>(count));
    progress_.Show();
    {
        RunFolders folders(outputFolder);
        for (std::size_t i = 0; i < count; ++i) {
            fileList.clear();
            if (hooks_.pumpEvents) {
                hooks_.pumpEvents();
            }
            if (!processing_.load()) {
                continue;
            }
            const std::string& path = settings_.paths[i];
            FileOutcome outcome;
            if (settings_.action == BatchAction::kCompress) {
                fileList.push_back(path);
                const bool upper = settings_.upperCaseExtension;
                const std::string archiveName =
                    platform::ExtractFileName(GetCompressFilename(path, kArchiveName, upper));
                const std::string sfxName = platform::ExtractFileName(
                    GetCompressFilename(path, kSelfExtractingName, upper));
                if (settings_.kind == ArchiveKind::kLzh) {
                    outcome = lzhCompress(*archive, fileList, outputFolder + archiveName, folders);
                } else {
                    outcome = exeCompress(*archive, fileList, outputFolder + sfxName, archiveName,
                                          folders);
                }
            } else {
                outcome = Decompress(*archive, path, outputFolder);
            }
            outcome.index = i;
            outcome.path = path;
            if (outcome.status == FileStatus::kFailed) {
                result.failed.push_back(path);
            }
            progress_.SetLabel(kRemaining + std::to_string(count - i));
            ++result.processed;
            progress_.StepIt();
            if (hooks_.onFile) {
                hooks_.onFile(outcome);
            }
        }
    }
    closer.Close();
    notifier_.Beep();
    result.cancelled = !processing_.load();
    if (!result.cancelled && hooks_.onCompleted) {
        hooks_.onCompleted();
    }
    result.message = CompletionMessage(result.processed, result.cancelled, result.failed);
    notifier_.ShowMessage(result.message);
    return result;
}

// The archive is made in the staging folder and takes the output's name only when the
// library reported success, so an existing output (or a selected file that is the output
// itself) is replaced, never lost.
FileOutcome TBatchRun::lzhCompress(TArchiveFile& archive, const StringList& fileList,
                                   const std::string& outputArchivePath, RunFolders& folders) {
    FileOutcome outcome;
    outcome.outputPath = outputArchivePath;
    if (platform::FileExists(outputArchivePath) && !settings_.overwrite) {
        outcome.status = FileStatus::kSkippedExisting;
        return outcome;
    }
    const ScratchFolder& staging = folders.Staging();
    if (!staging.Valid()) {
        return Failure(outputArchivePath, ARC_ERROR_CANNOT_WRITE, kNoWorkFolder + staging.Error());
    }
    const std::string staged = staging.Path() + platform::ExtractFileName(outputArchivePath);
    archive.SetFileName(staged);
    const FileItem list{std::cref(fileList)};
    outcome.result = archive.Pack(settings_.window, nullptr, "", FileItems(&list, 1));
    outcome.outputText = archive.OutputText();
    TellLibraryCall(hooks_, archive);
    if (outcome.result == 0 && platform::FileExists(staged) &&
        ReplaceFile(staged, outputArchivePath)) {
        return outcome;
    }
    platform::DeleteFile(staged);
    outcome.status = FileStatus::kFailed;
    return outcome;
}

// The temporary archive goes into the run's private temporary folder; the self-extracting
// file is made in the staging folder and renamed to exactly the output's name (the library
// chooses the letter case of its extension itself).
FileOutcome TBatchRun::exeCompress(TArchiveFile& archive, const StringList& fileList,
                                   const std::string& outputSfxPath, const std::string& archiveName,
                                   RunFolders& folders) {
    FileOutcome outcome;
    outcome.outputPath = outputSfxPath;
    if (platform::FileExists(outputSfxPath) && !settings_.overwrite) {
        outcome.status = FileStatus::kSkippedExisting;
        return outcome;
    }
    const ScratchFolder& temporary = folders.Temporary();
    const ScratchFolder& staging = folders.Staging();
    for (const ScratchFolder* folder : {&temporary, &staging}) {
        if (!folder->Valid()) {
            return Failure(outputSfxPath, ARC_ERROR_CANNOT_WRITE, kNoWorkFolder + folder->Error());
        }
    }
    const std::string temporaryArchivePath = temporary.Path() + archiveName;
    // An archive left by an earlier file of the same name would be updated, not replaced.
    platform::DeleteFile(temporaryArchivePath);
    archive.SetFileName(temporaryArchivePath);
    const FileItem list{std::cref(fileList)};
    outcome.result = archive.Pack(settings_.window, nullptr, "", FileItems(&list, 1));
    outcome.outputText = archive.OutputText();
    TellLibraryCall(hooks_, archive);
    if (outcome.result != 0 || !platform::FileExists(temporaryArchivePath)) {
        platform::DeleteFile(temporaryArchivePath);
        outcome.status = FileStatus::kFailed;
        return outcome;
    }
    outcome.result = archive.MakeSfx(settings_.window, nullptr,
                                     platform::ExcludeTrailingDelimiter(staging.Path()));
    outcome.outputText = archive.OutputText();
    TellLibraryCall(hooks_, archive);
    platform::DeleteFile(temporaryArchivePath);
    const auto made = FindIgnoringCase(staging.Path(), platform::ExtractFileName(outputSfxPath));
    if (outcome.result == 0 && made && ReplaceFile(*made, outputSfxPath)) {
        return outcome;
    }
    if (made) {
        platform::DeleteFile(*made);
    }
    outcome.status = FileStatus::kFailed;
    return outcome;
}

FileOutcome TBatchRun::Decompress(TArchiveFile& archive, const std::string& path,
                                  const std::string& outputFolder) {
    FileOutcome outcome;
    outcome.outputPath = outputFolder;
    archive.SetFileName(path);
    const FileItem noMembers{archives::CStringArray{}};
    outcome.result =
        archive.Unpack(settings_.window, nullptr, outputFolder, FileItems(&noMembers, 1));
    outcome.outputText = archive.OutputText();
    TellLibraryCall(hooks_, archive);
    if (outcome.result != 0) {
        outcome.status = FileStatus::kFailed;
    }
    return outcome;
}

std::string CompletionMessage(int processed, bool cancelled,
                              const std::vector<std::string>& failed) {
    std::string message = cancelled ? kInterrupted + std::to_string(processed) + kProcessedSoFar
                                    : std::to_string(processed) + kProcessed;
    if (!failed.empty()) {
        message += "\n\n";
        message += kFailedFiles;
        for (const auto& path : failed) {
            message += "\n" + path;
        }
    }
    return message;
}

}  // namespace zembrat::batch
