// Length-limited canonical Huffman codes for the encoders.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace zembrat::lha {

// Code lengths for the frequencies, none longer than maxLength; unused symbols get 0. With a
// single used symbol that symbol gets length 1 (callers write the one-symbol form instead).
std::vector<std::uint8_t> BuildCodeLengths(std::span<const std::uint32_t> frequencies,
                                           int maxLength);

// Canonical codes for the lengths: shorter codes first, then by symbol.
std::vector<std::uint16_t> CanonicalCodes(std::span<const std::uint8_t> lengths);

}  // namespace zembrat::lha
