// LZ77 parsing of one chunk of input held in memory: hash chains, then a lazy or an optimal
// choice among the matches found.
#pragma once

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
    int maxChain = 48;               // candidates tried per position
    std::uint32_t goodLength = 32;   // a match this long shortens the next search
    std::uint32_t lazyLength = 64;   // a match this long is taken without a lazy look
    std::uint32_t niceLength = 160;  // a match this long ends the search
};

// Cache-line aligned: finders working side by side on two threads must not share a line.
class alignas(64) MatchFinder {
  public:
    static constexpr std::uint32_t kMinMatch = 3;
    static constexpr std::uint32_t kMaxMatch = 256;

    MatchFinder(int windowBits, MatchEffort effort);

    // Parses data[start, end) lazily, with data[0, start) as history that matches may reach
    // back into; no match runs past the end of data. Matches are weighed by costs.
    void Parse(std::span<const std::uint8_t> data, std::size_t start, TokenSink& sink,
               const CodeCosts& costs);
    // The same, taking the cheapest path through every match found: priced first by costs,
    // then again by what the codes of that path would cost, region by region.
    void ParseOptimal(std::span<const std::uint8_t> data, std::size_t start, TokenSink& sink,
                      const CodeCosts& costs);

  private:
    struct Found {
        std::uint32_t length = 0;
        std::uint32_t distance = 0;
    };

    // Empties the tables and inserts the history positions that matches can still reach.
    void Begin(std::span<const std::uint8_t> data, std::size_t start);
    // Whether position at has the four bytes a chain's hash needs.
    bool Insertable(std::size_t at) const { return at + 4 <= end_; }
    // Inserts position at into its chain (and the 3-byte table); returns the previous head of
    // that chain (or -1).
    std::int32_t Insert(std::size_t at);
    // The next older position on candidate's chain, or -1.
    std::int32_t Older(std::int32_t candidate) const {
        std::uint16_t distance = previous_[static_cast<std::size_t>(candidate) & (window_ - 1)];
        return distance != 0 ? candidate - distance : -1;
    }
    Found Longest(std::int32_t candidate, std::uint32_t better, std::uint32_t limit,
                  const CodeCosts& costs) const;
    // What a match saves over literals at the average literal cost, in 1/16 bits.
    static std::int32_t Gain(Found match, const CodeCosts& costs);
    // Whether a short match costs less than its bytes as literals.
    static bool WorthMatching(Found match, const CodeCosts& costs, const std::uint8_t* bytes);
    // Every match longer than the ones before it along the chain (nearest first); returns
    // how many were stored.
    std::size_t AllMatches(std::int32_t candidate, std::uint32_t limit, Found* out,
                           std::size_t capacity) const;

    MatchEffort effort_;
    std::size_t window_;
    std::size_t maxDistance_;
    std::vector<std::int32_t> head_;
    std::vector<std::int32_t> nearHead_;  // latest position of each 3-byte prefix
    std::int32_t nearest_ = -1;           // its value before the last Insert
    // Per window slot, how far back the previous position with the same hash lies (0: none
    // within the window). Two bytes a slot keep the tables in the second-level cache.
    std::vector<std::uint16_t> previous_;
    const std::uint8_t* data_ = nullptr;
    std::size_t position_ = 0;
    std::size_t end_ = 0;
};

inline std::uint32_t Load32(const std::uint8_t* at) {
    std::uint32_t v;
    std::memcpy(&v, at, 4);
    return v;
}

// Length of the common prefix of a and b, at most limit.
std::uint32_t CommonLength(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t limit);

}  // namespace zembrat::lha
