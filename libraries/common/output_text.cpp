#include "common/output_text.h"

#include <algorithm>
#include <cstring>

#include "platform/code_page.h"

namespace zembrat::common {

namespace {

// The longest prefix of text, at most limit bytes, that ends at a character boundary.
std::size_t WholeCharacters(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return text.size();
    }
    const platform::CodePage codePage = platform::SystemCodePage();
    if (codePage == platform::kCodePageShiftJis) {
        std::size_t i = 0;
        while (i < limit) {
            const std::size_t step =
                platform::IsLeadByte(static_cast<unsigned char>(text[i]), codePage) ? 2 : 1;
            if (i + step > limit) {
                break;
            }
            i += step;
        }
        return i;
    }
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return cut;
}

}  // namespace

void OutputText::Line(std::string_view line) {
    text_ += line;
    text_ += '\n';
}

void OutputText::FirstLine(std::string_view line) {
    text_.insert(0, std::string(line) + "\n");
}

void OutputText::CopyTo(char* buffer, std::uint32_t size) const {
    if (!buffer || size == 0) {
        return;
    }
    CopyToField(buffer, size, text_);
}

void CopyToField(char* field, std::size_t fieldSize, std::string_view text) {
    if (fieldSize == 0) {
        return;
    }
    const std::size_t length = WholeCharacters(text, fieldSize - 1);
    std::copy_n(text.data(), length, field);  // an empty view may hold no pointer at all
    field[length] = '\0';
}

}  // namespace zembrat::common
