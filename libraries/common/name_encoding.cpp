#include "common/name_encoding.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace zembrat::common {

namespace {

constexpr const char* kCp932 = "CP932";
constexpr const char* kUtf8 = "UTF-8";

class Converter {
  public:
    Converter(const char* from, const char* to) : handle_(iconv_open(to, from)) {}
    ~Converter() {
        if (Valid()) {
            iconv_close(handle_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

    std::optional<std::string> Run(std::string_view text) {
        std::string out(text.size() * 4 + 16, '\0');
        // iconv's interface takes non-const input pointers; it never writes through them.
        char* in = const_cast<char*>(text.data());
        std::size_t inLeft = text.size();
        char* outPtr = out.data();
        std::size_t outLeft = out.size();
        if (iconv(handle_, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
            return std::nullopt;
        }
        if (iconv(handle_, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
            return std::nullopt;
        }
        out.resize(out.size() - outLeft);
        return out;
    }

  private:
    iconv_t handle_;
};

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string Latin1ToUtf8(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

// Bytes valid in no code page we know (a Linux name may be any bytes but '/'): stored as they
// are, and read as Latin-1 in the Unicode name headers, so that other readers show something
// sensible. Our reader takes that pair as the mark of such a name and gives the bytes back.
StoredName InNoCodePage(std::string_view hostName) {
    return {std::string(hostName), false, Latin1ToUtf8(hostName)};
}

// A name converted both ways must come back byte for byte, or the conversion loses it
// (CP932 maps several Unicode characters to one code).
std::optional<std::string> ConvertExactly(std::string_view text, const char* from, const char* to) {
    auto converted = ConvertText(text, from, to);
    if (!converted) {
        return std::nullopt;
    }
    const auto back = ConvertText(*converted, to, from);
    if (!back || *back != text) {
        return std::nullopt;
    }
    return converted;
}

}  // namespace

std::optional<std::string> ConvertText(std::string_view text, const char* from, const char* to) {
    Converter converter(from, to);
    if (!converter.Valid()) {
        return std::nullopt;
    }
    return converter.Run(text);
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        const std::uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < minimum[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

StoredName EncodeStoredName(std::string_view hostName, platform::CodePage host) {
    if (IsAscii(hostName)) {
        return {std::string(hostName), false, {}};
    }
    if (host == platform::kCodePageShiftJis) {
        if (auto utf8 = ConvertExactly(hostName, kCp932, kUtf8)) {
            return {std::string(hostName), false, std::move(*utf8)};
        }
        return InNoCodePage(hostName);
    }
    // Readers take a Unix-made legacy name that is valid UTF-8 as UTF-8, so CP932 bytes that
    // happen to be valid UTF-8 (half-width kana "\xEF\xBE\x83\xEF\xBD\xBD" -> C3 BD,
    // which reads as another character) would come back changed: those go Unicode.
    if (auto cp932 = ConvertExactly(hostName, kUtf8, kCp932); cp932 && !IsValidUtf8(*cp932)) {
        return {std::move(*cp932), false, std::string(hostName)};
    }
    if (IsValidUtf8(hostName)) {
        return {std::string(hostName), true, std::string(hostName)};
    }
    return InNoCodePage(hostName);
}

std::string DecodeStoredName(std::string_view bytes, bool unicode, std::uint8_t osId,
                             platform::CodePage host) {
    std::string utf8;
    if (unicode || IsAscii(bytes)) {
        utf8 = std::string(bytes);
    } else if (osId == 'U' && IsValidUtf8(bytes)) {
        utf8 = std::string(bytes);
    } else if (auto converted = ConvertText(bytes, kCp932, kUtf8)) {
        utf8 = std::move(*converted);
    } else if (IsValidUtf8(bytes)) {
        utf8 = std::string(bytes);
    } else {
        utf8 = Latin1ToUtf8(bytes);
    }
    if (host == platform::kCodePageShiftJis && !IsAscii(utf8)) {
        if (auto cp932 = ConvertText(utf8, kUtf8, kCp932)) {
            return std::move(*cp932);
        }
    }
    return utf8;
}

}  // namespace zembrat::common
