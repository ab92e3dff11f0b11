#include "unlha32/request.h"

#include <array>
#include <span>
#include <utility>

#include "archiver_api.h"
#include "common/command_line.h"
#include "common/safe_path.h"
#include "common/switches.h"

namespace zembrat::unlha32 {

namespace {

using common::SwitchKind;
using common::SwitchSpec;

// Every switch the LHA driver of the utility can write.
constexpr std::array kSwitches = {
    SwitchSpec{"+", SwitchKind::kFlag},     SwitchSpec{"a", SwitchKind::kNumber},
    SwitchSpec{"c", SwitchKind::kNumber},   SwitchSpec{"e", SwitchKind::kNumber},
    SwitchSpec{"f", SwitchKind::kNumber},   SwitchSpec{"h", SwitchKind::kNumber},
    SwitchSpec{"i", SwitchKind::kNumber},   SwitchSpec{"l", SwitchKind::kNumber},
    SwitchSpec{"m", SwitchKind::kNumber},   SwitchSpec{"n", SwitchKind::kNumber},
    SwitchSpec{"o", SwitchKind::kNumber},   SwitchSpec{"p", SwitchKind::kNumber},
    SwitchSpec{"r", SwitchKind::kNumber},   SwitchSpec{"s", SwitchKind::kNumber},
    SwitchSpec{"t", SwitchKind::kNumber},   SwitchSpec{"u", SwitchKind::kNumber},
    SwitchSpec{"w", SwitchKind::kText},     SwitchSpec{"x", SwitchKind::kNumber},
    SwitchSpec{"y", SwitchKind::kNumber},   SwitchSpec{"z", SwitchKind::kNumber},
    SwitchSpec{"jc", SwitchKind::kNumber},  SwitchSpec{"jd", SwitchKind::kNumber},
    SwitchSpec{"je", SwitchKind::kNumber},  SwitchSpec{"jf", SwitchKind::kNumber},
    SwitchSpec{"jh", SwitchKind::kNumber},  SwitchSpec{"ji", SwitchKind::kNumber},
    SwitchSpec{"jm", SwitchKind::kNumber},  SwitchSpec{"jn", SwitchKind::kNumber},
    SwitchSpec{"jo", SwitchKind::kText},    SwitchSpec{"job", SwitchKind::kText},
    SwitchSpec{"jp", SwitchKind::kNumber},  SwitchSpec{"jr", SwitchKind::kNumber},
    SwitchSpec{"jsb", SwitchKind::kNumber}, SwitchSpec{"jsc", SwitchKind::kNumber},
    SwitchSpec{"jsd", SwitchKind::kNumber}, SwitchSpec{"jse", SwitchKind::kNumber},
    SwitchSpec{"jsf", SwitchKind::kNumber}, SwitchSpec{"jsl", SwitchKind::kNumber},
    SwitchSpec{"jso", SwitchKind::kNumber}, SwitchSpec{"jss", SwitchKind::kNumber},
    SwitchSpec{"jst", SwitchKind::kNumber}, SwitchSpec{"jsv", SwitchKind::kNumber},
    SwitchSpec{"jsz", SwitchKind::kNumber}, SwitchSpec{"jw", SwitchKind::kNumber},
    SwitchSpec{"jx", SwitchKind::kText},    SwitchSpec{"jyc", SwitchKind::kNumber},
    SwitchSpec{"jyd", SwitchKind::kNumber}, SwitchSpec{"jyk", SwitchKind::kNumber},
    SwitchSpec{"jyn", SwitchKind::kNumber}, SwitchSpec{"jyo", SwitchKind::kNumber},
    SwitchSpec{"jz", SwitchKind::kText},    SwitchSpec{"ga", SwitchKind::kNumber},
    SwitchSpec{"gd", SwitchKind::kNumber},  SwitchSpec{"ge", SwitchKind::kNumber},
    SwitchSpec{"gf", SwitchKind::kNumber},  SwitchSpec{"gj", SwitchKind::kNumber},
    SwitchSpec{"gm", SwitchKind::kNumber},  SwitchSpec{"gn", SwitchKind::kNumber},
    SwitchSpec{"go", SwitchKind::kNumber},  SwitchSpec{"gp", SwitchKind::kNumber},
    SwitchSpec{"gr", SwitchKind::kText},    SwitchSpec{"gs", SwitchKind::kNumber},
    SwitchSpec{"gu", SwitchKind::kNumber},  SwitchSpec{"gw", SwitchKind::kNumber},
};

bool IsCommandLetter(std::string_view token) {
    if (token.size() != 1) {
        return false;
    }
    const char c = static_cast<char>(token[0] | 0x20);
    return std::string_view("aufdxelvts").find(c) != std::string_view::npos;
}

}  // namespace

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
    const auto tokens = common::Tokenize(line);
    Request request;
    std::size_t i = 0;
    if (i < tokens.size() && !tokens[i].quoted && IsCommandLetter(tokens[i].text)) {
        request.command = commandExpected ? static_cast<char>(tokens[i].text[0] | 0x20) : 0;
        ++i;
    } else if (commandExpected) {
        throw Failure(ARC_ERROR_BAD_COMMAND,
                      tokens.empty()
                          ? std::string("no command given")
                          : "unknown command: " + common::EscapeControlCharacters(tokens[0].text));
    }

    // Switches stand before the archive name; every token after it is a name, so that a
    // file whose name starts with '-' can be given.
    common::SwitchSet switches(kSwitches);
    for (; i < tokens.size(); ++i) {
        const std::string& text = tokens[i].text;
        if (text.size() >= 1 && text.front() == '-') {
            if (auto problem = switches.Parse(text)) {
                throw Failure(ARC_ERROR_BAD_COMMAND, *problem);
            }
            continue;
        }
        break;
    }
    // d and ExtractMem take no folder: there a name ending in '/' is a member name.
    const bool takesFolder = request.command != 'd' && request.command != 0;
    common::Operands operands = common::ParseOperands(std::span(tokens).subspan(i), takesFolder);
    request.archive = std::move(operands.archive);
    request.folder = std::move(operands.folder);
    request.names = std::move(operands.names);

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
