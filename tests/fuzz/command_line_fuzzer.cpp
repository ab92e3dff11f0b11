// The library command-line tokenizer, switch parser and list files. The input is a command
// line, optionally followed by a NUL and the text of a list file; "@@" in the line names
// that list file.
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "common/command_line.h"
#include "unlha32/request.h"

namespace {

using namespace zembrat;

const std::string& ListFilePath() {
    static const std::string path =
        "/tmp/zembrat-fuzz-list-" + std::to_string(static_cast<long>(::getpid()));
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    std::string line(input.substr(0, split));
    const std::string_view listText =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

    // Tokens never hold a blank outside quotes, and never a quote.
    for (const auto& token : common::Tokenize(line)) {
        if (token.text.find('"') != std::string::npos) {
            std::abort();
        }
    }
    for (const auto& name : common::ParseListFile(listText)) {
        if (name.empty() || name.find('\n') != std::string::npos) {
            std::abort();
        }
    }

    // "@@" names the list file; any other '@' becomes '#', so that no input makes the parser
    // read a file of the machine (/dev/zero would never end).
    std::string expanded;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line.compare(i, 2, "@@") == 0) {
            expanded += "@" + ListFilePath();
            ++i;
        } else {
            expanded += line[i] == '@' ? '#' : line[i];
        }
    }
    line = expanded;
    if (line.find('@') != std::string::npos) {
        std::ofstream(ListFilePath(), std::ios::binary | std::ios::trunc) << listText;
    }
    for (bool commandExpected : {true, false}) {
        try {
            const auto request = unlha32::ParseCommandLine(line, commandExpected);
            if (request.archive.empty() || request.options.headerLevel > 2) {
                std::abort();
            }
        } catch (const unlha32::Failure&) {
        }
    }
    return 0;
}
