// The old ZIP methods' fuzz targets, one per decoder family: the first byte of an input picks
// one of its family's forms, the next three the member's size; the rest is the member's data.
// Shared by the targets and by zip_seeds, which writes each family's seeds.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace zembrat::zip_fuzz {

struct MethodChoice {
    std::uint16_t method;
    std::uint16_t flags;  // Implode: bit 1 the 8 KiB window, bit 2 the literal tree
};

struct MethodFamily {
    std::string_view target;
    std::span<const MethodChoice> choices;
};

inline constexpr MethodChoice kShrink[] = {{1, 0}};
inline constexpr MethodChoice kReduce[] = {{2, 0}, {3, 0}, {4, 0}, {5, 0}};
inline constexpr MethodChoice kImplode[] = {{6, 0}, {6, 2}, {6, 4}, {6, 6}};
inline constexpr MethodChoice kDeflate64[] = {{9, 0}};

inline constexpr MethodFamily kMethodFamilies[] = {{"zip_shrink_fuzzer", kShrink},
                                                   {"zip_reduce_fuzzer", kReduce},
                                                   {"zip_implode_fuzzer", kImplode},
                                                   {"zip_deflate64_fuzzer", kDeflate64}};

}  // namespace zembrat::zip_fuzz
