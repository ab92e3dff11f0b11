// Multi-byte text rules of the host code page. Every path and text helper goes through
// these, so that the second byte of a Shift-JIS character is never mistaken for '\\', ':'
// or '.'.
#pragma once

#include <cstddef>
#include <string_view>

namespace zembrat::platform {

using CodePage = unsigned;
inline constexpr CodePage kCodePageShiftJis = 932;
inline constexpr CodePage kCodePageUtf8 = 65001;

// The code page of the C library's current codeset (UTF-8 -> 65001, Shift_JIS/CP932 -> 932,
// anything else -> 65001, whose multi-byte sequences never contain ASCII bytes).
CodePage SystemCodePage();

// True when the byte starts a two-byte character under the code page (932: 0x81-0x9F,
// 0xE0-0xFC). Always false for UTF-8: its continuation bytes are never ASCII.
bool IsLeadByte(unsigned char byte, CodePage codePage);

// Length in bytes of the character starting at offset (1 for a single byte, for a lead byte
// at the very end, and for a byte that starts no valid sequence; 2 for a 932 double-byte
// character; 2-4 for a well-formed UTF-8 sequence). 0 at or past the end.
std::size_t CharacterLength(std::string_view text, std::size_t offset, CodePage codePage);

// Byte offset of the last whole character, or npos for empty text.
std::size_t LastCharacterStart(std::string_view text, CodePage codePage);

// True when the last whole character of the text is the single-byte character c.
bool LastCharacterIs(std::string_view text, char c, CodePage codePage);

// Offset of the last single-byte character of the text that is one of chars (never the
// second byte of a double-byte character), or npos.
std::size_t FindLastOf(std::string_view text, std::string_view chars, CodePage codePage);

// Equality with ASCII letters compared ignoring case. Only single-byte characters are folded:
// the second byte of a double-byte character is compared exactly, so that two different
// Shift-JIS characters whose trail bytes differ only in "case" stay different.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b, CodePage codePage);

}  // namespace zembrat::platform
