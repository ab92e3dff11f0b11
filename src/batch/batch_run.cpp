#include "batch/batch_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <tuple>

#include "archiver_api.h"
#include "archives/archiver_errors.h"
#include "batch/batch_messages.h"
#include "batch/output_placement.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/system_folders.h"

namespace zembrat::batch {

using archives::FileItem;
using archives::FileItems;
using archives::StringList;
using archives::TArchiveFile;

namespace {

namespace fs = std::filesystem;

constexpr int kOutputSize = 8192;
constexpr std::string_view kExtractedLine = "extracted ";

// The kinds whose library reads no list file given in quotes: a name holding a double quote
// cannot reach them at all.
bool ReadsListFiles(std::string_view archiveExtension) {
    for (const std::string_view tarKind : {"tar", "tgz", "tar.gz", "tar.bz2", "tbz", "taz"}) {
        if (platform::EqualsIgnoringAsciiCase(archiveExtension, tarKind,
                                              platform::SystemCodePage())) {
            return false;
        }
    }
    return true;
}

// Why a selected path cannot be handed to a library at all; empty when it can. A double
// quote travels in a list file when packing and through a link of the archive when
// unpacking; a line break travels nowhere.
std::string PathProblem(const std::string& path, const BatchSettings& settings) {
    if (path.find_first_of("\r\n") != std::string::npos) {
        return text::kUnquotableName;
    }
    if (path.find('"') != std::string::npos && settings.action == BatchAction::kCompress &&
        !ReadsListFiles(settings.archiveExtension)) {
        return text::kQuoteWithoutListFile;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        return std::string();
    }
    switch (errno) {
        case ENOENT:
        case ENOTDIR:
            return text::kNotFound;
        case ENAMETOOLONG:
            return text::kPathTooLong;
        default:
            return text::kCannotExamine + std::string(std::strerror(errno));
    }
}

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// The lines of the library's text other than its "extracted" reports.
std::vector<std::string> NoteLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && !line.starts_with(kExtractedLine)) {
            lines.push_back(std::move(line));
        }
        start = end + 1;
    }
    return lines;
}

std::string FolderWithDelimiter(const std::string& path) {
    const std::string folder = fs::path(path).parent_path().string();
    return folder.empty() ? folder : platform::IncludeTrailingDelimiter(folder);
}

// An archive read from its copy in the staging folder: the library's words name the copy (or
// its folder), which is gone when the run ends, so the user is shown what was selected.
void NameSelectedFolder(FileOutcome& outcome, const std::string& copyFolder,
                        const std::string& selectedFolder) {
    const auto rename = [&](std::string& text) {
        for (std::size_t at = 0; (at = text.find(copyFolder, at)) != std::string::npos;
             at += selectedFolder.size()) {
            text.replace(at, copyFolder.size(), selectedFolder);
        }
    };
    rename(outcome.outputText);
    rename(outcome.reason);
    std::for_each(outcome.notes.begin(), outcome.notes.end(), rename);
}

// Why the library's operation counts as failed, in the run's own words; empty when the
// library's result and text say it.
std::string OwnReason(const FileOutcome& outcome, bool compress) {
    if (outcome.result == ARC_ERROR_ABORTED) {
        return text::kAborted;
    }
    if (compress && platform::DirectoryExists(outcome.path)) {
        return text::kIsFolder;
    }
    // A success code with nothing made (the library's text then only says what it did).
    if (outcome.result == 0) {
        return text::kNoOutput;
    }
    return std::string();
}

FileOutcome Failure(std::string outputPath, std::string reason, int result = 0,
                    std::string text = std::string()) {
    FileOutcome outcome;
    outcome.outputPath = std::move(outputPath);
    outcome.status = FileStatus::kFailed;
    outcome.result = result;
    outcome.outputText = std::move(text);
    outcome.reason = std::move(reason);
    return outcome;
}

void TellLibraryCall(const BatchHooks& hooks, const TArchiveFile& archive) {
    if (hooks.onLibraryCall) {
        hooks.onLibraryCall(archive);
    }
}

// Points the component's options at a list file for one file's operation and back.
class ListFileUse {
  public:
    explicit ListFileUse(archives::TArchiverOptions& options) : options_(options) {}
    ~ListFileUse() {
        if (used_) {
            options_.ResFileName = saved_;
        }
    }
    ListFileUse(const ListFileUse&) = delete;
    ListFileUse& operator=(const ListFileUse&) = delete;

