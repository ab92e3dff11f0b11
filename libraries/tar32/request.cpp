#include "tar32/request.h"

#include <fnmatch.h>

#include <algorithm>
#include <charconv>
#include <optional>

#include "archiver_api.h"
#include "common/command_line.h"

namespace zembrat::tar32 {

namespace {

[[noreturn]] void Refuse(const std::string& reason) {
    throw Failure(ARC_ERROR_BAD_COMMAND, reason);
}

// The decimal value after a switch's name: nothing when there is no text, an error when the
// text is not a number.
std::optional<int> NumberAfter(std::string_view token, std::size_t nameLength) {
    const std::string_view digits = token.substr(nameLength);
    if (digits.empty()) {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || value < 0) {
        Refuse("bad number in the switch " + std::string(token));
    }
    return value;
}

int Level(std::string_view token) {
    const int level = NumberAfter(token, 2).value_or(-1);
    if (level > 9) {
        Refuse("compression level out of range 0-9 in " + std::string(token));
    }
    return level;
}

Command CommandOf(std::string_view word) {
    if (word == "x") {
        return Command::kExtract;
    }
    if (word == "l") {
        return Command::kList;
    }
    if (word == "t") {
        return Command::kTest;
    }
    if (word == "c") {
        return Command::kCreate;
    }
    Refuse("unknown command " + std::string(word) + " (x, l, t or c)");
}

}  // namespace

Request ParseLine(std::string_view line, bool memory) {
    const std::vector<common::Token> tokens = common::Tokenize(line);
    Request request;
    std::size_t at = 0;
    if (memory) {
        request.command = Command::kMemory;
    } else {
        if (tokens.empty() || (tokens[0].text.starts_with('-') && !tokens[0].quoted)) {
            Refuse("no command (x, l, t or c)");
        }
        request.command = CommandOf(tokens[0].text);
        at = 1;
    }
    auto valueOf = [&](std::string_view name) {
        if (++at >= tokens.size()) {
            Refuse("the switch " + std::string(name) + " needs a value");
        }
        return tokens[at].text;
    };
    for (; at < tokens.size(); ++at) {
        const common::Token& token = tokens[at];
        const std::string_view text = token.text;
        if (token.quoted || !text.starts_with('-') || text == "-") {
            if (text.size() > 1 && text.front() == '@' && !token.quoted) {
                auto listed = common::ReadListFile(std::string(text.substr(1)));
                if (!listed) {
                    throw Failure(ARC_ERROR_CANNOT_READ,
                                  "cannot read the list file " + std::string(text.substr(1)));
                }
                request.names.insert(request.names.end(), listed->begin(), listed->end());
            } else if (!text.empty()) {
                request.names.emplace_back(text);
            }
            continue;
        }
        if (text == "-AH") {
            request.keepAttributes = true;
        } else if (text == "-I") {
            request.keepAttributes = false;
        } else if (text == "-g") {
            request.overwrite = true;
        } else if (text.starts_with("--display-dialog=")) {
            request.showDialog = NumberAfter(text, 17).value_or(1) != 0;
        } else if (text.starts_with("--check-all-path=")) {
            request.wholePath = NumberAfter(text, 17).value_or(1) != 0;
        } else if (text.starts_with("--use-directory=")) {
            request.useFolders = NumberAfter(text, 16).value_or(1) != 0;
        } else if (text.starts_with("-z")) {
            request.compression = Compression::kGzip;
            request.level = Level(text);
        } else if (text.starts_with("-B")) {
            request.compression = Compression::kBzip2;
            request.level = Level(text);
        } else if (text == "-f") {
            request.archive = valueOf(text);
        } else if (text == "-o") {
            request.folder = valueOf(text);
        } else {
            Refuse("unknown switch " + std::string(text));
        }
    }
    if (request.archive.empty()) {
        Refuse("no archive named (-f)");
    }
    return request;
}

bool Selected(std::string_view memberName, const Request& request) {
    if (request.names.empty()) {
        return true;
    }
    std::string subject(memberName);
    if (!request.wholePath) {
        subject = subject.substr(subject.find_last_of('/') + 1);
    }
    return std::any_of(request.names.begin(), request.names.end(), [&](const std::string& name) {
        if (fnmatch(name.c_str(), subject.c_str(), FNM_NOESCAPE) == 0) {
            return true;
        }
        // A folder's name selects everything in it.
        std::string folder = name;
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
        return subject.size() > folder.size() && subject.starts_with(folder) &&
               subject[folder.size()] == '/';
    });
}

}  // namespace zembrat::tar32
