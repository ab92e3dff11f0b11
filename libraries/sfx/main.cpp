// zembrat-sfx: the program at the head of every self-extracting file. It extracts the
// archive that follows it in its own file.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "archiver_api.h"
#include "common/sfx_stub.h"
#include "unlha32/guarded.h"
#include "unlha32/operations.h"

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
    zembrat::common::StubRequest stub;
    if (const auto status =
            zembrat::common::StartTrailerStub(argc, argv, {"-f", "archive"}, stub)) {
        return *status;
    }
    Request request;
    request.command = stub.mode;
    request.options.overwrite = stub.overwrite;
    request.folder = stub.folder;
    request.archive = stub.archive;
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
