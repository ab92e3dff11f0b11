// zembrat-bga-sfx: the program at the head of every GZA/BZA self-extracting file. It extracts
// the archive that follows it in its own file.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archiver_api.h"
#include "bga32/bga32.h"
#include "common/sfx_trailer.h"
#include "export/guarded.h"

namespace {

void Usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [-l | -t] [-o] [FOLDER]\n"
                 "  extracts the attached archive into FOLDER (default: the current folder)\n"
                 "  -l  list the members   -t  test the members   -o  overwrite existing files\n",
                 program);
}

std::string OwnPath() {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    return length <= 0 ? std::string()
                       : std::string(buffer.data(), static_cast<std::size_t>(length));
}

}  // namespace

// The C++ runtime's own handler for an uncaught exception names it through the symbol
// demangler, a large part of the program; this one names nothing and stops the same way.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::fputs("zembrat-bga-sfx: internal error\n", stderr);
    std::abort();
}
}  // namespace __gnu_cxx

int main(int argc, char** argv) {
    using namespace zembrat::bga32;
    Request request;
    request.command = 'x';
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-l" || argument == "-t") {
            request.command = argument[1];
        } else if (argument == "-o") {
            request.overwrite = true;
        } else if (argument == "-h" || argument == "--help") {
            Usage(argv[0]);
            return 0;
        } else if (argument.empty() || argument.front() == '-' || !request.folder.empty()) {
            Usage(argv[0]);
            return 2;
        } else {
            request.folder = argument.back() == '/' ? argument : argument + "/";
        }
    }
    request.archive = OwnPath();
    if (request.archive.empty() || !zembrat::common::FindSfxArchive(request.archive)) {
        std::fprintf(stderr, "%s: no archive is attached to this program\n", argv[0]);
        return 2;
    }
    Context context;
    context.overwriteSwitch = "-o";
    const int code = zembrat::exports::Guarded(
        context,
        [&] {
            return request.command == 'l'   ? List(request, context)
                   : request.command == 't' ? Test(request, context)
                                            : Extract(request, context);
        },
        [](const std::exception&) { return std::optional<zembrat::common::Failure>(); });
    std::fputs(context.output.Text().c_str(), code == ARC_OK ? stdout : stderr);
    return code == ARC_OK ? 0 : 1;
}