    void Use(const std::string& path) {
        saved_ = options_.ResFileName;
        used_ = true;
        options_.ResFileName = path;
        options_.ResFileUsage.Include(archives::ruOnPack);
    }

  private:
    archives::TArchiverOptions& options_;
    std::string saved_;
    bool used_ = false;
};

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

// The folder a path names, resolved as far as it exists, with a trailing delimiter.
std::string ResolvedFolder(const std::string& folder) {
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(fs::path(folder), error);
    return platform::IncludeTrailingDelimiter(error ? folder : resolved.string());
}

}  // namespace

// What one run remembers across its files: its folders, the outputs it made, the files its
// archives wrote, and the inputs it keeps safe from its own outputs.
class TBatchRun::RunState {
  public:
    RunState(const BatchSettings& settings, const std::string& outputFolder)
        : folders(outputFolder), settings_(settings), inputs_(settings.paths.size()) {
        for (std::size_t i = 0; i < inputs_.size(); ++i) {
            inputs_[i].source = settings.paths[i];
            inputs_[i].id = IdOf(settings.paths[i]);
        }
        if (settings.action == BatchAction::kDecompress) {
            KeepArchivesInside(outputFolder);
            LinkQuotedArchives();
        }
    }

    RunFolders folders;
    std::set<std::string> madeOutputs;  // compress: every output this run gave its name

    // The file to read for input i: the selected path, or the run's own link to it.
    const std::string& Source(std::size_t index) const { return inputs_[index].source; }
    // Why input i could not be kept safe; empty when it was (or needed nothing).
    const std::string& KeepProblem(std::size_t index) const { return inputs_[index].problem; }

    // Compress: why input index may not make the output at path: an archive this run made
    // a moment ago, or a selected file not handled yet, is never replaced.
    std::optional<std::string> Refusal(const std::string& path, std::size_t index) const {
        if (madeOutputs.contains(path)) {
            return text::kSameRunCollision + path;
        }
        const auto id = IdOf(path);
        for (std::size_t j = index + 1; id && j < inputs_.size(); ++j) {
            if (inputs_[j].id == id) {
                return text::kLaterInput + path;
            }
        }
        return std::nullopt;
    }

    // Decompress: the library is about to write a file (from its progress report). Whether
    // it did is seen when the archive is done: a damaged archive may stop before the file
    // is placed, and then nothing was replaced.
    void NoteWritten(const std::string& destination) {
        begun_.try_emplace(destination, StampOf(destination));
    }
    void BeginFile(std::size_t index) {
        currentFile_ = index;
        notes_.clear();
        begun_.clear();
    }
    // Decompress: puts back every archive not handled yet that a member of archive index
    // replaced; the member gives way (it is still in its archive).
    void RestoreLaterArchives(std::size_t index) {
        for (std::size_t j = index + 1; j < inputs_.size(); ++j) {
            Input& input = inputs_[j];
            const std::string& path = settings_.paths[j];
            if (input.source == path || IdOf(path) == input.id) {
                continue;
            }
            const std::string restoring = folders.Staging().Path() + "restoring";
            std::error_code error;
            if (::link(input.source.c_str(), restoring.c_str()) != 0) {
                fs::copy_file(input.source, restoring, fs::copy_options::overwrite_existing, error);
            }
            if (!error && std::rename(restoring.c_str(), path.c_str()) == 0) {
                input.id = IdOf(path);
                notes_.push_back(text::kRestoredLater + path);
            } else {
                notes_.push_back(text::kCannotRestore + path);
            }
        }
    }
    // The notes of the file just handled, the files it replaced among them.
    std::vector<std::string> FinishFile() {
        for (const auto& [destination, before] : begun_) {
            const FileStamp after = StampOf(destination);
            if (!after || after == before) {
                continue;  // not written, or kept as it was
            }
            const auto earlier = writtenBy_.find(destination);
            if (earlier != writtenBy_.end() && earlier->second != currentFile_) {
                notes_.push_back(text::kReplacedEarlier + destination);
            }
            writtenBy_[destination] = currentFile_;
        }
        begun_.clear();
        return std::move(notes_);
    }

