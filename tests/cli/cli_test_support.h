// Running zembrat-cli (or any program) as a child process: standard output and error kept
// apart, standard error on a pseudo-terminal when asked, the locale fixed to UTF-8.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "temp_folder.h"

namespace zembrat::testing {

struct ProgramRun {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;  // also what the terminal received, when stderr was one
};

struct RunOptions {
    bool stderrOnTerminal = false;
    std::string workingFolder;
    std::vector<std::string> environment;  // "NAME=value", added to the usual ones
};

inline RunOptions OnTerminal() {
    RunOptions options;
    options.stderrOnTerminal = true;
    return options;
}
inline RunOptions InFolder(std::string folder) {
    RunOptions options;
    options.workingFolder = std::move(folder);
    return options;
}
inline RunOptions WithEnvironment(std::vector<std::string> environment) {
    RunOptions options;
    options.environment = std::move(environment);
    return options;
}

ProgramRun RunProgram(const std::vector<std::string>& arguments, const RunOptions& options = {});

// Starts the program with its output going to the given files; the caller waits.
pid_t StartProgram(const std::vector<std::string>& arguments, const std::string& outFile,
                   const std::string& errFile, const std::vector<std::string>& environment = {});
int WaitForExit(pid_t child);

void WriteFile(const std::filesystem::path& path, const std::string& content);
std::string ReadFile(const std::filesystem::path& path);
// Text that compresses, then bytes that do not: size bytes from the seed.
std::string SampleText(std::size_t size, unsigned seed);
std::string SampleBinary(std::size_t size, unsigned seed);
// Every name inside the folder, recursively, relative to it and sorted.
std::vector<std::string> FolderContents(const std::filesystem::path& folder);

}  // namespace zembrat::testing
