// The forward pass of the cheapest-path search over a region: from every position, the literal
// and each match found there relax the cheapest known way to the positions they reach. The
// match relaxation runs over contiguous length ranges, so processors with AVX2 or AVX-512 get
// a vector build of it, chosen at run time; every build gives the same arrivals.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "code_costs.h"

namespace zembrat::lha {

// A step of a path: a match, or a literal (distance 0, length 1).
struct Step {
    std::uint16_t length = 0;
    std::uint16_t distance = 0;
};

// The cheapest known way to a position, packed so that the cheaper of two is the smaller
// number: its cost above, its last step (length, distance) below. Relaxing an arrival is then
// a minimum, free of branches that go either way at random. Of two as cheap, the longer step
// wins: fewer codes. Costs stay below 2^31, so the vector builds may compare them as signed.
using Arrival = std::uint64_t;
constexpr Arrival Arrive(std::uint32_t cost, std::uint32_t length, std::uint32_t distance) {
    return Arrival{cost} << 32 | (0xffff - length) << 16 | distance;
}
constexpr std::uint32_t CostOf(Arrival arrival) {
    return static_cast<std::uint32_t>(arrival >> 32);
}
constexpr Step StepOf(Arrival arrival) {
    return {static_cast<std::uint16_t>(0xffff - (arrival >> 16 & 0xffff)),
            static_cast<std::uint16_t>(arrival)};
}

// The builds of the relaxation loop.
enum class RelaxKernel { kPortable, kAvx2, kAvx512 };

// Whether this processor runs a build.
bool RelaxKernelRuns(RelaxKernel kernel);
// The build the cheapest paths are found with from now on, on every thread (for tests that
// compare the builds); by default the fastest this processor runs. One it does not run falls
// back to the plain build.
void UseRelaxKernel(RelaxKernel kernel);
RelaxKernel CurrentRelaxKernel();

// Relaxes the arrivals of regions up to a given size; keeps its buffers from one to the next.
class PathRelaxer {
  public:
    // A match found, and how many positions on from the one before's it starts (the first
    // from position 0). Those at one position come each longer (and further back) than the one
    // before; none runs past the region.
    struct Match {
        std::uint16_t length;
        std::uint16_t distance;
        std::uint32_t advance;
    };

    explicit PathRelaxer(std::size_t region);

    // The cheapest arrival at every position 0..n of bytes (n = bytes.size()) through the
    // matches. Position 0 arrives at cost 0.
    std::span<const Arrival> Relax(std::span<const std::uint8_t> bytes,
                                   std::span<const Match> matches, const CodeCosts& costs);

  private:
    std::vector<Arrival> reachedStore_;  // reached_ and room to align it
    Arrival* reached_;                   // what the matches give, cache-line aligned
    std::vector<Arrival> best_;          // the cheapest way, literals included
};

}  // namespace zembrat::lha
