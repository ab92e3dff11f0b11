// zembrat-cli: the batch run of the window from a terminal, and the listing and test of
// archives through the same drivers.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "archive_listing.h"
#include "batch_command.h"
#include "cli_arguments.h"
#include "console.h"
#include "exit_status.h"
#include "interrupt.h"
#include "platform/system_folders.h"
#include "progress_bar.h"

namespace {

// What the command printed is its result: output that never arrived (a full disk, a closed
// pipe) turns a success into a failure.
int CheckedOutput(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fputs("zembrat-cli: 標準出力に書き込めませんでした\n", stderr);
        return status == zembrat::cli::kExitSuccess ? zembrat::cli::kExitFileFailed : status;
    }
    return status;
}

// The actions' script does the work (the file managers' menus run it too); it is beside the
// program in the build tree and in ../lib/zembrat/ once installed.
int InstallFileManagerActions() {
    const std::string folder = zembrat::platform::ProgramFolder();
    for (const std::string& script :
         {folder + "zembrat-file-action", folder + "../lib/zembrat/zembrat-file-action"}) {
        if (::access(script.c_str(), X_OK) == 0) {
            std::fflush(stdout);
            std::string option = "--install-nautilus";
            char* const scriptArguments[] = {const_cast<char*>(script.c_str()), option.data(),
                                             nullptr};
            ::execv(script.c_str(), scriptArguments);
            std::perror(("zembrat-cli: " + script).c_str());
            return zembrat::cli::kExitComponentError;
        }
    }
    std::fprintf(stderr,
                 "zembrat-cli: zembrat-file-action が見つかりません (%s, %s../lib/zembrat/)\n",
                 folder.c_str(), folder.c_str());
    return zembrat::cli::kExitComponentError;
}

int Run(int argc, char** argv) {
    using namespace zembrat::cli;
    std::setlocale(LC_ALL, "");

    const std::vector<std::string_view> words(argv + (argc > 0 ? 1 : 0), argv + argc);
    CliArguments arguments;
    try {
        arguments = ParseArguments(words);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "zembrat-cli: %s\n詳しくは zembrat-cli --help を見てください。\n",
                     error.what());
        return kExitUsage;
    }
    if (arguments.command == Command::kHelp) {
        std::fputs(UsageText().c_str(), stdout);
        return kExitSuccess;
    }
    if (arguments.command == Command::kVersion) {
        std::fputs(VersionText().c_str(), stdout);
        return kExitSuccess;
    }

    if (arguments.command == Command::kInstallFileManagerActions) {
        return InstallFileManagerActions();
    }

    InstallInterruptHandlers();
    ProgressBar bar(stderr, !arguments.quiet && IsTerminal(stderr));
    Console console(bar, arguments.quiet);
    switch (arguments.command) {
        case Command::kCompress:
        case Command::kDecompress:
            return RunBatchCommand(arguments, console);
        case Command::kList:
            return RunListCommand(arguments, console);
        case Command::kTest:
            return RunTestCommand(arguments, console);
        default:
            return kExitUsage;
    }
}

}  // namespace

int main(int argc, char** argv) {
    return CheckedOutput(Run(argc, argv));
}
