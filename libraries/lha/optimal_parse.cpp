// The optimal parse: for a segment of the input, the cheapest sequence of literals and
// matches by the code costs of the previous block, found by relaxing every match length from
// every position (shortest paths over a line), then read back from the segment's end.
#include <algorithm>
#include <bit>
#include <limits>
#include <vector>

#include "match_finder.h"

namespace zembrat::lha {
namespace {

constexpr std::size_t kSegment = 4096;
constexpr std::size_t kMaxFound = 32;
constexpr std::uint32_t kUnreached = std::numeric_limits<std::uint32_t>::max();

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
    const std::uint8_t* here = data_ + position_;
    std::int64_t oldest =
        static_cast<std::int64_t>(position_) - static_cast<std::int64_t>(maxDistance_);
    if (nearest_ >= 0 && nearest_ >= oldest && capacity > 0) {
        std::uint32_t length = CommonLength(here, data_ + nearest_, limit);
        if (length >= kMinMatch) {
            best = length;
            out[count++] = {
                length, static_cast<std::uint32_t>(position_ - static_cast<std::size_t>(nearest_))};
        }
    }
    while (candidate >= 0 && candidate >= oldest && chain-- > 0) {
        const std::uint8_t* there = data_ + candidate;
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

void MatchFinder::ParseOptimal(std::span<const std::uint8_t> data, std::size_t start,
                               TokenSink& sink, const CodeCosts& costs) {
    Begin(data, start);
    std::vector<std::uint32_t> cost(kSegment + 1);
    std::vector<Found> step(kSegment + 1);  // how each position is best reached
    std::vector<Found> tokens;
    tokens.reserve(kSegment);
    Found found[kMaxFound];
    while (position_ < end_) {
        std::size_t segmentStart = position_;
        std::size_t n = std::min(end_ - position_, kSegment);
        std::fill(cost.begin(), cost.begin() + static_cast<std::ptrdiff_t>(n) + 1, kUnreached);
        cost[0] = 0;
        std::size_t forcedUntil = 0;
        for (std::size_t i = 0; i < n; ++i) {
            std::uint8_t byte = data_[position_];
            if (cost[i] != kUnreached && cost[i] + costs.code[byte] < cost[i + 1]) {
                cost[i + 1] = cost[i] + costs.code[byte];
                step[i + 1] = {1, 0};
            }
            if (Insertable(position_)) {
                std::int32_t candidate = Insert(position_);
                if (i >= forcedUntil && cost[i] != kUnreached) {
                    auto limit = static_cast<std::uint32_t>(
                        std::min<std::size_t>({end_ - position_, kMaxMatch, n - i}));
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
                sink.Literal(data_[segmentStart + at]);
            } else {
                sink.Match(token->length, token->distance);
            }
            at += token->length;
        }
    }
}

}  // namespace zembrat::lha
