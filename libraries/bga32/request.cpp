// The command line: a command letter, switches, the archive, a folder ending in '/', names or
// "@listfile".
#include <fnmatch.h>

#include <array>
#include <span>

#include "archiver_api.h"
#include "bga32/bga32.h"
#include "common/command_line.h"
#include "common/name_encoding.h"
#include "common/safe_path.h"
#include "common/switches.h"

namespace zembrat::bga32 {

namespace {

using common::SwitchKind;
using common::SwitchSpec;

// Every switch the BGA driver writes; -i is accepted without effect (the library never shows a
// window of its own).
constexpr std::array kSwitches = {
    SwitchSpec{"a", SwitchKind::kNumber}, SwitchSpec{"o", SwitchKind::kFlag},
    SwitchSpec{"n", SwitchKind::kFlag},   SwitchSpec{"i", SwitchKind::kFlag},
    SwitchSpec{"r", SwitchKind::kNumber}, SwitchSpec{"j", SwitchKind::kNumber},
    SwitchSpec{"l", SwitchKind::kNumber},
};

constexpr std::string_view kCommands = "axdslt";

}  // namespace

Request ParseCommandLine(std::string_view line) {
    const auto tokens = common::Tokenize(line);
    Request request;
    if (tokens.empty() || tokens[0].quoted || tokens[0].text.size() != 1 ||
        kCommands.find(static_cast<char>(tokens[0].text[0] | 0x20)) == std::string_view::npos) {
        throw Failure(ARC_ERROR_BAD_COMMAND,
                      tokens.empty()
                          ? std::string("no command given (a, x, d, s, l or t)")
                          : "unknown command: " + common::EscapeControlCharacters(tokens[0].text));
    }
    request.command = static_cast<char>(tokens[0].text[0] | 0x20);
    std::size_t i = 1;
    // Switches stand before the archive; every token after it is a name.
    common::SwitchSet switches(kSwitches);
    bool overwrite = false;
    for (; i < tokens.size() && !tokens[i].quoted && tokens[i].text.starts_with('-'); ++i) {
        if (auto problem = switches.Parse(tokens[i].text)) {
            throw Failure(ARC_ERROR_BAD_COMMAND, *problem);
        }
        // -o and -n undo each other: the last one given counts.
        if (tokens[i].text == "-o" || tokens[i].text == "-n") {
            overwrite = tokens[i].text == "-o";
        }
    }
    const bool takesFolder =
        request.command != 'd' && request.command != 'l' && request.command != 't';
    common::Operands operands = common::ParseOperands(std::span(tokens).subspan(i), takesFolder);
    request.archive = std::move(operands.archive);
    request.folder = std::move(operands.folder);
    request.names = std::move(operands.names);
    request.hidden = switches.Number("a", 0) >= 1;
    request.overwrite = overwrite;
    request.recursive = switches.Number("r", 0) >= 1;
    request.nameOnly = switches.Number("j", 0) >= 1;
    const std::int64_t level = switches.Number("l", 6);
    if (level > 9) {
        throw Failure(ARC_ERROR_BAD_COMMAND,
                      "compression level " + std::to_string(level) + " out of range (-l0 .. -l9)");
    }
    request.level = static_cast<int>(level);
    return request;
}

std::string HostName(const bga::MemberHeader& header) {
    // Names we write are CP932 where every character converts and UTF-8 otherwise; CP932
    // bytes that would also read as UTF-8 are never written (see EncodeStoredName).
    std::string name = common::DecodeStoredName(header.name, false, 'U');
    // After decoding, a '\\' is a delimiter and no longer a CP932 trail byte.
    for (char& c : name) {
        if (c == '\\') {
            c = '/';
        }
    }
    return name;
}

bool Selected(std::string_view hostName, const std::vector<std::string>& names) {
    if (names.empty()) {
        return true;
    }
    std::string subject(hostName);
    while (subject.size() > 1 && subject.back() == '/') {
        subject.pop_back();
    }
    for (std::string name : names) {
        while (name.size() > 1 && name.back() == '/') {
            name.pop_back();
        }
        if (fnmatch(name.c_str(), subject.c_str(), FNM_NOESCAPE) == 0 ||
            (subject.size() > name.size() && subject.starts_with(name) &&
             subject[name.size()] == '/')) {
            return true;
        }
    }
    return false;
}

}  // namespace zembrat::bga32