  private:
    using FileId = std::optional<std::pair<dev_t, ino_t>>;
    // A file as it stands: which file it is, its size and the time of its last change (the
    // status change time, which a restored modification time does not hide); nothing when
    // there is none.
    using FileStamp = std::optional<std::tuple<dev_t, ino_t, off_t, std::int64_t>>;
    struct Input {
        std::string source;
        FileId id;
        std::string problem;
    };

    static FileStamp StampOf(const std::string& path) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            return std::nullopt;
        }
        return std::tuple{info.st_dev, info.st_ino, info.st_size,
                          std::int64_t{info.st_ctim.tv_sec} * 1000000000 + info.st_ctim.tv_nsec};
    }

    static FileId IdOf(const std::string& path) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            return std::nullopt;
        }
        return std::pair{info.st_dev, info.st_ino};
    }

    // A member may carry the name of a selected archive inside the output folder: each such
    // archive gets a hard link (or, across file systems, a copy) in the staging folder, under
    // its own name so that the same driver is chosen for it, and is read from there. The
    // files beside it come along as hard links, in one staging folder for each folder of
    // archives: a library finds the other volumes of a set beside the one it is given.
    void KeepArchivesInside(const std::string& outputFolder) {
        const std::string output = ResolvedFolder(outputFolder);
        for (std::size_t i = 0; i < inputs_.size(); ++i) {
            const std::string& path = settings_.paths[i];
            if (platform::FileExists(path) &&
                ResolvedFolder(fs::path(path).parent_path().string()).starts_with(output)) {
                Keep(i);
            }
        }
    }

    void Keep(std::size_t index) {
        const ScratchFolder& staging = folders.Staging();
        if (!staging.Valid()) {
            inputs_[index].problem = text::kNoWorkFolder + staging.Error();
            return;
        }
        const fs::path path = settings_.paths[index];
        std::error_code error;
        auto [place, isNew] = keptFolders_.try_emplace(
            ResolvedFolder(path.parent_path().string()),
            staging.Path() + "input-" + std::to_string(keptFolders_.size()));
        const std::string& folder = place->second;
        if (isNew && fs::create_directory(folder, error)) {
            LinkFilesBeside(path.parent_path(), folder);
        }
        const std::string kept = folder + "/" + path.filename().string();
        if (!error && !platform::FileExists(kept) && ::link(path.c_str(), kept.c_str()) != 0) {
            fs::copy_file(path, kept, error);
        }
        if (error) {
            inputs_[index].problem = text::kCannotKeep + error.message();
            return;
        }
        inputs_[index].source = kept;
    }

    // No command line carries a double quote: an archive whose path holds one is read through
    // a link (or copy) of its own in the staging folder, named without it.
    void LinkQuotedArchives() {
        for (std::size_t i = 0; i < inputs_.size(); ++i) {
            Input& input = inputs_[i];
            if (input.source.find('"') == std::string::npos || !input.problem.empty() ||
                input.source.find_first_of("\r\n") != std::string::npos ||
                !platform::FileExists(input.source)) {
                continue;
            }
            const ScratchFolder& staging = folders.Staging();
            if (!staging.Valid()) {
                input.problem = text::kNoWorkFolder + staging.Error();
                continue;
            }
            const std::string folder = staging.Path() + "quoted-" + std::to_string(i);
            const std::string linked =
                folder + "/" + StagedName(fs::path(input.source).filename().string());
            std::error_code error;
            fs::create_directory(folder, error);
            if (!error && ::link(input.source.c_str(), linked.c_str()) != 0) {
                fs::copy_file(input.source, linked, error);
            }
            if (error) {
                input.problem = text::kCannotKeep + error.message();
                continue;
            }
            input.source = linked;
        }
    }

    // Hard links to the regular files of a folder; where one cannot be made, that file is
    // simply not there.
    static void LinkFilesBeside(const fs::path& from, const std::string& into) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(from, error)) {
            std::error_code ignored;
            if (entry.is_regular_file(ignored) && !entry.is_symlink(ignored)) {
                ::link(entry.path().c_str(),
                       (into + "/" + entry.path().filename().string()).c_str());
            }
        }
    }

    const BatchSettings& settings_;
    std::vector<Input> inputs_;
    std::map<std::string, std::size_t> writtenBy_;
    std::map<std::string, std::string> keptFolders_;  // a folder of archives: its staging copy
    std::size_t currentFile_ = 0;
    std::vector<std::string> notes_;
    std::map<std::string, FileStamp> begun_;  // the files the current archive began to write
};

