// Conversions of stored names: folder separators and UTF-16LE names.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zembrat::lha {

// Turns the separators old writers used ('\\' and 0xFF) into '/'. A '\\' that is the second
// byte of a Shift-JIS character is left alone, since names are usually in that code page.
std::string SeparatorsToSlash(std::string_view stored);

// UTF-16LE to UTF-8; the code units 0xFFFF and '\\' become '/'. Unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(std::span<const std::byte> text);

// UTF-8 to UTF-16LE, '/' becoming 0xFFFF (the folder separator of the Unicode folder header,
// as 0xFF is of the legacy one). A byte that starts no valid sequence becomes U+FFFD.
std::vector<std::byte> Utf8ToUtf16Le(std::string_view text);

// '/' to the given separator ('\\' or 0xFF), for writing.
std::string SlashTo(std::string_view path, char separator);

}  // namespace zembrat::lha
