#include "archiver_api.h"
#include "bga32/bga32.h"
#include "export/guarded.h"

namespace zembrat::bga32 {

int RunCommandLine(std::string_view commandLine, Context& context) {
    return exports::Guarded(
        context,
        [&] {
            const Request request = ParseCommandLine(commandLine);
            switch (request.command) {
                case 'a':
                    return Pack(request, context);
                case 'd':
                    return Delete(request, context);
                case 'x':
                    return Extract(request, context);
                case 'l':
                    return List(request, context);
                case 't':
                    return Test(request, context);
                default:
                    return MakeSelfExtracting(request, context);
            }
        },
        [](const std::exception&) { return std::optional<common::Failure>(); });
}

}  // namespace zembrat::bga32
