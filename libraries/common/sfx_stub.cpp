#include "common/sfx_stub.h"

#include "common/sfx_trailer.h"

#include <elf.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

namespace zembrat::common {

void PrintStubUsage(const char* program, const StubSyntax& syntax) {
    std::fprintf(stderr,
                 "usage: %s [-l | -t] [%s] [FOLDER]\n"
                 "  extracts the attached %s into FOLDER (default: the current folder)\n"
                 "  -l  list the members   -t  test the members   %s  overwrite existing files\n",
                 program, syntax.overwriteSwitch, syntax.archiveKind, syntax.overwriteSwitch);
}

std::optional<int> ParseStubArguments(int argc, char** argv, const StubSyntax& syntax,
                                      StubRequest& request) {
    const char* program = argv[0];
    for (const char* text : std::span(argv + 1, static_cast<std::size_t>(argc - 1))) {
        const std::string_view argument = text;
        if (argument == "-l" || argument == "-t") {
            request.mode = argument[1];
        } else if (argument == syntax.overwriteSwitch) {
            request.overwrite = true;
        } else if (argument == "-h" || argument == "--help") {
            PrintStubUsage(program, syntax);
            return 0;
        } else if (!argument.empty() && argument.front() == '-') {
            std::fprintf(stderr, "unknown option: %s\n", text);
            PrintStubUsage(program, syntax);
            return 2;
        } else if (argument.empty() || !request.folder.empty()) {
            // An empty name would make the folder "/", the root.
            PrintStubUsage(program, syntax);
            return 2;
        } else {
            request.folder = argument;
            if (argument.back() != '/') {
                request.folder += '/';
            }
        }
    }
    return std::nullopt;
}

std::string OwnExecutablePath() {
    std::array<char, 4096> buffer{};
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    return length > 0 ? std::string(buffer.data(), static_cast<std::size_t>(length))
                      : std::string();
}

std::optional<int> StartTrailerStub(int argc, char** argv, const StubSyntax& syntax,
                                    StubRequest& request) {
    if (const auto status = ParseStubArguments(argc, argv, syntax, request)) {
        return status;
    }
    request.archive = OwnExecutablePath();
    if (request.archive.empty() || !FindSfxArchive(request.archive)) {
        std::fprintf(stderr, "%s: no archive is attached to this program\n", argv[0]);
        return 2;
    }
    return std::nullopt;
}

}  // namespace zembrat::common
