#include "common/lha_command_line.h"

#include <array>
#include <span>

#include "archiver_api.h"
#include "common/failure.h"
#include "common/safe_path.h"

namespace zembrat::common {

namespace {

// Every switch the LHA driver of the utility can write.
constexpr std::array kLhaSwitches = {
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

bool IsCommandLetter(const Token& token, std::string_view commands) {
    if (token.quoted || token.text.size() != 1) {
        return false;
    }
    return commands.find(static_cast<char>(token.text[0] | 0x20)) != std::string_view::npos;
}

}  // namespace

LhaCommandLine ParseLhaCommandLine(std::string_view line, std::string_view commands,
                                   bool commandExpected) {
    const auto tokens = Tokenize(line);
    LhaCommandLine parsed{0, SwitchSet(kLhaSwitches), {}};
    std::size_t i = 0;
    if (i < tokens.size() && IsCommandLetter(tokens[i], commands)) {
        parsed.command = commandExpected ? static_cast<char>(tokens[i].text[0] | 0x20) : 0;
        ++i;
    } else if (commandExpected) {
        throw Failure(ARC_ERROR_BAD_COMMAND,
                      tokens.empty()
                          ? std::string("no command given")
                          : "unknown command: " + EscapeControlCharacters(tokens[0].text));
    }
    // Switches stand before the archive name; every token after it is a name, so that a
    // file whose name starts with '-' can be given.
    for (; i < tokens.size() && !tokens[i].text.empty() && tokens[i].text.front() == '-'; ++i) {
        if (auto problem = parsed.switches.Parse(tokens[i].text)) {
            throw Failure(ARC_ERROR_BAD_COMMAND, *problem);
        }
    }
    const bool takesFolder = parsed.command != 'd' && parsed.command != 0;
    parsed.operands = ParseOperands(std::span(tokens).subspan(i), takesFolder);
    return parsed;
}

}  // namespace zembrat::common
