#include "platform/code_page.h"

#include <langinfo.h>

#include <array>
#include <string>

namespace zembrat::platform {

namespace {

char ToAsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsUtf8Continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

std::size_t Utf8SequenceLength(std::string_view text, std::size_t offset) {
    const auto lead = static_cast<unsigned char>(text[offset]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    }
    if (offset + length > text.size()) {
        return 1;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (!IsUtf8Continuation(static_cast<unsigned char>(text[offset + i]))) {
            return 1;
        }
    }
    return length;
}

}  // namespace

CodePage SystemCodePage() {
    const char* codeset = nl_langinfo(CODESET);
    if (codeset == nullptr) {
        return kCodePageUtf8;
    }
    std::string name(codeset);
    for (char& c : name) {
        c = ToAsciiUpper(c);
    }
    static constexpr std::array<std::string_view, 5> kShiftJisNames = {
        "SHIFT_JIS", "SHIFT-JIS", "SJIS", "CP932", "WINDOWS-31J"};
    for (std::string_view shiftJis : kShiftJisNames) {
        if (name == shiftJis) {
            return kCodePageShiftJis;
        }
    }
    return kCodePageUtf8;
}

bool IsLeadByte(unsigned char byte, CodePage codePage) {
    if (codePage != kCodePageShiftJis) {
        return false;
    }
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::size_t CharacterLength(std::string_view text, std::size_t offset, CodePage codePage) {
    if (offset >= text.size()) {
        return 0;
    }
    const auto byte = static_cast<unsigned char>(text[offset]);
    if (byte < 0x80) {
        return 1;
    }
    if (codePage == kCodePageShiftJis) {
        return (IsLeadByte(byte, codePage) && offset + 1 < text.size()) ? 2 : 1;
    }
    if (codePage == kCodePageUtf8) {
        return Utf8SequenceLength(text, offset);
    }
    return 1;
}

std::size_t LastCharacterStart(std::string_view text, CodePage codePage) {
    // Character boundaries are only known when scanning from the start: a byte in the lead
    // range may just as well be the second byte of the character before it.
    std::size_t last = std::string_view::npos;
    for (std::size_t offset = 0; offset < text.size();
         offset += CharacterLength(text, offset, codePage)) {
        last = offset;
    }
    return last;
}

bool LastCharacterIs(std::string_view text, char c, CodePage codePage) {
    const std::size_t start = LastCharacterStart(text, codePage);
    return start != std::string_view::npos && start + 1 == text.size() && text[start] == c;
}

std::size_t FindLastOf(std::string_view text, std::string_view chars, CodePage codePage) {
    std::size_t found = std::string_view::npos;
    for (std::size_t offset = 0; offset < text.size();) {
        const std::size_t length = CharacterLength(text, offset, codePage);
        if (length == 1 && chars.find(text[offset]) != std::string_view::npos) {
            found = offset;
        }
        offset += length;
    }
    return found;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b, CodePage codePage) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t offset = 0; offset < a.size();) {
        const std::size_t length = CharacterLength(a, offset, codePage);
        if (length != CharacterLength(b, offset, codePage)) {
            return false;
        }
        if (length == 1) {
            if (ToAsciiUpper(a[offset]) != ToAsciiUpper(b[offset])) {
                return false;
            }
        } else if (a.substr(offset, length) != b.substr(offset, length)) {
            return false;
        }
        offset += length;
    }
    return true;
}

}  // namespace zembrat::platform
