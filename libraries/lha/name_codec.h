// Conversions of stored names: folder separators and UTF-16LE names.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace zembrat::lha {

// Turns the separators old writers used ('\\' and 0xFF) into '/'. A '\\' that is the second
// byte of a Shift-JIS character is left alone, since names are usually in that code page.
std::string SeparatorsToSlash(std::string_view stored);

// UTF-16LE to UTF-8; the code units 0xFFFF and '\\' become '/'. Unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(std::span<const std::byte> text);

// '/' to the given separator ('\\' or 0xFF), for writing.
std::string SlashTo(std::string_view path, char separator);

}  // namespace zembrat::lha
