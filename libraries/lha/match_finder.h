// LZ77 matches in one chunk of input held in memory: a binary tree over the window yields, at
// each position, the nearest match of every length in one walk; optimal_parse.cpp chooses
// among them.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "code_costs.h"

namespace zembrat::lha {

// Receives the parse.
class TokenSink {
  public:
    virtual ~TokenSink() = default;
    virtual void Literal(std::uint8_t byte) = 0;
    // length 3..256, distance 1..window-1.
    virtual void Match(std::uint32_t length, std::uint32_t distance) = 0;
};

// How hard the parser looks for matches.
struct MatchEffort {
    int depth = 32;                 // tree nodes visited per position
    std::uint32_t niceLength = 64;  // a match this long ends the walk and is taken whole
    int pricings = 1;               // cheapest paths per region, each priced by the one before
    int regionBits = 14;            // the parse takes 2^regionBits bytes at a time
    int recentRegions = 6;          // a region is priced by the paths of this many before it
    bool passOver = true;           // after a long stretch without matches, skip positions
};

// Cache-line aligned: finders working side by side on two threads must not share a line.
class alignas(64) MatchFinder {
  public:
    static constexpr std::uint32_t kMinMatch = 3;
    static constexpr std::uint32_t kMaxMatch = 256;

    struct Found {
        std::uint32_t length = 0;
        std::uint32_t distance = 0;
    };

    MatchFinder(int windowBits, MatchEffort effort);

    const MatchEffort& Effort() const { return effort_; }

    // Starts on data[start, end) with data[0, start) as history that matches may reach back
    // into; no match runs past the end of data.
    void Begin(std::span<const std::uint8_t> data, std::size_t start);
    std::size_t Position() const { return position_; }
    std::size_t End() const { return end_; }

    // The matches at the current position, each longer and further back than the one before
    // (the nearest of its length); at most kMaxMatch of them. Moves to the next position.
    std::size_t Find(Found* out);
    // Moves to the next position without looking for matches.
    void Skip();
    // Moves to the next position and leaves the current one out of the tree: no later match
    // starts there.
    void Pass() { ++position_; }

  private:
    template <bool kRecord>
    std::size_t Walk(Found* out);

    MatchEffort effort_;
    std::size_t window_;
    std::size_t maxDistance_;
    std::vector<std::int32_t> head_;      // latest position of each 4-byte hash
    std::vector<std::int32_t> nearHead_;  // latest position of each 3-byte hash
    // Per window slot, the smaller and the larger subtree of the position there.
    std::vector<std::int32_t> tree_;
    const std::uint8_t* data_ = nullptr;
    std::size_t position_ = 0;
    std::size_t end_ = 0;
};

// Parses data[start, end) (data[0, start) is history) by the cheapest path through the matches
// the finder yields, priced first by costs, then by the codes of each path before.
void ParseOptimal(MatchFinder& finder, std::span<const std::uint8_t> data, std::size_t start,
                  TokenSink& sink, const CodeCosts& costs);

// Length of the common prefix of a and b, at most limit.
inline std::uint32_t CommonLength(const std::uint8_t* a, const std::uint8_t* b,
                                  std::uint32_t limit) {
    std::uint32_t n = 0;
    while (n + 8 <= limit) {
        std::uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y) {
            return n + static_cast<std::uint32_t>(std::countr_zero(x ^ y) / 8);
        }
        n += 8;
    }
    while (n < limit && a[n] == b[n]) {
        ++n;
    }
    return n;
}

}  // namespace zembrat::lha
