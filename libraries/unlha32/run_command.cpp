#include "archiver_api.h"
#include "lha/archive.h"
#include "unlha32/archive_source.h"
#include "unlha32/operations.h"

#include <new>

namespace zembrat::unlha32 {

int Execute(const Request& request, Context& context) {
    try {
        switch (request.command) {
            case 'a':
            case 'u':
            case 'f':
                return Pack(request, context);
            case 'd':
                return Delete(request, context);
            case 'x':
                return Extract(request, context, true);
            case 'e':
                return Extract(request, context, false);
            case 'l':
                return List(request, context, false);
            case 'v':
                return List(request, context, true);
            case 't':
                return Test(request, context);
            case 's':
                return MakeSelfExtracting(request, context);
            default:
                throw Failure(ARC_ERROR_BAD_COMMAND, "unknown command");
        }
    } catch (const Failure& failure) {
        context.output.FirstLine(failure.what());
        return failure.Code();
    } catch (const lha::Aborted&) {
        context.output.FirstLine("stopped at the owner window's request");
        return ARC_ERROR_ABORTED;
    } catch (const lha::Error& error) {
        context.output.FirstLine(error.what());
        return ResultFor(error);
    } catch (const std::bad_alloc&) {
        context.output.FirstLine("out of memory");
        return ARC_ERROR_NO_MEMORY;
    } catch (const std::exception& error) {
        context.output.FirstLine(std::string("internal error: ") + error.what());
        return ARC_ERROR_INTERNAL;
    }
}

int RunCommandLine(std::string_view commandLine, Context& context) {
    Request request;
    try {
        request = ParseCommandLine(commandLine, true);
    } catch (const Failure& failure) {
        context.output.FirstLine(failure.what());
        return failure.Code();
    }
    return Execute(request, context);
}

}  // namespace zembrat::unlha32
