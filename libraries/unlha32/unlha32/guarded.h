// Runs one command and turns what it throws into a result code, with the reason as the
// first line of the output.
#pragma once

#include <exception>
#include <optional>

#include "archiver_api.h"
#include "export/guarded.h"
#include "lha/archive.h"
#include "unlha32/archive_source.h"
#include "unlha32/operations.h"

namespace zembrat::unlha32 {

// The code and reason of an error of the LHA format layer.
inline std::optional<Failure> DescribeLhaError(const std::exception& error) {
    if (dynamic_cast<const lha::Aborted*>(&error) != nullptr) {
        return StoppedByOwner();
    }
    if (const auto* lhaError = dynamic_cast<const lha::Error*>(&error)) {
        return Failure(ResultFor(*lhaError), lhaError->what());
    }
    return std::nullopt;
}

template <typename Command>
int Guarded(Context& context, Command command) {
    return exports::Guarded(context, command, DescribeLhaError);
}

// The commands that read an archive, which the LHA and ARJ libraries take alike.
template <typename Request>
struct ReadingCommands {
    int (*extract)(const Request&, Context&, bool keepFolders);
    int (*list)(const Request&, Context&, bool verbose);
    int (*test)(const Request&, Context&);
};

// x and e extract with and without folders, l and v list (v with every column), t tests; any
// other command is an unknown one (Failure).
template <typename Request>
int RunReadingCommand(const Request& request, Context& context,
                      const ReadingCommands<Request>& commands) {
    switch (request.command) {
        case 'x':
            return commands.extract(request, context, true);
        case 'e':
            return commands.extract(request, context, false);
        case 'l':
            return commands.list(request, context, false);
        case 'v':
            return commands.list(request, context, true);
        case 't':
            return commands.test(request, context);
        default:
            throw Failure(ARC_ERROR_BAD_COMMAND, "unknown command");
    }
}

}  // namespace zembrat::unlha32
