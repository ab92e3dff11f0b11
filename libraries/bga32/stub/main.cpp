// zembrat-bga-sfx: the program at the head of every GZA/BZA self-extracting file. It extracts
// the archive that follows it in its own file.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "archiver_api.h"
#include "bga32/bga32.h"
#include "common/sfx_stub.h"
#include "export/guarded.h"

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
    // -f replaces existing files, as in every stub of ours; -o, which older programs of
    // this kind took, still does.
    std::vector<char*> arguments(argv, argv + argc);
    static char replace[] = "-f";
    for (char*& argument : arguments) {
        if (std::string_view(argument) == "-o") {
            argument = replace;
        }
    }
    zembrat::common::StubRequest stub;
    if (const auto status =
            zembrat::common::StartTrailerStub(argc, arguments.data(), {"-f", "archive"}, stub)) {
        return *status;
    }
    Request request;
    request.command = stub.mode;
    request.overwrite = stub.overwrite;
    request.folder = stub.folder;
    request.archive = stub.archive;
    Context context;
    context.overwriteSwitch = "-f";
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
