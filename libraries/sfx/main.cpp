// zembrat-sfx: the program at the head of every self-extracting file. It extracts the
// archive that follows it in its own file.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archiver_api.h"
#include "common/sfx_trailer.h"
#include "unlha32/guarded.h"
#include "unlha32/operations.h"

namespace {

void Usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [-l | -t] [-f] [FOLDER]\n"
                 "  extracts the attached archive into FOLDER (default: the current folder)\n"
                 "  -l  list the members   -t  test the members   -f  overwrite existing files\n",
                 program);
}

std::string OwnPath() {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) {
        return {};
    }
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

}  // namespace

// The C++ runtime's own handler for an uncaught exception names it through the symbol
// demangler, a quarter of the program's size; this one names nothing and stops the same way.
// (Every failure the stub expects is caught and reported before this.)
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::fputs("zembrat-sfx: internal error\n", stderr);
    std::abort();
}
}  // namespace __gnu_cxx

int main(int argc, char** argv) {
    using namespace zembrat::unlha32;
    Request request;
    request.command = 'x';
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-l") {
            request.command = 'l';
        } else if (argument == "-t") {
            request.command = 't';
        } else if (argument == "-f") {
            request.options.overwrite = true;
        } else if (argument == "-h" || argument == "--help") {
            Usage(argv[0]);
            return 0;
        } else if (!argument.empty() && argument.front() == '-') {
            std::fprintf(stderr, "unknown option: %s\n", argument.c_str());
            Usage(argv[0]);
            return 2;
        } else if (request.folder.empty()) {
            request.folder = argument.back() == '/' ? argument : argument + "/";
        } else {
            Usage(argv[0]);
            return 2;
        }
    }
    request.archive = OwnPath();
    if (request.archive.empty() || !zembrat::common::FindSfxArchive(request.archive)) {
        std::fprintf(stderr, "%s: no archive is attached to this program\n", argv[0]);
        return 2;
    }
    Context context;
    context.overwriteSwitch = "-f";
    // Only the reading commands: the stub carries no encoder.
    const int code = Guarded(context, [&] {
        return request.command == 'l'   ? List(request, context, false)
               : request.command == 't' ? Test(request, context)
                                        : Extract(request, context, true);
    });
    std::fputs(context.output.Text().c_str(), code == ARC_OK ? stdout : stderr);
    return code == ARC_OK ? 0 : 1;
}
