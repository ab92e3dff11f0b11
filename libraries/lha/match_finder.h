// LZ77 parsing with hash chains and lazy matching, reading its input in a sliding buffer.
#pragma once

#include <cstdint>
#include <vector>

#include "lha/stream.h"

namespace zembrat::lha {

// Receives the parse.
class TokenSink {
  public:
    virtual ~TokenSink() = default;
    virtual void Literal(std::uint8_t byte) = 0;
    // length 3..256, distance 1..window-1.
    virtual void Match(std::uint32_t length, std::uint32_t distance) = 0;
};

class MatchFinder {
  public:
    static constexpr std::uint32_t kMinMatch = 3;
    static constexpr std::uint32_t kMaxMatch = 256;

    explicit MatchFinder(int windowBits);

    // Parses exactly size bytes of input (throws Error(kIo) when it ends early).
    void Parse(InputStream& input, std::uint64_t size, TokenSink& sink);

  private:
    struct Found {
        std::uint32_t length = 0;
        std::uint32_t distance = 0;
    };

    void Refill(InputStream& input, std::uint64_t& left);
    void Slide();
    std::uint32_t Hash(std::size_t at) const;
    // Inserts position at into its chain; returns the previous head of that chain (or -1).
    std::int32_t Insert(std::size_t at);
    Found Longest(std::int32_t candidate, std::uint32_t better, std::uint32_t limit) const;

    std::size_t window_;
    std::size_t maxDistance_;
    std::vector<std::uint8_t> buffer_;
    std::vector<std::int32_t> head_;
    std::vector<std::int32_t> previous_;
    std::size_t position_ = 0;
    std::size_t end_ = 0;
};

}  // namespace zembrat::lha
