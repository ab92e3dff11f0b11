#include "cab32/request.h"

#include <fnmatch.h>

#include <algorithm>
#include <array>

#include "archiver_api.h"
#include "common/command_line.h"
#include "common/failure.h"
#include "common/switches.h"

namespace zembrat::cab32 {

namespace {

using common::Failure;
using common::SwitchKind;

constexpr std::array<common::SwitchSpec, 7> kSwitches = {{
    {"o", SwitchKind::kFlag},
    {"i", SwitchKind::kFlag},
    {"r", SwitchKind::kFlag},
    {"h", SwitchKind::kText},
    {"j", SwitchKind::kFlag},
    {"q", SwitchKind::kFlag},
    {"m", SwitchKind::kNumber},
}};

Command CommandOf(std::string_view token) {
    if (token == "-x") {
        return Command::kExtract;
    }
    if (token == "-a") {
        return Command::kAdd;
    }
    if (token == "-f") {
        return Command::kSfx;
    }
    if (token == "-l") {
        return Command::kList;
    }
    if (token == "-t") {
        return Command::kTest;
    }
    throw Failure(ARC_ERROR_BAD_COMMAND,
                  "unknown command " + std::string(token) + " (-x, -a, -f, -l or -t)");
}

// A folder as the driver writes it ends in '\'; here folders end in '/'.
std::string AsFolder(std::string text) {
    while (!text.empty() && text.back() == '\\') {
        text.pop_back();
    }
    if (!text.empty() && text.back() != '/') {
        text.push_back('/');
    }
    return text;
}

std::string Slashes(std::string_view name) {
    std::string text(name);
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

}  // namespace

Request ParseLine(std::string_view line, bool memory) {
    std::vector<common::Token> tokens = common::Tokenize(line);
    Request request;
    request.command = Command::kMemory;
    std::size_t at = 0;
    if (!memory) {
        if (tokens.empty()) {
            throw Failure(ARC_ERROR_BAD_COMMAND, "empty command line");
        }
        request.command = CommandOf(tokens[at++].text);
    }
    common::SwitchSet switches(kSwitches);
    for (; at < tokens.size() && tokens[at].text.size() > 1 && tokens[at].text.front() == '-';
         ++at) {
        if (auto problem = switches.Parse(tokens[at].text)) {
            throw Failure(ARC_ERROR_BAD_COMMAND, *problem);
        }
    }
    request.overwrite = switches.Has("o");
    request.progress = switches.Has("i");
    request.recurse = switches.Has("r");
    request.withoutFolders = switches.Has("j");
    request.quiet = switches.Has("q");
    if (const auto folders = switches.Texts("h"); !folders.empty()) {
        request.workFolder = AsFolder(folders.back());
    }
    const std::int64_t method = switches.Number("m", 1);
    if (method != 0 && method != 1) {
        throw Failure(ARC_ERROR_BAD_COMMAND,
                      "-m" + std::to_string(method) + ": only -m0 (stored) and -m1 (MSZIP)");
    }
    request.stored = method == 0;
    // The folder token is the one after the archive that ends in a separator.
    if (at + 1 < tokens.size() && !tokens[at + 1].text.empty() &&
        tokens[at + 1].text.back() == '\\') {
        tokens[at + 1].text = AsFolder(tokens[at + 1].text);
    }
    common::Operands operands = common::ParseOperands(
        std::span<const common::Token>(tokens).subspan(at), request.command != Command::kMemory);
    request.archive = std::move(operands.archive);
    request.folder = std::move(operands.folder);
    for (std::string& name : operands.names) {
        request.names.push_back(request.command == Command::kAdd ? std::move(name) : Slashes(name));
    }
    return request;
}

bool Selected(std::string_view memberName, const Request& request) {
    if (request.names.empty()) {
        return true;
    }
    const std::string member(memberName);
    return std::any_of(request.names.begin(), request.names.end(), [&](const std::string& name) {
        std::string pattern = name;
        while (pattern.size() > 1 && pattern.back() == '/') {
            pattern.pop_back();
        }
        if (fnmatch(pattern.c_str(), member.c_str(), 0) == 0) {
            return true;
        }
        // A folder brings everything in it.
        return member.size() > pattern.size() && member.compare(0, pattern.size(), pattern) == 0 &&
               member[pattern.size()] == '/';
    });
}

std::string SfxName(const std::string& archive, const std::string& folder) {
    std::string name = archive;
    std::string extension = ".exe";
    const std::size_t slash = name.find_last_of('/');
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
        name.size() - dot == 4) {
        const std::string suffix = name.substr(dot);
        if (suffix == ".CAB") {
            extension = ".EXE";
        }
        std::string lower = suffix;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (lower == ".cab") {
            name.resize(dot);
        }
    }
    if (!folder.empty()) {
        const std::size_t base = name.find_last_of('/');
        name = folder + (base == std::string::npos ? name : name.substr(base + 1));
    }
    return name + extension;
}

}  // namespace zembrat::cab32
