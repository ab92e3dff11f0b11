// Command lines as the archiver libraries receive them: tokens separated by blanks, double
// quotes group blanks into a token and are removed, "@path" names a list file.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zembrat::common {

struct Token {
    std::string text;     // without its quotes
    bool quoted = false;  // some part of it stood in double quotes
};

// Splits a command line. Blanks are spaces and tabs (and CR/LF); a double quote toggles
// grouping and is never part of a token; "" alone gives an empty token.
std::vector<Token> Tokenize(std::string_view commandLine);

// The names of a list file: one name per line, usually in double quotes (a quoted name runs
// from the line's first to its last quote, so it may hold quotes), lines ending in CR LF or
// LF; empty lines are skipped. Nothing when the file cannot be read.
std::optional<std::vector<std::string>> ReadListFile(const std::string& path);

// Parses the text of a list file (see ReadListFile).
std::vector<std::string> ParseListFile(std::string_view text);

// What follows the switches of a command line.
struct Operands {
    std::string archive;
    std::string folder;  // the token right after the archive when it ends in '/'; may be empty
    std::vector<std::string> names;  // a list file's names in place of its "@path"
};

// Reads the operands from the first of tokens; takesFolder: whether the command takes a
// folder at all (without one, a name ending in '/' is a name). Throws Failure:
// ARC_ERROR_BAD_COMMAND without an archive name, ARC_ERROR_CANNOT_READ for a list file that
// cannot be read.
Operands ParseOperands(std::span<const Token> tokens, bool takesFolder);

}  // namespace zembrat::common
