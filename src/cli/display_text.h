// Text for a terminal: names with their control characters made visible, and columns that
// line up when names hold double-width (Japanese) characters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zembrat::cli {

// Control characters (below 0x20, and 0x7F) as \xNN, so that a name never moves the cursor
// or changes the terminal. Line feeds stay when the text is made of lines.
std::string EscapeControls(std::string_view text, bool keepLineFeeds = false);

// Columns the text takes in the current locale; a byte that is no character takes one.
std::size_t DisplayWidth(std::string_view text);

// The longest beginning of text that fits in width columns, cut at a whole character.
std::string FitToWidth(std::string_view text, std::size_t width);

// Blanks before (right-aligned) or after (left-aligned) the text up to width columns.
std::string PadLeft(std::string_view text, std::size_t width);
std::string PadRight(std::string_view text, std::size_t width);

// The line of a later volume of a set left to the set's first volume (decompress and test),
// followed by the file's name.
inline const std::string kSkippedLaterVolume = "スキップしました（分割書庫の続き）: ";

// "812 B", "1.4 KiB", "12.0 MiB", ...
std::string FormatBytes(std::uint64_t bytes);

}  // namespace zembrat::cli
