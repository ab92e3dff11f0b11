#include "batch_command.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>

#include "batch/batch_run.h"
#include "display_text.h"
#include "exit_status.h"
#include "interrupt.h"

namespace zembrat::cli {

namespace {

namespace fs = std::filesystem;

// The window's lists hold full paths; so do the run's settings here, so that the library
// stores the same member names whichever front end started it.
std::string FullPath(const std::string& path) {
    std::string full = fs::absolute(fs::path(path)).lexically_normal().string();
    while (full.size() > 1 && full.back() == '/') {
        full.pop_back();  // a folder named "dir/" is archived as "dir.lzh"
    }
    return full;
}

// How many of a failed archive's other problems are shown without -v.
constexpr std::size_t kFailureNotesShown = 5;

// A library's note in this program's terms: the libraries name their own switch for
// replacing a kept file ("-o overwrites"), the user here has --overwrite.
std::string InTermsOfTheCommandLine(const std::string& note) {
    static const std::regex kKeptHint(R"(kept the existing file \(-\S+ overwrites\))");
    return std::regex_replace(note, kKeptHint, "kept the existing file (--overwrite replaces it)");
}

// The beep and the message box of the window have no place in a terminal: the run's final
// message is printed by the command once it knows how the run ended.
class SilentNotifier : public batch::UserNotifier {
  public:
    void Beep() override {}
    void ShowMessage(const std::string&) override {}
};

class BatchReporter {
  public:
    BatchReporter(const CliArguments& arguments, Console& console)
        : arguments_(arguments), console_(console) {}

    void LibraryCall(const archives::TArchiveFile& archive) {
        if (!arguments_.verbose || archive.CommandLine().empty()) {
            return;
        }
        // An operation that calls no library (the TAR driver's MakeSfx joins the stub and the
        // archive itself) leaves the last line and its text as they were: nothing to show.
        if (archive.CommandLine() == lastLine_ && archive.OutputText() == lastText_) {
            return;
        }
        lastLine_ = archive.CommandLine();
        lastText_ = archive.OutputText();
        // The line exactly as the library got it, alone on its line; then its text.
        console_.Out(archive.CommandLine() + "\n");
        const std::string output = archive.OutputText();
        if (!output.empty()) {
            console_.Out(EscapeControls(output.substr(0, output.find_last_not_of('\n') + 1), true));
        }
    }

    void File(const batch::FileOutcome& outcome) {
        lastLine_.clear();  // the next file's calls are its own
        lastText_.clear();
        const std::string& given = arguments_.files.at(outcome.index);
        const bool compress = arguments_.command == Command::kCompress;
        switch (outcome.status) {
            case batch::FileStatus::kDone:
                console_.Out((compress ? "作成しました: " : "展開しました: ") +
                             EscapeControls(compress ? outcome.outputPath : given));
                break;
            case batch::FileStatus::kSkippedExisting:
                console_.Out("同名のファイルがあるので飛ばしました (--overwrite で上書き): " +
                             EscapeControls(outcome.outputPath));
                break;
            case batch::FileStatus::kSkippedLaterVolume:
                console_.Out(kSkippedLaterVolume + EscapeControls(given));
                break;
            case batch::FileStatus::kFailed:
                console_.Error("処理できませんでした: " + EscapeControls(given) + " (" +
                               EscapeControls(outcome.reason) + ")");
                break;
        }
        // A failed archive's other problems: -v has shown the library's whole text already;
        // without it the first few, then how many more.
        const bool failed = outcome.status == batch::FileStatus::kFailed;
        const std::size_t shown = !failed ? outcome.notes.size()
                                  : arguments_.verbose
                                      ? 0
                                      : std::min(outcome.notes.size(), kFailureNotesShown);
        // Under a failure line they go where it went, to standard error.
        const auto say = [&](const std::string& line) {
            failed ? console_.Error(line) : console_.Out(line);
        };
        for (std::size_t i = 0; i < shown; ++i) {
            say("  " + EscapeControls(InTermsOfTheCommandLine(outcome.notes[i])));
        }
        if (failed && !arguments_.verbose && shown < outcome.notes.size()) {
            say("  ほか " + std::to_string(outcome.notes.size() - shown) + " 件 (-v ですべて表示)");
        }
    }

