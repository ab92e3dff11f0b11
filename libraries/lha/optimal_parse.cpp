// The optimal parse: for a region of the input, the cheapest sequence of literals and matches
// found by relaxing the match lengths from every position (shortest paths over a line), then
// read back from the region's end. The matches of a region are found once; its path is priced
// by the codes the paths of the few regions before would get together, and (at level 1) again
// by the codes of its own first path, so that the path and the code lengths it is written
// with agree.
#include <algorithm>
#include <array>
#include <vector>

#include "match_finder.h"
#include "path_relax.h"

namespace zembrat::lha {
namespace {

constexpr std::size_t kMostRecentRegions = 8;
// Positions searched in vain before some are passed over, and the most passed over at once.
constexpr std::size_t kMissesBeforePassing = 64;
constexpr std::size_t kMostPassed = 4;

// The matches found at every position of a region, and the cheapest path through them.
class RegionPaths {
  public:
    explicit RegionPaths(std::size_t region) : relaxer_(region) { matches_.reserve(region * 4); }

    void Clear() {
        matches_.clear();
        matched_ = 0;
    }
    // A match from position i; positions come in increasing order.
    void Add(std::size_t i, std::uint32_t length, std::uint32_t distance) {
        matches_.push_back({static_cast<std::uint16_t>(length),
                            static_cast<std::uint16_t>(distance),
                            static_cast<std::uint32_t>(i - matched_)});
        matched_ = i;
    }

    // The cheapest path through the region's n bytes, as steps from its start.
    const std::vector<Step>& CheapestPath(const std::uint8_t* bytes, std::size_t n,
                                          const CodeCosts& costs) {
        std::span<const Arrival> best = relaxer_.Relax({bytes, n}, matches_, costs);
        path_.clear();
        for (std::size_t at = n; at > 0; at -= StepOf(best[at]).length) {
            path_.push_back(StepOf(best[at]));
        }
        std::reverse(path_.begin(), path_.end());
        return path_;
    }

  private:
    std::vector<PathRelaxer::Match> matches_;
    std::size_t matched_ = 0;  // the position of the last match
    PathRelaxer relaxer_;
    std::vector<Step> path_;
};

// How often a path uses each code and position slot.
struct PathCounts {
    std::array<std::uint32_t, 510> literal{};
    std::array<std::uint32_t, 17> position{};

    PathCounts& operator+=(const PathCounts& other) {
        for (std::size_t c = 0; c < literal.size(); ++c) {
            literal[c] += other.literal[c];
        }
        for (std::size_t c = 0; c < position.size(); ++c) {
            position[c] += other.position[c];
        }
        return *this;
    }
};

PathCounts CountPath(const std::vector<Step>& path, const std::uint8_t* bytes) {
    PathCounts counts;
    std::size_t at = 0;
    for (Step step : path) {
        if (step.distance == 0) {
            ++counts.literal[bytes[at]];
        } else {
            ++counts.literal[step.length - MatchFinder::kMinMatch + 256];
            ++counts.position[PositionSlot(step.distance - 1u)];
        }
        at += step.length;
    }
    return counts;
}

// The paths of the last few regions: the next region is priced by the codes they would get
// together, enough codes for steady prices from regions short enough to follow the data.
class RecentPaths {
  public:
    explicit RecentPaths(std::size_t regions)
        : regions_(std::clamp<std::size_t>(regions, 1, kMostRecentRegions)) {}

    void Add(const PathCounts& counts) { recent_[added_++ % regions_] = counts; }
    void Price(CodeCosts& costs) const {
        PathCounts sum;
        for (std::size_t k = 0; k < std::min(added_, regions_); ++k) {
            sum += recent_[k];
        }
        PriceByCounts(costs, sum.literal, sum.position);
    }

  private:
    std::size_t regions_;
    std::array<PathCounts, kMostRecentRegions> recent_{};
    std::size_t added_ = 0;
};

}  // namespace

void ParseOptimal(MatchFinder& finder, std::span<const std::uint8_t> data, std::size_t start,
                  TokenSink& sink, const CodeCosts& initial) {
    finder.Begin(data, start);
    CodeCosts costs = initial;
    const MatchEffort& effort = finder.Effort();
    const std::size_t region = std::size_t{1} << effort.regionBits;
    RegionPaths paths(region);
    RecentPaths recent(effort.recentRegions);
    std::array<MatchFinder::Found, MatchFinder::kMaxMatch> found;
    const std::uint32_t nice = finder.Effort().niceLength;
    while (finder.Position() < finder.End()) {
        const std::uint8_t* bytes = data.data() + finder.Position();
        std::size_t n = std::min(finder.End() - finder.Position(), region);
        paths.Clear();
        std::size_t i = 0;
        std::size_t misses = 0;
        while (i < n) {
            std::size_t count = finder.Find(found.data());
            std::uint32_t longest = count > 0 ? found[count - 1].length : 0;
            if (n - i >= MatchFinder::kMaxMatch) {
                for (std::size_t k = 0; k < count; ++k) {
                    paths.Add(i, found[k].length, found[k].distance);
                }
            } else {
                // No match runs past the region.
                auto room = static_cast<std::uint32_t>(n - i);
                longest = 0;
                for (std::size_t k = 0; k < count && longest < room; ++k) {
                    longest = std::min(found[k].length, room);
                    if (longest < MatchFinder::kMinMatch) {
                        break;
                    }
                    paths.Add(i, longest, found[k].distance);
                }
            }
            ++i;
            // Data that does not compress (already compressed, say) costs a whole tree walk a
            // byte for nothing: after a stretch without matches, positions are passed over,
            // more of them the longer the stretch, until a match turns up again.
            misses = count == 0 ? misses + 1 : 0;
            if (effort.passOver && misses >= kMissesBeforePassing) {
                std::size_t pass = std::min<std::size_t>(
                    {(misses - kMissesBeforePassing) / kMissesBeforePassing + 1, kMostPassed,
                     n - i});
                for (std::size_t passEnd = i + pass; i < passEnd; ++i) {
                    finder.Pass();
                }
            }
            // A long match is taken as it is; searching inside it rarely pays.
            if (longest >= nice) {
                for (std::size_t skipEnd = i - 1 + longest; i < skipEnd; ++i) {
                    finder.Skip();
                }
            }
        }
        const std::vector<Step>* path = &paths.CheapestPath(bytes, n, costs);
        for (int pricing = 1; pricing < finder.Effort().pricings; ++pricing) {
            PathCounts own = CountPath(*path, bytes);
            PriceByCounts(costs, own.literal, own.position);
            path = &paths.CheapestPath(bytes, n, costs);
        }
        std::size_t at = 0;
        for (Step step : *path) {
            if (step.distance == 0) {
                sink.Literal(bytes[at]);
            } else {
                sink.Match(step.length, step.distance);
            }
            at += step.length;
        }
        // The next region starts from what this one's codes and the few before's cost.
        recent.Add(CountPath(*path, bytes));
        recent.Price(costs);
    }
}

}  // namespace zembrat::lha
