#include "archiver_api.h"
#include "common/failure.h"
#include "common/lha_command_line.h"
#include "unarj32j/arj_library.h"

namespace zembrat::unarj32j {

Request ParseCommandLine(std::string_view line, bool commandExpected) {
    // The LHA library's letters are known, so that a command that would change the archive
    // is refused as such rather than read as an archive name.
    common::LhaCommandLine parsed =
        common::ParseLhaCommandLine(line, "aufdxelvts", commandExpected);
    if (std::string_view("aufds").find(parsed.command) != std::string_view::npos &&
        parsed.command != 0) {
        throw common::Failure(ARC_ERROR_BAD_COMMAND,
                              std::string("command ") + parsed.command +
                                  " is not supported: this library only reads ARJ archives");
    }
    Request request;
    request.command = parsed.command;
    request.archive = std::move(parsed.operands.archive);
    request.folder = std::move(parsed.operands.folder);
    request.names = std::move(parsed.operands.names);
    request.excludes = parsed.switches.Texts("jx");
    request.overwrite = parsed.switches.Number("m", 0) >= 1;
    return request;
}

}  // namespace zembrat::unarj32j
