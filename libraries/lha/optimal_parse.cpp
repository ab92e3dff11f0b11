// The optimal parse: for a region of the input, the cheapest sequence of literals and matches
// found by relaxing every match length from every position (shortest paths over a line), then
// read back from the region's end. The matches of a region are found once and priced twice:
// first by the costs so far, then by what the codes of the first path would cost, so that the
// path and the code lengths it is written with agree.
#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include "match_finder.h"

namespace zembrat::lha {
namespace {

constexpr std::size_t kRegion = std::size_t{1} << 16;
constexpr std::size_t kMaxFound = 32;
constexpr std::uint32_t kUnreached = std::numeric_limits<std::uint32_t>::max();

// A match as the region keeps it (a literal step has distance 0 and length 1).
struct Step {
    std::uint16_t length = 0;
    std::uint16_t distance = 0;
};

// The matches found at every position of a region, and the cheapest path through them.
class RegionPaths {
  public:
    RegionPaths() : firstMatch_(kRegion + 1), cost_(kRegion + 1), step_(kRegion + 1) {}

    void Clear() { matches_.clear(); }
    void StartPosition(std::size_t i) {
        firstMatch_[i] = static_cast<std::uint32_t>(matches_.size());
    }
    void Add(std::uint32_t length, std::uint32_t distance) {
        matches_.push_back(
            {static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(distance)});
    }

    // The cheapest path through the region's n bytes, as steps from its start.
    const std::vector<Step>& CheapestPath(const std::uint8_t* bytes, std::size_t n,
                                          const CodeCosts& costs) {
        StartPosition(n);
        std::fill(cost_.begin(), cost_.begin() + static_cast<std::ptrdiff_t>(n) + 1, kUnreached);
        cost_[0] = 0;
        for (std::size_t i = 0; i < n; ++i) {
            std::uint32_t here = cost_[i];
            if (here + costs.code[bytes[i]] < cost_[i + 1]) {
                cost_[i + 1] = here + costs.code[bytes[i]];
                step_[i + 1] = {1, 0};
            }
            std::uint32_t shorter = MatchFinder::kMinMatch;
            for (std::uint32_t k = firstMatch_[i]; k < firstMatch_[i + 1]; ++k) {
                Step match = matches_[k];
                std::uint32_t positionCost = costs.position[PositionSlot(match.distance - 1u)];
                std::uint32_t longest = match.length;
                for (std::uint32_t length = shorter; length <= longest; ++length) {
                    // Between the short lengths and the last few, every fourth will do.
                    if (length > shorter + 8 && length + 8 < longest && (length & 3) != 0) {
                        continue;
                    }
                    std::uint32_t c =
                        here + costs.code[length - MatchFinder::kMinMatch + 256] + positionCost;
                    if (c < cost_[i + length]) {
                        cost_[i + length] = c;
                        step_[i + length] = {static_cast<std::uint16_t>(length), match.distance};
                    }
                }
                shorter = longest + 1;
            }
        }
        path_.clear();
        for (std::size_t at = n; at > 0; at -= step_[at].length) {
            path_.push_back(step_[at]);
        }
        std::reverse(path_.begin(), path_.end());
        return path_;
    }

  private:
    std::vector<Step> matches_;
    std::vector<std::uint32_t> firstMatch_;  // where each position's matches begin
    std::vector<std::uint32_t> cost_;        // of the cheapest way to each position
    std::vector<Step> step_;                 // the last step of that way
    std::vector<Step> path_;
};

// Prices the codes by the lengths a block of the path's codes would give them.
void PriceByPath(CodeCosts& costs, const std::vector<Step>& path, const std::uint8_t* bytes) {
    std::array<std::uint32_t, 510> literalFrequency{};
    std::array<std::uint32_t, 17> positionFrequency{};
    std::size_t at = 0;
    for (Step step : path) {
        if (step.distance == 0) {
            ++literalFrequency[bytes[at]];
        } else {
            ++literalFrequency[step.length - MatchFinder::kMinMatch + 256];
            ++positionFrequency[PositionSlot(step.distance - 1u)];
        }
        at += step.length;
    }
    PriceByCounts(costs, literalFrequency, positionFrequency);
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
    if (best >= limit) {
        return count;  // nothing can be longer; the check below would read past the limit
    }
    while (candidate >= 0 && candidate >= oldest && chain-- > 0) {
        const std::uint8_t* there = data_ + candidate;
        // The last bytes a longer match needs, and the first four (the chain's hash may collide).
        std::uint32_t tail = best > 3 ? best - 3 : 0;
        if (Load32(there + tail) == Load32(here + tail) && Load32(there) == Load32(here)) {
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
        candidate = Older(candidate);
    }
    return count;
}

void MatchFinder::ParseOptimal(std::span<const std::uint8_t> data, std::size_t start,
                               TokenSink& sink, const CodeCosts& initial) {
    Begin(data, start);
    CodeCosts costs = initial;
    RegionPaths paths;
    Found found[kMaxFound];
    while (position_ < end_) {
        const std::uint8_t* bytes = data_ + position_;
        std::size_t n = std::min(end_ - position_, kRegion);
        paths.Clear();
        std::size_t forcedUntil = 0;
        for (std::size_t i = 0; i < n; ++i, ++position_) {
            paths.StartPosition(i);
            if (!Insertable(position_)) {
                continue;
            }
            std::int32_t candidate = Insert(position_);
            auto limit = static_cast<std::uint32_t>(
                std::min<std::size_t>({end_ - position_, kMaxMatch, n - i}));
            if (i < forcedUntil || limit < kMinMatch) {
                continue;
            }
            std::size_t count = AllMatches(candidate, limit, found, kMaxFound);
            for (std::size_t k = 0; k < count; ++k) {
                paths.Add(found[k].length, found[k].distance);
            }
            // A very long match is taken as it is; searching inside it rarely pays.
            if (count > 0 && found[count - 1].length >= effort_.niceLength) {
                forcedUntil = i + found[count - 1].length;
            }
        }
        PriceByPath(costs, paths.CheapestPath(bytes, n, costs), bytes);
        const std::vector<Step>& path = paths.CheapestPath(bytes, n, costs);
        std::size_t at = 0;
        for (Step step : path) {
            if (step.distance == 0) {
                sink.Literal(bytes[at]);
            } else {
                sink.Match(step.length, step.distance);
            }
            at += step.length;
        }
        // The next region starts from what this one's codes cost.
        PriceByPath(costs, path, bytes);
    }
}

}  // namespace zembrat::lha
