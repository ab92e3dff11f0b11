#include "archiver_api.h"
#include "unlha32/guarded.h"
#include "unlha32/operations.h"

namespace zembrat::unlha32 {

int Execute(const Request& request, Context& context) {
    return Guarded(context, [&] {
        switch (request.command) {
            case 'a':
            case 'u':
            case 'f':
                return Pack(request, context);
            case 'd':
                return Delete(request, context);
            case 's':
                return MakeSelfExtracting(request, context);
            default:
                return RunReadingCommand<Request>(request, context, {Extract, List, Test});
        }
    });
}

int RunCommandLine(std::string_view commandLine, Context& context) {
    // A line that does not parse ends as a failed command does: its reason first.
    return Guarded(context, [&] { return Execute(ParseCommandLine(commandLine, true), context); });
}

}  // namespace zembrat::unlha32