void UserNotifier::ShowCompletion(const BatchResult& result) {
    ShowMessage(result.message);
}

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

std::string TBatchRun::GetCompressFilename(std::string_view fileName, int kind, bool upperCase,
                                           std::string_view archiveExtension) {
    std::string extension = ".";
    switch (kind) {
        case kArchiveName:
            extension += archiveExtension;
            break;
        case kSelfExtractingName:
            extension += "exe";
            break;
        default:
            return std::string(fileName);
    }
    if (upperCase) {
        for (char& c : extension) {
            c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        }
    }
    // The dot that starts a hidden file's name is part of the name: ".profile" becomes
    // ".profile.lzh", not a nameless ".lzh" that every such file would share.
    const std::string name = platform::ExtractFileName(fileName);
    if (name.size() > 1 && name.front() == '.' && name.find('.', 1) == std::string::npos) {
        return std::string(fileName) + extension;
    }
    return platform::ChangeFileExt(fileName, extension);
}

BatchResult TBatchRun::Run(const BatchSettings& settings) {
    settings_ = settings;
    const std::string outputFolder = platform::IncludeTrailingDelimiter(settings_.outputFolder);
    if (const std::string problem = OutputFolderProblem(outputFolder); !problem.empty()) {
        throw archives::EArchiver(problem);
    }
    auto archive = std::make_unique<TArchiveFile>();
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
    const auto count = settings_.paths.size();
    progress_.ProgressInitialize(static_cast<int>(count));
    progress_.Show();
    {
        RunState state(settings_, outputFolder);
        // The run hears which files the library writes; the front end's handler still gets
        // every report.
        archive->SetOnProgress(
            [&state, frontEnd = archive->OnProgress()](TArchiveFile& self, int progressState,
                                                       LPEXTRACTINGINFOEX record, bool& abort) {
                if (record != nullptr && progressState == ARC_PROGRESS_BEGIN &&
                    record->dest_file_name[0] != '\0') {
                    state.NoteWritten(std::string(record->dest_file_name,
                                                  ::strnlen(record->dest_file_name, ARC_NAME_MAX)));
                }
                if (frontEnd) {
                    frontEnd(self, progressState, record, abort);
                }
            });
        for (std::size_t i = 0; i < count; ++i) {
            if (hooks_.pumpEvents) {
                hooks_.pumpEvents();
            }
            if (!processing_.load()) {
                continue;
            }
            state.BeginFile(i);
            FileOutcome outcome = HandleFile(*archive, i, outputFolder, state);
            outcome.index = i;
            outcome.path = settings_.paths[i];
            if (outcome.status == FileStatus::kFailed) {
                FailedFile failed{outcome.path, outcome.reason, 0, std::string()};
                if (outcome.reason.empty()) {
                    outcome.reason = OwnReason(outcome, settings_.action == BatchAction::kCompress);
                    failed.reason = outcome.reason;
                }
                if (outcome.reason.empty()) {
                    outcome.reason = LibraryReason(outcome.result, outcome.outputText);
                    failed = {outcome.path, outcome.reason, outcome.result,
                              FirstLine(outcome.outputText)};
                }
                // The file the library dropped because the run was cancelled is counted as
                // the cancelled run counts it, not as a failure.
                if (outcome.result != ARC_ERROR_ABORTED || processing_.load()) {
                    result.failed.push_back(std::move(failed));
                }
            } else if (outcome.status == FileStatus::kSkippedLaterVolume) {
                result.skippedVolumes.push_back(outcome.path);
            }
            auto notes = state.FinishFile();
            outcome.notes.insert(outcome.notes.end(), notes.begin(), notes.end());
            progress_.SetLabel(text::kRemaining + std::to_string(count - i));
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
    result.message = CompletionMessage(result);
    notifier_.ShowCompletion(result);
    return result;
}

FileOutcome TBatchRun::HandleFile(TArchiveFile& archive, std::size_t index,
                                  const std::string& outputFolder, RunState& state) {
    const std::string& path = settings_.paths[index];
    const std::string& source = state.Source(index);
    for (const std::string& problem : {PathProblem(path, settings_), state.KeepProblem(index)}) {
        if (!problem.empty()) {
            return Failure(
                settings_.action == BatchAction::kCompress ? std::string() : outputFolder, problem);
        }
    }
    if (settings_.action == BatchAction::kDecompress) {
        FileOutcome outcome = Decompress(archive, source, outputFolder);
        state.RestoreLaterArchives(index);
        if (source != path) {
            NameSelectedFolder(outcome, source, path);
            NameSelectedFolder(outcome, FolderWithDelimiter(source), FolderWithDelimiter(path));
        }
        return outcome;
    }
    // A name holding a double quote reaches the library in a list file, where each name stands
    // alone on its line; the file lives in the run's private temporary folder.
    ListFileUse listFile(archive.Options());
    if (source.find('"') != std::string::npos) {
        const ScratchFolder& temporary = state.folders.Temporary();
        if (!temporary.Valid() || temporary.Path().find_first_of("\"\r\n") != std::string::npos) {
            return Failure(std::string(),
                           text::kCannotWriteList + temporary.Path() + temporary.Error());
        }
        listFile.Use(temporary.Path() + "names");
    }
    StringList fileList{source};
    const bool upper = settings_.upperCaseExtension;
    const std::string archiveName = platform::ExtractFileName(
        GetCompressFilename(path, kArchiveName, upper, settings_.archiveExtension));
    if (settings_.kind == ArchiveKind::kLzh) {
        return lzhCompress(archive, fileList, outputFolder + archiveName, index, state);
    }
    const std::string sfxName =
        platform::ExtractFileName(GetCompressFilename(path, kSelfExtractingName, upper));
    return exeCompress(archive, fileList, outputFolder + sfxName, archiveName, index, state);
}

// The archive is made in the staging folder and takes the output's name only when the
// library reported success, so an existing output (or a selected file that is the output
// itself) is replaced, never lost. Two files of one run that map to one archive name: the
// later fails rather than replace what the run made a moment ago.
FileOutcome TBatchRun::lzhCompress(TArchiveFile& archive, const StringList& fileList,
                                   const std::string& outputArchivePath, std::size_t index,
                                   RunState& state) {
    FileOutcome outcome;
    outcome.outputPath = outputArchivePath;
    if (const auto refusal = state.Refusal(outputArchivePath, index)) {
        return Failure(outputArchivePath, *refusal);
    }
    if (platform::FileExists(outputArchivePath) && !settings_.overwrite) {
        outcome.status = FileStatus::kSkippedExisting;
        return outcome;
    }
    const ScratchFolder& staging = state.folders.Staging();
    if (!staging.Valid()) {
        return Failure(outputArchivePath, text::kNoWorkFolder + staging.Error(),
                       ARC_ERROR_CANNOT_WRITE);
    }
    const std::string staged =
        staging.Path() + StagedName(platform::ExtractFileName(outputArchivePath));
    archive.SetFileName(staged);
    const FileItem list{std::cref(fileList)};
    outcome.result = archive.Pack(settings_.window, nullptr, "", FileItems(&list, 1));
    outcome.outputText = archive.OutputText();
    TellLibraryCall(hooks_, archive);
    if (outcome.result != 0 || !platform::FileExists(staged)) {
        platform::DeleteFile(staged);
        outcome.status = FileStatus::kFailed;
        return outcome;
    }
    return Place(staged, outcome, state);
}

// The temporary archive goes into the run's private temporary folder; the self-extracting
// file is made in the staging folder and renamed to exactly the output's name (the library
// chooses the letter case of its extension itself).
FileOutcome TBatchRun::exeCompress(TArchiveFile& archive, const StringList& fileList,
                                   const std::string& outputSfxPath, const std::string& archiveName,
                                   std::size_t index, RunState& state) {
    FileOutcome outcome;
    outcome.outputPath = outputSfxPath;
    if (const auto refusal = state.Refusal(outputSfxPath, index)) {
        return Failure(outputSfxPath, *refusal);
    }
    if (platform::FileExists(outputSfxPath) && !settings_.overwrite) {
        outcome.status = FileStatus::kSkippedExisting;
        return outcome;
    }
    const ScratchFolder& temporary = state.folders.Temporary();
    const ScratchFolder& staging = state.folders.Staging();
    for (const ScratchFolder* folder : {&temporary, &staging}) {
        if (!folder->Valid()) {
            return Failure(outputSfxPath, text::kNoWorkFolder + folder->Error(),
                           ARC_ERROR_CANNOT_WRITE);
        }
    }
    const std::string temporaryArchivePath = temporary.Path() + StagedName(archiveName);
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
    const auto made =
        FindIgnoringCase(staging.Path(), StagedName(platform::ExtractFileName(outputSfxPath)));
    if (outcome.result != 0 || !made) {
        if (made) {
            platform::DeleteFile(*made);
        }
        outcome.status = FileStatus::kFailed;
        return outcome;
    }
    return Place(*made, outcome, state);
}

FileOutcome TBatchRun::Place(const std::string& made, FileOutcome outcome, RunState& state) {
    std::string error;
    switch (PlaceOutput(made, outcome.outputPath, settings_.overwrite, error)) {
        case Placement::kPlaced:
            state.madeOutputs.insert(outcome.outputPath);
            return outcome;
        case Placement::kAppearedMeanwhile:
            platform::DeleteFile(made);
            outcome.status = FileStatus::kSkippedExisting;
            return outcome;
        case Placement::kFailed:
            break;
    }
    platform::DeleteFile(made);
    outcome.status = FileStatus::kFailed;
    outcome.reason = text::kCannotName + outcome.outputPath + ": " + error;
    return outcome;
}

// An archive of a kind no driver handles fails alone, named by the caller; a library that
// cannot be loaded still ends the run.
FileOutcome TBatchRun::Decompress(TArchiveFile& archive, const std::string& path,
                                  const std::string& outputFolder) {
    try {
        archive.SetFileName(path);
    } catch (const archives::ENoArchiverDLL&) {
        throw;
    } catch (const archives::EEntryNotFound&) {
        throw;
    } catch (const archives::EArchiver& error) {
        return Failure(outputFolder, error.what());
    }
    FileOutcome outcome;
    outcome.outputPath = outputFolder;
    const FileItem noMembers{archives::CStringArray{}};
    std::optional<archives::TArchiverOptions> options;
    if (hooks_.adjustUnpackOptions) {
        options = archive.Options();
        hooks_.adjustUnpackOptions(archive.ArchiverType(), *options);
    }
    outcome.result = archive.Unpack(settings_.window, options ? &*options : nullptr, outputFolder,
                                    FileItems(&noMembers, 1));
    outcome.outputText = archive.OutputText();
    TellLibraryCall(hooks_, archive);
    if (outcome.result == ARC_WARNING_SKIPPED) {
        // Existing files were kept as asked, or the whole archive was left to the first
        // volume of its set: the library names each file, or the first volume.
        outcome.notes = NoteLines(outcome.outputText);
        if (SkippedLaterVolume(path, outcome.result, outcome.outputText)) {
            outcome.status = FileStatus::kSkippedLaterVolume;
        }
    } else if (outcome.result != 0) {
        outcome.status = FileStatus::kFailed;
        // The reason is the library's first line; the other members it names follow it.
        outcome.notes = NoteLines(outcome.outputText);
        if (!outcome.notes.empty()) {
            outcome.notes.erase(outcome.notes.begin());
        }
    }
    return outcome;
}

std::optional<std::string> SkippedLaterVolume(std::string_view archive, int result,
                                              std::string_view text) {
    if (result != ARC_WARNING_SKIPPED) {
        return std::nullopt;
    }
    constexpr std::string_view kOfTheSet = " of the set that ";
    const std::string ownName = platform::ExtractFileName(archive) + ": ";
    for (const std::string& line : NoteLines(std::string(text))) {
        const std::size_t set = line.find(kOfTheSet);
        if (!line.starts_with(ownName) || set == std::string::npos) {
            continue;
        }
        const std::string_view rest = std::string_view(line).substr(set + kOfTheSet.size());
        for (const std::string_view action : {" extracts; skipped", " tests; skipped"}) {
            if (rest.size() > action.size() && rest.ends_with(action)) {
                return std::string(rest.substr(0, rest.size() - action.size()));
            }
        }
    }
    return std::nullopt;
}

}  // namespace zembrat::batch
