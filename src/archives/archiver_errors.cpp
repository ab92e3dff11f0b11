#include "archives/archiver_errors.h"

namespace zembrat::archives {

std::string FormatMessage(std::string_view pattern, const std::vector<std::string>& arguments) {
    std::string result;
    result.reserve(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        // "%N:s" with a single-digit index; anything else is copied as it stands.
        if (pattern[i] == '%' && i + 3 < pattern.size() && pattern[i + 1] >= '0' &&
            pattern[i + 1] <= '9' && pattern[i + 2] == ':' && pattern[i + 3] == 's') {
            const auto index = static_cast<std::size_t>(pattern[i + 1] - '0');
            if (index < arguments.size()) {
                result += arguments[index];
            }
            i += 3;
            continue;
        }
        result += pattern[i];
    }
    return result;
}

}  // namespace zembrat::archives
