// Deflate for members of any size in flat memory. libdeflate compresses whole buffers only, so
// a member is cut into chunks compressed independently (on two threads where there are two
// cores) and joined into one deflate stream: every chunk but the last has its final-block
// bit cleared and ends with an empty stored block, which brings the stream back to a byte
// boundary for the next chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace zembrat::zip {

// The libdeflate level for a level of ours (1..9).
int LibdeflateLevel(int level);

// Bytes of input per chunk at a level of ours: larger chunks lose less at the chunk seams,
// which matters most at the highest level.
std::size_t ChunkSize(int level);

class ChunkCompressor {
  public:
    ChunkCompressor(int level, unsigned threads);
    ~ChunkCompressor();
    ChunkCompressor(const ChunkCompressor&) = delete;
    ChunkCompressor& operator=(const ChunkCompressor&) = delete;

    // How many chunks Compress() takes at once.
    std::size_t Parallelism() const;

    // Compresses chunks[i] into out[i]; last: chunks.back() ends the member.
    void Compress(std::span<const std::span<const std::byte>> chunks,
                  std::span<std::vector<std::byte>> out, bool last);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Turns a complete raw deflate stream into one that continues: clears the final block's bit
// and appends an empty non-final stored block. False when the stream is not valid deflate.
bool MakeStreamContinue(std::vector<std::byte>& stream);

}  // namespace zembrat::zip
