// Runs a shell command for a test: its exit status and everything it wrote.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <string>

namespace zembrat::testing {

struct ShellRun {
    int status;          // the exit status; -1 when it did not exit
    std::string output;  // standard output and standard error, interleaved
};

inline ShellRun Shell(const std::string& command) {
    std::unique_ptr<FILE, decltype(&pclose)> pipe(popen((command + " 2>&1").c_str(), "r"), &pclose);
    std::string output;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) {
        output.append(buffer, got);
    }
    const int status = pclose(pipe.release());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

}  // namespace zembrat::testing
