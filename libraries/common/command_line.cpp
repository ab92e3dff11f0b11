#include "common/command_line.h"

#include <fstream>
#include <iterator>

#include "archiver_api.h"
#include "common/failure.h"
#include "common/safe_path.h"

namespace zembrat::common {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::vector<Token> Tokenize(std::string_view commandLine) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < commandLine.size()) {
        while (i < commandLine.size() && IsBlank(commandLine[i])) {
            ++i;
        }
        if (i >= commandLine.size()) {
            break;
        }
        Token token;
        bool inQuotes = false;
        for (; i < commandLine.size(); ++i) {
            const char c = commandLine[i];
            if (c == '"') {
                inQuotes = !inQuotes;
                token.quoted = true;
            } else if (!inQuotes && IsBlank(c)) {
                break;
            } else {
                token.text += c;
            }
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

std::vector<std::string> ParseListFile(std::string_view text) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        // A quoted line is taken between its first and last quote, so a name may hold quotes
        // of its own; blanks inside the quotes are the name's.
        if (line.size() >= 2 && line.front() == '"') {
            const std::size_t close = line.back() == '"' ? line.size() - 1 : line.find('"', 1);
            line = line.substr(1, (close == std::string_view::npos ? line.size() : close) - 1);
            if (!line.empty()) {
                names.emplace_back(line);
            }
        } else {
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
                line.remove_prefix(1);
            }
            while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
                line.remove_suffix(1);
            }
            if (!line.empty() && line != "\"") {
                names.emplace_back(line);
            }
        }
        if (end == text.size()) {
            break;
        }
        start = end + 1;
    }
    return names;
}

std::optional<std::vector<std::string>> ReadListFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad()) {
        return std::nullopt;
    }
    return ParseListFile(text);
}

Operands ParseOperands(std::span<const Token> tokens, bool takesFolder) {
    std::size_t i = 0;
    if (i >= tokens.size() || tokens[i].text.empty()) {
        throw Failure(ARC_ERROR_BAD_COMMAND, "no archive name given");
    }
    Operands operands;
    operands.archive = tokens[i++].text;
    if (takesFolder && i < tokens.size() && !tokens[i].text.empty() &&
        tokens[i].text.back() == '/') {
        operands.folder = tokens[i++].text;
    }
    for (; i < tokens.size(); ++i) {
        const std::string& text = tokens[i].text;
        if (text.size() > 1 && text.front() == '@') {
            auto listed = ReadListFile(text.substr(1));
            if (!listed) {
                throw Failure(ARC_ERROR_CANNOT_READ,
                              "cannot read list file " + EscapeControlCharacters(text.substr(1)));
            }
            operands.names.insert(operands.names.end(), listed->begin(), listed->end());
        } else if (!text.empty()) {
            operands.names.push_back(text);
        }
    }
    return operands;
}

}  // namespace zembrat::common
