// The fixed position codes of the early methods: the high bits of a position, shortest codes
// for the nearest blocks.
#pragma once

#include <cstdint>
#include <vector>

namespace zembrat::lha {

enum class FixedPositionCode {
    kFourKiB,   // -lh1-: 64 blocks of 64 bytes
    kEightKiB,  // -lh3-: 128 blocks of 64 bytes
};

// Code lengths per block, canonical order.
inline std::vector<std::uint8_t> FixedPositionLengths(FixedPositionCode which) {
    // The first length, then the blocks from which the length grows by one.
    struct Shape {
        int firstLength;
        std::vector<int> growAt;
        int blocks;
    };
    Shape shape = which == FixedPositionCode::kFourKiB ? Shape{3, {1, 4, 12, 24, 48}, 64}
                                                       : Shape{2, {1, 1, 3, 6, 13, 31, 78}, 128};
    std::vector<std::uint8_t> lengths(static_cast<std::size_t>(shape.blocks));
    int length = shape.firstLength;
    std::size_t step = 0;
    for (int block = 0; block < shape.blocks; ++block) {
        while (step < shape.growAt.size() && shape.growAt[step] == block) {
            ++length;
            ++step;
        }
        lengths[static_cast<std::size_t>(block)] = static_cast<std::uint8_t>(length);
    }
    return lengths;
}

}  // namespace zembrat::lha
