#include "display_text.h"

#include <cwchar>
#include <iomanip>
#include <sstream>

namespace zembrat::cli {

namespace {

// Walks text one character at a time in the current locale.
template <class Visit>
void ForEachCharacter(std::string_view text, Visit visit) {
    std::mbstate_t state{};
    std::size_t position = 0;
    while (position < text.size()) {
        wchar_t character = 0;
        const std::size_t length =
            std::mbrtowc(&character, text.data() + position, text.size() - position, &state);
        std::size_t taken = 1;
        int width = 1;
        if (length == static_cast<std::size_t>(-1) || length == static_cast<std::size_t>(-2)) {
            state = std::mbstate_t{};
        } else {
            taken = length == 0 ? 1 : length;
            width = ::wcwidth(character);
            if (width < 0) {
                width = 1;
            }
        }
        if (!visit(text.substr(position, taken), static_cast<std::size_t>(width))) {
            return;
        }
        position += taken;
    }
}

}  // namespace

std::string EscapeControls(std::string_view text, bool keepLineFeeds) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && !(keepLineFeeds && c == '\n')) || byte == 0x7F) {
            escaped += "\\x";
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 0x0F];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::size_t DisplayWidth(std::string_view text) {
    std::size_t width = 0;
    ForEachCharacter(text, [&](std::string_view, std::size_t columns) {
        width += columns;
        return true;
    });
    return width;
}

std::string FitToWidth(std::string_view text, std::size_t width) {
    std::string fitted;
    std::size_t used = 0;
    ForEachCharacter(text, [&](std::string_view character, std::size_t columns) {
        if (used + columns > width) {
            return false;
        }
        used += columns;
        fitted += character;
        return true;
    });
    return fitted;
}

std::string PadLeft(std::string_view text, std::size_t width) {
    const std::size_t used = DisplayWidth(text);
    return std::string(used < width ? width - used : 0, ' ') + std::string(text);
}

std::string PadRight(std::string_view text, std::size_t width) {
    const std::size_t used = DisplayWidth(text);
    return std::string(text) + std::string(used < width ? width - used : 0, ' ');
}

std::string FormatBytes(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) {
        return std::to_string(bytes) + " B";
    }
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << value << ' ' << kUnits[unit];
    return text.str();
}

}  // namespace zembrat::cli
