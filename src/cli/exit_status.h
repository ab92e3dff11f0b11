// The exit statuses of zembrat-cli, the same for every command.
#pragma once

namespace zembrat::cli {

enum ExitStatus : int {
    kExitSuccess = 0,         // every file succeeded (or was left alone as asked)
    kExitFileFailed = 1,      // the library reported a failure for at least one file
    kExitUsage = 2,           // the command line was wrong
    kExitComponentError = 3,  // an error of the archive component ended the run
};

// 128 + the signal number, as shells report a program ended by a signal (130 for Ctrl-C).
constexpr int ExitStatusForSignal(int signalNumber) {
    return 128 + signalNumber;
}

}  // namespace zembrat::cli