  private:
    const CliArguments& arguments_;
    Console& console_;
    std::string lastLine_;
    std::string lastText_;
};

}  // namespace

int RunBatchCommand(const CliArguments& arguments, Console& console) {
    batch::BatchSettings settings;
    settings.action = arguments.command == Command::kCompress ? batch::BatchAction::kCompress
                                                              : batch::BatchAction::kDecompress;
    settings.kind = arguments.selfExtracting ? batch::ArchiveKind::kExe : batch::ArchiveKind::kLzh;
    settings.overwrite = arguments.overwrite;
    settings.upperCaseExtension = arguments.upperCaseExtension;
    // The TAR driver names a self-extracting file by replacing the archive's last extension:
    // "x.tar.gz" would become "x.tar.EXE", so the archive in between is made as "x.tgz".
    settings.archiveExtension =
        arguments.selfExtracting && arguments.format == "tar.gz" ? "tgz" : arguments.format;
    for (const std::string& file : arguments.files) {
        settings.paths.push_back(FullPath(file));
    }
    settings.outputFolder = FullPath(arguments.outputFolder);
    // A folder no library can be given is refused by the run before anything is made; one
    // that cannot be made is named by the run as missing.
    if (settings.outputFolder.find_first_of("\"\r\n") == std::string::npos) {
        std::error_code ignored;
        fs::create_directories(settings.outputFolder, ignored);
    }

    ProgressBar& bar = console.Bar();
    SilentNotifier notifier;
    batch::TBatchRun batch(bar, notifier);
    BatchReporter reporter(arguments, console);

    batch::BatchHooks hooks;
    hooks.pumpEvents = [&batch] {
        if (InterruptSignal() != 0) {
            batch.Cancel();
        }
    };
    hooks.adjustOptions = [&arguments](archives::TArchiverOptions& options) {
        // The LHA method and the ZIP level both travel in jm (-jm5, -9).
        if (arguments.method) {
            options.jm = static_cast<std::int8_t>(*arguments.method);
        }
        if (arguments.level) {
            options.jm = static_cast<std::int8_t>(*arguments.level);
        }
        // The window always overwrites what it unpacks; in a terminal existing files are
        // kept unless --overwrite says otherwise (the library names each file it keeps).
        if (arguments.command == Command::kDecompress && !arguments.overwrite) {
            options.m = 0;
        }
    };
    // The ZIP, CAB and BGA lines replace existing files only with -o, and the RAR line
    // leaves out -u: all from option c. The TAR line replaces with -g, from option o. The LHA
    // and ARJ lines stay the window's.
    if (arguments.overwrite) {
        hooks.adjustUnpackOptions = [](archives::TArchiverType type,
                                       archives::TArchiverOptions& options) {
            for (const archives::TArchiverType replacing :
                 {archives::atZip, archives::atCab, archives::atBga, archives::atRar}) {
                if (type == replacing) {
                    options.c = 1;
                }
            }
            for (const archives::TArchiverType replacing :
                 {archives::atTar, archives::atTgz, archives::atBZ2}) {
                if (type == replacing) {
                    options.o = 1;
                }
            }
        };
    }
    hooks.prepareArchive = [&batch, &bar](archives::TArchiveFile& archive) {
        archive.SetOnProgress([&batch, &bar](archives::TArchiveFile&, int state,
                                             LPEXTRACTINGINFOEX record, bool& abort) {
            if (InterruptSignal() != 0) {
                abort = true;  // the library drops what it was writing and returns
                batch.Cancel();
                return;
            }
            bar.Report(state, record);
        });
    };
    hooks.onLibraryCall = [&reporter](const archives::TArchiveFile& archive) {
        reporter.LibraryCall(archive);
    };
    hooks.onFile = [&reporter](const batch::FileOutcome& outcome) { reporter.File(outcome); };
    batch.SetHooks(std::move(hooks));

    batch::BatchResult result;
    try {
        result = batch.Run(settings);
    } catch (const std::exception& error) {
        console.Error(error.what());
        return kExitComponentError;
    }
    if (result.cancelled) {
        console.Error(result.message);
        const int signalNumber = InterruptSignal();
        return signalNumber != 0 ? ExitStatusForSignal(signalNumber) : kExitFileFailed;
    }
    console.Out(result.message);
    return result.failed.empty() ? kExitSuccess : kExitFileFailed;
}

}  // namespace zembrat::cli
