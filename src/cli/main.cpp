// zembrat-cli: the batch run of the window from a terminal, and the listing and test of
// archives through the same drivers.
#include <clocale>
#include <cstdio>
#include <string_view>
#include <vector>

#include "archive_listing.h"
#include "batch_command.h"
#include "cli_arguments.h"
#include "console.h"
#include "exit_status.h"
#include "interrupt.h"
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
