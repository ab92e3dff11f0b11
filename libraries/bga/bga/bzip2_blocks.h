// Decoding one bzip2 stream on two cores. The stream's blocks are independent: each starts at
// a 48-bit mark (at any bit position) and carries its own CRC, so each can be cut out, made
// into a stream of its own and decoded beside the others. A mark can also occur by chance
// inside compressed data; then a piece fails to decode and the caller decodes the stream the
// ordinary way, which also tells what is wrong with a damaged one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zembrat::bga {

// The decoded blocks in order, their total exactly originalSize; false (and nothing
// decided) when the stream cannot be decoded this way: one block, a piece that fails, a
// combined CRC that does not match, or output past originalSize.
bool DecodeBzip2Blocks(std::span<const std::byte> stream, std::uint64_t originalSize,
                       std::vector<std::vector<std::byte>>& blocks);

}  // namespace zembrat::bga
