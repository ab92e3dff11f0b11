// The text a library hands back in the caller's output buffer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zembrat::common {

class OutputText {
  public:
    // Appends one line (a line feed is added).
    void Line(std::string_view line);
    // Puts a line before everything written so far (the reason of a failure comes first).
    void FirstLine(std::string_view line);
    const std::string& Text() const { return text_; }

    // Copies the text into the buffer, NUL-terminated, cut at a whole character when it does
    // not fit; nothing for a null buffer or size 0.
    void CopyTo(char* buffer, std::uint32_t size) const;

  private:
    std::string text_;
};

// Copies text into a fixed field, NUL-terminated, cut at a whole character.
void CopyToField(char* field, std::size_t fieldSize, std::string_view text);

}  // namespace zembrat::common
