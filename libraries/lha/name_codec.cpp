#include "name_codec.h"

#include <cstdint>

#include "byte_order.h"

namespace zembrat::lha {
namespace {

bool IsShiftJisLead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
bool IsShiftJisTrail(unsigned char c) {
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

}  // namespace

std::string SeparatorsToSlash(std::string_view stored, bool backslashSeparates) {
    std::string out(stored);
    for (std::size_t i = 0; i < out.size(); ++i) {
        auto c = static_cast<unsigned char>(out[i]);
        if (!backslashSeparates) {
            out[i] = c == 0xFF ? '/' : out[i];
        } else if (IsShiftJisLead(c) && i + 1 < out.size() &&
                   IsShiftJisTrail(static_cast<unsigned char>(out[i + 1]))) {
            ++i;
        } else if (c == '\\' || c == 0xFF) {
            out[i] = '/';
        }
    }
    return out;
}

std::optional<std::string> BytesOfLatin1Pair(std::string_view legacy, std::string_view unicode) {
    std::string bytes;
    for (std::size_t i = 0; i < unicode.size(); ++i) {
        const auto c = static_cast<unsigned char>(unicode[i]);
        if (c < 0x80) {
            bytes += static_cast<char>(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < unicode.size()) {
            bytes += static_cast<char>(((c & 0x03) << 6) | (unicode[++i] & 0x3F));
        } else {
            return std::nullopt;  // a character past U+00FF
        }
    }
    // The legacy folder had 0xFF read as '/' already.
    if (SeparatorsToSlash(bytes, false) != SeparatorsToSlash(legacy, false)) {
        return std::nullopt;
    }
    return bytes;
}

std::string Utf16LeToUtf8(std::span<const std::byte> text, bool backslashSeparates) {
    std::string out;
    std::size_t units = text.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t unit = U16(text, i * 2);
        if (unit == 0xFFFF || (unit == '\\' && backslashSeparates)) {
            out.push_back('/');
            continue;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            std::uint32_t low = U16(text, (i + 1) * 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? 0xFFFD : unit);
    }
    return out;
}

std::vector<std::byte> Utf8ToUtf16Le(std::string_view text) {
    std::vector<std::byte> out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80             ? 1
                                   : (lead & 0xE0) == 0xC0 ? 2
                                   : (lead & 0xF0) == 0xE0 ? 3
                                   : (lead & 0xF8) == 0xF0 ? 4
                                                           : 0;
        std::uint32_t code = length == 1   ? lead
                             : length == 2 ? lead & 0x1Fu
                             : length == 3 ? lead & 0x0Fu
                                           : lead & 0x07u;
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3Fu);
        }
        valid = valid && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            code = 0xFFFD;
        }
        i += valid ? length : 1;
        if (code == '/') {
            code = 0xFFFF;
        }
        if (code >= 0x10000) {
            PutU16(out, 0xD800 + ((code - 0x10000) >> 10));
            PutU16(out, 0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            PutU16(out, code);
        }
    }
    return out;
}

std::string SlashTo(std::string_view path, char separator) {
    std::string out(path);
    for (char& c : out) {
        if (c == '/') {
            c = separator;
        }
    }
    return out;
}

}  // namespace zembrat::lha
