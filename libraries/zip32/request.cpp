#include "zip32/request.h"

#include <fnmatch.h>

#include <algorithm>
#include <span>
#include <utility>

#include "archiver_api.h"
#include "common/command_line.h"
#include "common/safe_path.h"

namespace zembrat::zip32 {

namespace {

[[noreturn]] void BadCommand(const std::string& reason) {
    throw Failure(ARC_ERROR_BAD_COMMAND, reason);
}

std::string UnknownSwitch(char letter, std::string_view token) {
    return std::string("unknown switch -") + letter + " in " +
           common::EscapeControlCharacters(token);
}

// The archive, the folder (when the command takes one) and the names after the switches.
void ParseOperands(const std::vector<common::Token>& tokens, std::size_t i, bool takesFolder,
                   Request& request) {
    common::Operands operands = common::ParseOperands(std::span(tokens).subspan(i), takesFolder);
    request.archive = std::move(operands.archive);
    request.folder = std::move(operands.folder);
    request.names = std::move(operands.names);
}

// Switches stand before the archive; a quoted token or one without '-' is the archive.
template <typename OnSwitch>
std::size_t ParseSwitches(const std::vector<common::Token>& tokens, OnSwitch onSwitch) {
    std::size_t i = 0;
    for (; i < tokens.size(); ++i) {
        const std::string& text = tokens[i].text;
        if (tokens[i].quoted || text.size() < 2 || text.front() != '-') {
            break;
        }
        onSwitch(text);
    }
    return i;
}

void SetCommand(Request& request, Command command, bool& given, std::string_view token) {
    if (given && request.command != command) {
        BadCommand("two commands given: " + common::EscapeControlCharacters(token));
    }
    request.command = command;
    given = true;
}

}  // namespace

Request ParseUnzipLine(std::string_view line, bool memory) {
    const auto tokens = common::Tokenize(line);
    Request request;
    request.command = memory ? Command::kMemory : Command::kExtract;
    bool commandGiven = false;
    const std::size_t i = ParseSwitches(tokens, [&](const std::string& token) {
        if (token == "--i") {
            return;  // no interaction: this library never asks
        }
        if (token.starts_with("--")) {
            BadCommand("unknown switch " + common::EscapeControlCharacters(token));
        }
        for (const char letter : std::string_view(token).substr(1)) {
            switch (letter) {
                case 'x':
                case 'l':
                case 't':
                    // ExtractMem has no command: a command letter given anyway is ignored.
                    if (!memory) {
                        SetCommand(request,
                                   letter == 'x'   ? Command::kExtract
                                   : letter == 'l' ? Command::kList
                                                   : Command::kTest,
                                   commandGiven, token);
                    }
                    break;
                case 'o':
                    request.options.overwrite = true;
                    break;
                case 'j':
                    request.options.junkPaths = true;
                    break;
                case 'q':
                    request.options.quiet = true;
                    break;
                case 'v':
                    request.options.verbose = true;
                    break;
                default:
                    BadCommand(UnknownSwitch(letter, token));
            }
        }
    });
    ParseOperands(tokens, i, request.command == Command::kExtract, request);
    return request;
}

Request ParseZipLine(std::string_view line) {
    Request request;
    request.command = Command::kAdd;
    // "-A target": the rest of the line is the file, unquoted and possibly with blanks.
    std::string_view rest = line.substr(std::min(line.size(), line.find_first_not_of(" \t")));
    if (rest.starts_with("-A") && (rest.size() == 2 || rest[2] == ' ' || rest[2] == '\t')) {
        rest.remove_prefix(2);
        const auto first = rest.find_first_not_of(" \t");
        const auto last = rest.find_last_not_of(" \t\r\n");
        std::string target(first == std::string_view::npos ? std::string_view()
                                                           : rest.substr(first, last - first + 1));
        if (target.size() >= 2 && target.front() == '"' && target.back() == '"') {
            target = target.substr(1, target.size() - 2);
        }
        if (target.empty()) {
            BadCommand("-A needs the self-extracting file");
        }
        request.command = Command::kAdjust;
        request.archive = target;
        return request;
    }

    const auto tokens = common::Tokenize(line);
    bool commandGiven = false;
    Options& options = request.options;
    const std::size_t i = ParseSwitches(tokens, [&](const std::string& token) {
        const std::string_view letters = std::string_view(token).substr(1);
        for (std::size_t at = 0; at < letters.size(); ++at) {
            const char letter = letters[at];
            if (letter >= '0' && letter <= '9') {
                options.level = letter - '0';
                continue;
            }
            switch (letter) {
                case 'd':
                    SetCommand(request, Command::kDelete, commandGiven, token);
                    break;
                case 'f':
                    SetCommand(request, Command::kFreshen, commandGiven, token);
                    break;
                case 'u':
                    SetCommand(request, Command::kUpdate, commandGiven, token);
                    break;
                case 'S':
                    options.includeHidden = true;
                    break;
                case 'D':
                    options.noDirectories = true;
                    break;
                case 'v':
                    options.verbose = true;
                    break;
                case 'q':
                    options.quiet = true;
                    break;
                case 'r':
                    options.recurse = true;
                    break;
                case 'o':
                    options.newestTime = true;
                    break;
                case 'j':
                    options.junkPaths = true;
                    break;
                case 'k':
                    options.dosNames = true;
                    break;
                case 'J':
                    options.stripPrefix = true;
                    break;
                case 'F':
                    // -FF salvages; a single -F (trust the directory) is not offered.
                    if (at + 1 >= letters.size() || letters[at + 1] != 'F') {
                        BadCommand("unknown switch -F in " +
                                   common::EscapeControlCharacters(token) +
                                   " (-FF salvages a damaged archive)");
                    }
                    options.salvage = true;
                    ++at;
                    break;
                case 'A':
                    BadCommand("-A stands alone, followed by the self-extracting file");
                default:
                    BadCommand(UnknownSwitch(letter, token));
            }
        }
    });
    ParseOperands(tokens, i, request.command != Command::kDelete, request);
    if (request.names.empty()) {
        if (request.command == Command::kAdd && options.stripPrefix && !options.salvage) {
            request.command = Command::kStrip;
        } else if (!(request.command == Command::kAdd && options.salvage)) {
            throw Failure(ARC_ERROR_NO_FILES, "no files named");
        }
    }
    return request;
}

std::optional<std::string> LiteralOf(std::string_view pattern, bool wildcardsLiteral) {
    std::string literal;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if ((c == '*' || c == '?') && !wildcardsLiteral) {
            return std::nullopt;
        }
        if (c == '[') {
            // "[x]" with one character (not '!' or '^') is that character.
            if (i + 2 < pattern.size() && pattern[i + 2] == ']' && pattern[i + 1] != '!' &&
                pattern[i + 1] != '^') {
                literal += pattern[i + 1];
                i += 2;
                continue;
            }
            if (pattern.find(']', i + 1) != std::string_view::npos && !wildcardsLiteral) {
                return std::nullopt;
            }
        }
        literal += c;
    }
    return literal;
}

bool Selected(std::string_view name, const std::vector<std::string>& patterns) {
    if (patterns.empty()) {
        return true;
    }
    const std::string subject(name);
    return std::any_of(patterns.begin(), patterns.end(), [&](const std::string& pattern) {
        if (fnmatch(pattern.c_str(), subject.c_str(), FNM_NOESCAPE) == 0) {
            return true;
        }
        // A folder's name selects everything in it.
        const std::string folder = LiteralOf(pattern).value_or(std::string());
        return !folder.empty() && subject.size() > folder.size() && subject.starts_with(folder) &&
               (folder.back() == '/' || subject[folder.size()] == '/');
    });
}

}  // namespace zembrat::zip32
