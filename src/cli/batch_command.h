// compress and decompress: the batch run of the window, driven from the command line.
#pragma once

#include "cli_arguments.h"
#include "console.h"

namespace zembrat::cli {

// Runs the batch and answers the exit status: 0, 1 when a file failed, 3 when a component
// error ended the run, 128 + the signal when interrupted.
int RunBatchCommand(const CliArguments& arguments, Console& console);

}  // namespace zembrat::cli
