#include "cli_test_support.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zembrat::testing {

namespace fs = std::filesystem;

namespace {

// Runs in the child after fork (the test programs are single-threaded).
[[noreturn]] void ExecChild(const std::vector<std::string>& arguments,
                            const std::vector<std::string>& environment) {
    ::setenv("LC_ALL", "C.UTF-8", 1);
    ::unsetenv("LD_LIBRARY_PATH");
    for (const std::string& entry : environment) {
        const auto equals = entry.find('=');
        ::setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

int DecodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

}  // namespace

namespace {

// Forks a child whose standard output goes to outFile and whose standard error goes to
// errFile, or to errDescriptor when that is given (a terminal).
pid_t Spawn(const std::vector<std::string>& arguments, const std::string& outFile,
            const std::string& errFile, int errDescriptor, const RunOptions& options) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (!options.workingFolder.empty() && ::chdir(options.workingFolder.c_str()) != 0) {
            ::_exit(126);
        }
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = errDescriptor >= 0
                            ? errDescriptor
                            : ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ExecChild(arguments, options.environment);
    }
    return child;
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& arguments, const RunOptions& options) {
    TempFolder capture;
    int terminal = -1;
    int terminalChild = -1;
    if (options.stderrOnTerminal) {
        winsize size{};
        size.ws_col = 100;
        size.ws_row = 30;
        if (::openpty(&terminal, &terminalChild, nullptr, nullptr, &size) != 0) {
            throw std::runtime_error("openpty failed");
        }
    }
    const pid_t child = Spawn(arguments, capture / "out", capture / "err", terminalChild, options);
    ProgramRun run;
    if (terminal >= 0) {
        ::close(terminalChild);
        char buffer[4096];
        ssize_t got = 0;
        // Read until EIO, which comes once the child has closed its side.
        while ((got = ::read(terminal, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
            run.err.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        }
        ::close(terminal);
    }
    run.status = WaitForExit(child);
    run.out = ReadFile(capture / "out");
    if (terminal < 0) {
        run.err = ReadFile(capture / "err");
    }
    return run;
}

pid_t StartProgram(const std::vector<std::string>& arguments, const std::string& outFile,
                   const std::string& errFile, const std::vector<std::string>& environment) {
    return Spawn(arguments, outFile, errFile, -1, WithEnvironment(environment));
}

int WaitForExit(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return DecodeStatus(status);
}

void WriteFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string SampleText(std::size_t size, unsigned seed) {
    static constexpr const char* kWords[] = {"archive ", "batch ", "member ", "zembrat ",
                                             "folder\n", "書庫 ",  "圧縮 "};
    std::string text;
    unsigned state = seed * 2654435761u + 1;
    while (text.size() < size) {
        state = state * 1103515245u + 12345u;
        text += kWords[(state >> 16) % std::size(kWords)];
    }
    text.resize(size);
    return text;
}

std::string SampleBinary(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint64_t state = 0x9E3779B97F4A7C15ull ^ seed;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>(state);
    }
    return bytes;
}

std::vector<std::string> FolderContents(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
        names.push_back(fs::relative(entry.path(), folder).string());
    }
    std::ranges::sort(names);
    return names;
}

}  // namespace zembrat::testing
