// The optimal parse: for a segment of the input, the cheapest sequence of literals and
// matches by the code costs of the previous block, found by relaxing every match length from
// every position (shortest paths over a line), then read back from the segment's end.
#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <vector>

#include "lha/archive.h"
#include "match_finder.h"

namespace zembrat::lha {
namespace {

constexpr std::size_t kSegment = 4096;
constexpr std::size_t kMaxFound = 32;
constexpr std::uint32_t kUnreached = std::numeric_limits<std::uint32_t>::max();

std::uint32_t CommonLength(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t limit) {
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

std::uint32_t Slot(std::uint32_t position) {
    std::uint32_t slot = 0;
    while (position >> slot) {
        ++slot;
    }
    return slot;
}

}  // namespace

std::size_t MatchFinder::AllMatches(std::int32_t candidate, std::uint32_t limit, Found* out,
                                    std::size_t capacity) const {
    std::size_t count = 0;
    std::uint32_t best = kMinMatch - 1;
    int chain = effort_.maxChain;
    const std::uint8_t* here = buffer_.data() + position_;
    std::int64_t oldest =
        static_cast<std::int64_t>(position_) - static_cast<std::int64_t>(maxDistance_);
    if (nearest_ >= 0 && nearest_ >= oldest && capacity > 0) {
        std::uint32_t length = CommonLength(here, buffer_.data() + nearest_, limit);
        if (length >= kMinMatch) {
            best = length;
            out[count++] = {
                length, static_cast<std::uint32_t>(position_ - static_cast<std::size_t>(nearest_))};
        }
    }
    while (candidate >= 0 && candidate >= oldest && chain-- > 0) {
        const std::uint8_t* there = buffer_.data() + candidate;
        if (there[best] == here[best] && there[0] == here[0] && there[1] == here[1]) {
            std::uint32_t length = CommonLength(here, there, limit);
            if (length > best) {
                best = length;
                Found found{length, static_cast<std::uint32_t>(
                                        position_ - static_cast<std::size_t>(candidate))};
                if (count < capacity) {
                    out[count++] = found;
                } else {
                    out[capacity - 1] = found;
                }
                if (length >= effort_.niceLength || length >= limit) {
                    break;
                }
            }
        }
        std::int32_t next = previous_[static_cast<std::size_t>(candidate) & (window_ - 1)];
        if (next >= candidate) {
            break;
        }
        candidate = next;
    }
    return count;
}

void MatchFinder::ParseOptimal(InputStream& input, std::uint64_t size, TokenSink& sink,
                               const CodeCosts& costs) {
    std::uint64_t left = size;
    std::vector<std::uint32_t> cost(kSegment + 1);
    std::vector<Found> step(kSegment + 1);  // how each position is best reached
    std::vector<std::uint8_t> bytes(kSegment);
    std::vector<Found> tokens;
    tokens.reserve(kSegment);
    Found found[kMaxFound];
    for (;;) {
        Refill(input, left);
        if (position_ >= end_) {
            break;
        }
        std::uint64_t remaining = left + (end_ - position_);
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kSegment));
        std::fill(cost.begin(), cost.begin() + static_cast<std::ptrdiff_t>(n) + 1, kUnreached);
        cost[0] = 0;
        std::size_t forcedUntil = 0;
        for (std::size_t i = 0; i < n; ++i) {
            Refill(input, left);
            std::uint8_t byte = buffer_[position_];
            bytes[i] = byte;
            if (cost[i] != kUnreached && cost[i] + costs.code[byte] < cost[i + 1]) {
                cost[i + 1] = cost[i] + costs.code[byte];
                step[i + 1] = {1, 0};
            }
            std::size_t available = end_ - position_;
            if (available >= kMinMatch) {
                std::int32_t candidate = Insert(position_);
                if (i >= forcedUntil && cost[i] != kUnreached) {
                    auto limit = static_cast<std::uint32_t>(
                        std::min<std::size_t>({available, kMaxMatch, n - i}));
                    std::size_t count =
                        limit >= kMinMatch ? AllMatches(candidate, limit, found, kMaxFound) : 0;
                    std::uint32_t shorter = kMinMatch;
                    for (std::size_t k = 0; k < count; ++k) {
                        std::uint32_t distance = found[k].distance;
                        std::uint32_t positionCost = costs.position[Slot(distance - 1)];
                        std::uint32_t longest = found[k].length;
                        for (std::uint32_t length = shorter; length <= longest; ++length) {
                            // Between the short lengths and the last few, every fourth will do.
                            if (length > shorter + 8 && length + 8 < longest && (length & 3) != 0) {
                                continue;
                            }
                            std::uint32_t c =
                                cost[i] + costs.code[length - kMinMatch + 256] + positionCost;
                            if (c < cost[i + length]) {
                                cost[i + length] = c;
                                step[i + length] = {length, distance};
                            }
                        }
                        shorter = found[k].length + 1;
                    }
                    // A very long match is taken as it is; searching inside it rarely pays.
                    if (count > 0 && found[count - 1].length >= effort_.niceLength) {
                        forcedUntil = i + found[count - 1].length;
                    }
                }
            }
            ++position_;
        }
        tokens.clear();
        for (std::size_t at = n; at > 0;) {
            tokens.push_back(step[at]);
            at -= step[at].length;
        }
        std::size_t at = 0;
        for (auto token = tokens.rbegin(); token != tokens.rend(); ++token) {
            if (token->distance == 0) {
                sink.Literal(bytes[at]);
            } else {
                sink.Match(token->length, token->distance);
            }
            at += token->length;
        }
    }
}

}  // namespace zembrat::lha
