#include "unlha32/request.h"

#include <utility>

#include "archiver_api.h"
#include "common/lha_command_line.h"

namespace zembrat::unlha32 {

std::string MethodForLevel(std::int64_t level) {
    if (level <= 0) {
        return "-lh0-";
    }
    if (level <= 5) {
        return "-lh5-";
    }
    if (level == 6) {
        return "-lh6-";
    }
    return "-lh7-";
}

Request ParseCommandLine(std::string_view line, bool commandExpected) {
    common::LhaCommandLine parsed =
        common::ParseLhaCommandLine(line, "aufdxelvts", commandExpected);
    Request request;
    request.command = parsed.command;
    request.archive = std::move(parsed.operands.archive);
    request.folder = std::move(parsed.operands.folder);
    request.names = std::move(parsed.operands.names);
    const common::SwitchSet& switches = parsed.switches;

    Options& options = request.options;
    const std::int64_t method = switches.Number("jm", 7);
    options.method = MethodForLevel(method);
    options.encoderLevel = method >= 8 ? 1 : 0;
    const std::int64_t level = switches.Number("h", 2);
    if (level > 2) {
        throw Failure(ARC_ERROR_BAD_COMMAND, "header level " + std::to_string(level) +
                                                 " cannot be written (use -h0, -h1 or -h2)");
    }
    options.headerLevel = static_cast<int>(level);
    options.overwrite = switches.Number("m", 0) >= 1;
    options.recursive = switches.Number("r", 0) >= 1;
    const std::int64_t pathMode = switches.Number("x", 1);
    options.pathMode = pathMode <= 0   ? PathMode::kNameOnly
                       : pathMode == 1 ? PathMode::kRelative
                                       : PathMode::kFull;
    options.excludes = switches.Texts("jx");
    return request;
}

}  // namespace zembrat::unlha32
