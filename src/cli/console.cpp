#include "console.h"

namespace zembrat::cli {

void Console::Out(std::string_view text) {
    if (!quiet_) {
        Write(stdout, text);
    }
}

void Console::Error(std::string_view text) {
    Write(stderr, text);
}

void Console::Write(std::FILE* stream, std::string_view text) {
    bar_.Clear();
    std::fwrite(text.data(), 1, text.size(), stream);
    if (!text.empty() && text.back() != '\n') {
        std::fputc('\n', stream);
    }
    std::fflush(stream);
}

}  // namespace zembrat::cli
