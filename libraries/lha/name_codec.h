// Conversions of stored names: folder separators and UTF-16LE names.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zembrat::lha {

// Turns the separators old writers used ('\\' and 0xFF) into '/'. A '\\' that is the second
// byte of a Shift-JIS character is left alone, since names are usually in that code page.
// Without backslashSeparates only 0xFF is a separator (the folder headers of Unix writers,
// whose names may hold '\\').
std::string SeparatorsToSlash(std::string_view stored, bool backslashSeparates = true);

// UTF-16LE to UTF-8; the code unit 0xFFFF becomes '/', and so does '\\' when it separates.
// Unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(std::span<const std::byte> text, bool backslashSeparates = true);

// A name in no code page is written by a Unix host as its bytes (legacy headers, where 0xFF
// separates folders) and as those bytes read as Latin-1 (Unicode headers, where the
// separator is apart). Given both, the name's bytes when they are such a pair; otherwise
// nothing.
std::optional<std::string> BytesOfLatin1Pair(std::string_view legacy, std::string_view unicode);

// UTF-8 to UTF-16LE, '/' becoming 0xFFFF (the folder separator of the Unicode folder header,
// as 0xFF is of the legacy one). A byte that starts no valid sequence becomes U+FFFD.
std::vector<std::byte> Utf8ToUtf16Le(std::string_view text);

// '/' to the given separator ('\\' or 0xFF), for writing.
std::string SlashTo(std::string_view path, char separator);

}  // namespace zembrat::lha
