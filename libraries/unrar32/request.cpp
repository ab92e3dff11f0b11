#include "unrar32/request.h"

#include <fnmatch.h>

#include <algorithm>

#include "archiver_api.h"
#include "common/command_line.h"
#include "common/failure.h"

namespace zembrat::unrar32 {

namespace {

[[noreturn]] void Refuse(const std::string& reason) {
    throw common::Failure(ARC_ERROR_BAD_COMMAND, reason);
}

bool IsSwitch(const common::Token& token) {
    return !token.quoted && token.text.size() > 1 && token.text.front() == '-';
}

// The driver ends the folder with its own delimiter; '\' counts as well as '/'.
void MarkFolder(std::vector<common::Token>& operands) {
    if (operands.size() >= 2 && !operands[1].text.empty() && operands[1].text.back() == '\\') {
        operands[1].text.back() = '/';
    }
}

bool Matches(const std::string& pattern, const std::string& subject) {
    if (fnmatch(pattern.c_str(), subject.c_str(), FNM_NOESCAPE) == 0) {
        return true;
    }
    std::string folder = pattern;
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return subject.size() > folder.size() && subject.starts_with(folder) &&
           subject[folder.size()] == '/';
}

}  // namespace

Request ParseLine(std::string_view line, bool memory) {
    std::vector<common::Token> tokens = common::Tokenize(line);
    Request request;
    request.command = Command::kMemory;
    bool commandSeen = memory;
    std::size_t at = 0;
    for (; at < tokens.size() && IsSwitch(tokens[at]); ++at) {
        const std::string& text = tokens[at].text;
        const bool commandSwitch = text == "-x" || text == "-e" || text == "-t";
        if (commandSwitch && commandSeen) {
            Refuse(memory ? "the switch " + text + " has no place in an extraction to memory"
                          : "more than one command switch (" + text + ")");
        }
        if (text == "-x") {
            request.command = Command::kExtract;
        } else if (text == "-e") {
            request.command = Command::kExtractFlat;
        } else if (text == "-t") {
            request.command = Command::kTest;
        } else if (text == "-y") {
            request.overwrite = true;
        } else if (text == "-u") {
            request.onlyNotOlder = true;
        } else if (text == "-s") {
            request.wholePath = true;
        } else {
            Refuse("unknown switch " + text + " (known: -x, -e, -t, -u, -y, -s)");
        }
        commandSeen = commandSeen || commandSwitch;
    }
    if (!commandSeen) {
        Refuse("no command switch (-x, -e or -t)");
    }
    std::vector<common::Token> operands(tokens.begin() + static_cast<std::ptrdiff_t>(at),
                                        tokens.end());
    const bool takesFolder = request.command != Command::kMemory;
    if (takesFolder) {
        MarkFolder(operands);
    }
    common::Operands parsed = common::ParseOperands(operands, takesFolder);
    request.archive = std::move(parsed.archive);
    request.folder = std::move(parsed.folder);
    for (std::string& name : parsed.names) {
        std::replace(name.begin(), name.end(), '\\', '/');
        request.names.push_back(std::move(name));
    }
    if (request.command == Command::kMemory && request.names.size() != 1) {
        Refuse("an extraction to memory names exactly one member");
    }
    return request;
}

bool Selected(std::string_view memberName, const Request& request) {
    if (request.names.empty()) {
        return true;
    }
    const std::string whole(memberName);
    const std::string fileName = whole.substr(whole.find_last_of('/') + 1);
    return std::any_of(request.names.begin(), request.names.end(), [&](const std::string& name) {
        return Matches(name, whole) || (!request.wholePath && Matches(name, fileName));
    });
}

}  // namespace zembrat::unrar32
