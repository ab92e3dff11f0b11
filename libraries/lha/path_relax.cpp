#include "path_relax.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>

#include "match_finder.h"

// x86-64 processors with AVX2 or AVX-512 get vector builds of the relaxation, chosen at run
// time (ZEMBRAT_LHA_VECTOR_RELAX=0 leaves them out; a test switches between the builds).
#ifndef ZEMBRAT_LHA_VECTOR_RELAX
#if defined(__x86_64__) && defined(__GNUC__)
#define ZEMBRAT_LHA_VECTOR_RELAX 1
#else
#define ZEMBRAT_LHA_VECTOR_RELAX 0
#endif
#endif
#if ZEMBRAT_LHA_VECTOR_RELAX
// GCC 12's AVX-512 intrinsics seed their results with a deliberately undefined vector, which
// its own uninitialised-use check then reports.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif

namespace zembrat::lha {
namespace {

// Lengths between the first and the last kEdge of a match are priced every kStride-th.
constexpr std::uint32_t kEdge = 8;
constexpr std::uint32_t kStride = 4;
constexpr std::uint32_t kUnreached = 0x7fffffff;
// The widest vector, in arrivals; the arrays have room for two past the region's end.
constexpr std::size_t kMostLanes = 8;
constexpr std::size_t kCacheLine = 64;

// The first length of a match's tail, from which every length is priced again.
constexpr std::uint32_t TailStart(std::uint32_t shorter, std::uint32_t longest) {
    std::uint32_t firstStrided = shorter + kEdge;
    if (longest < firstStrided + kEdge) {
        return firstStrided;
    }
    return firstStrided + (longest - firstStrided - kEdge + kStride - 1) / kStride * kStride;
}

// Which of the first 16 lengths of a match of count lengths are priced, as bits from its
// shortest up, by count; from 32 lengths on the first 16 are priced alike.
constexpr std::array<std::uint16_t, 33> kPricedOfFirst16 = [] {
    std::array<std::uint16_t, 33> priced{};
    for (std::uint32_t count = 1; count < priced.size(); ++count) {
        for (std::uint32_t length = 0; length < std::min(count, 16u); ++length) {
            if (length < kEdge || length % kStride == 0 || length >= TailStart(0, count - 1)) {
                priced[count] |= static_cast<std::uint16_t>(1u << length);
            }
        }
    }
    return priced;
}();

// What the relaxation of a region works from; lengthArrival has room below length 0 and above
// the longest, which the vector builds read for lanes they leave alone.
struct RegionInput {
    std::span<const std::uint8_t> bytes;
    std::span<const PathRelaxer::Match> matches;
    const CodeCosts* costs;
    const Arrival* lengthArrival;  // by match length: its cost and step, with no distance
};

// One match's lengths [shorter, longest] from position at.
struct MatchRelax {
    std::size_t at;
    std::uint32_t shorter;
    std::uint32_t longest;
    Arrival added;  // to a length's arrival: the position's and the distance's cost, the distance
};

// Relaxes length by length, only the lengths that are priced.
struct ScalarLanes {
    static void Relax(Arrival* reached, const MatchRelax& m, const Arrival* lengthArrival) {
        Arrival* next = reached + m.at;
        auto relax = [&](std::uint32_t length) {
            next[length] = std::min(next[length], lengthArrival[length] + m.added);
        };
        // Between the short lengths and the last few, every fourth will do.
        std::uint32_t length = m.shorter;
        for (std::uint32_t edge = std::min(m.shorter + kEdge, m.longest + 1); length < edge;
             ++length) {
            relax(length);
        }
        for (; length + kEdge < m.longest; length += kStride) {
            relax(length);
        }
        for (; length <= m.longest; ++length) {
            relax(length);
        }
    }
};

#if ZEMBRAT_LHA_VECTOR_RELAX
// The vector builds relax the lanes of aligned groups of arrivals that the match reaches,
// leaving alone the lanes outside it and those the scalar build does not price. Groups start
// at multiples of their width, so a group read back is one stored whole before: the store
// forwards to the load. Lengths below 0 and past the longest read the cost table's room.
#define ZEMBRAT_AVX512 "avx512f,avx512vl,avx512dq,avx512bw"

// The match length at which a position lies, negative for lanes before the match's start.
inline std::ptrdiff_t LengthOf(std::size_t position, std::size_t matchAt) {
    return static_cast<std::ptrdiff_t>(position) - static_cast<std::ptrdiff_t>(matchAt);
}

struct Avx512Lanes {
    // Most matches reach two groups at most: both are relaxed without asking, their lanes
    // priced by a table; further ones in a loop.
    [[gnu::target(ZEMBRAT_AVX512)]] static void Relax(Arrival* reached, const MatchRelax& m,
                                                      const Arrival* lengthArrival) {
        const __m512i added = _mm512_set1_epi64(static_cast<std::int64_t>(m.added));
        const std::size_t first = m.at + m.shorter;
        const std::size_t group = first & ~std::size_t{7};
        const std::uint32_t priced =
            std::uint32_t{kPricedOfFirst16[std::min<std::uint32_t>(m.longest + 1 - m.shorter, 32)]}
            << (first & 7);
        // group may lie a few lanes below the match's start: a signed step into the room below
        // length 0 (an unsigned one would wrap past the object before coming back).
        const Arrival* groupArrival = lengthArrival + LengthOf(group, m.at);
        RelaxGroup(reached + group, groupArrival, added, static_cast<__mmask8>(priced));
        RelaxGroup(reached + group + 8, groupArrival + 8, added,
                   static_cast<__mmask8>(priced >> 8));
        if (group + 16 <= m.at + m.longest) {
            RelaxLongMatch(reached, m, lengthArrival, group + 16, added);
        }
    }

  private:
    [[gnu::target(ZEMBRAT_AVX512)]] static void RelaxGroup(Arrival* group,
                                                           const Arrival* lengthArrival,
                                                           __m512i added, __mmask8 priced) {
        const __m512i candidate = _mm512_add_epi64(_mm512_loadu_si512(lengthArrival), added);
        Arrival* at = std::assume_aligned<kCacheLine>(group);
        __m512i old = _mm512_load_si512(at);
        // Stored whole, not as the masked store GCC would make of it: a masked store does not
        // forward to the loads of the group that follow.
        asm("" : "+v"(old));
        _mm512_store_si512(at, _mm512_mask_min_epu64(old, priced, old, candidate));
    }

    // The groups past the first two, priced lane by lane: every kStride-th, then the tail.
    [[gnu::target(ZEMBRAT_AVX512), gnu::noinline]] static void RelaxLongMatch(
        Arrival* reached, const MatchRelax& m, const Arrival* lengthArrival, std::size_t from,
        __m512i added) {
        const __m512i lane = _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0);
        const __m512i widest = _mm512_set1_epi64(m.longest - m.shorter);
        const __m512i tail = _mm512_set1_epi64(TailStart(m.shorter, m.longest) - m.shorter);
        for (std::size_t group = from; group <= m.at + m.longest; group += 8) {
            const __m512i fromShorter = _mm512_add_epi64(
                lane, _mm512_set1_epi64(static_cast<std::int64_t>(group - m.at - m.shorter)));
            const __mmask8 priced =
                _mm512_cmple_epu64_mask(fromShorter, widest) &
                (_mm512_testn_epi64_mask(fromShorter, _mm512_set1_epi64(kStride - 1)) |
                 _mm512_cmpge_epu64_mask(fromShorter, tail));
            RelaxGroup(reached + group, lengthArrival + LengthOf(group, m.at), added, priced);
        }
    }
};

// AVX2 has no unsigned 64-bit minimum; arrivals stay below 2^63, so the signed compare serves.
struct Avx2Lanes {
    [[gnu::target("avx2")]] static void Relax(Arrival* reached, const MatchRelax& m,
                                              const Arrival* lengthArrival) {
        const __m256i lane = _mm256_set_epi64x(3, 2, 1, 0);
        const __m256i beforeFirst = _mm256_set1_epi64x(-1);
        const __m256i pastWidest = _mm256_set1_epi64x(m.longest - m.shorter + 1);
        const __m256i edge = _mm256_set1_epi64x(kEdge);
        const __m256i stride = _mm256_set1_epi64x(kStride - 1);
        const __m256i beforeTail =
            _mm256_set1_epi64x(TailStart(m.shorter, m.longest) - m.shorter - 1);
        const __m256i added = _mm256_set1_epi64x(static_cast<std::int64_t>(m.added));
        const std::size_t last = (m.at + m.longest) & ~std::size_t{3};
        for (std::size_t group = (m.at + m.shorter) & ~std::size_t{3}; group <= last; group += 4) {
            const auto firstLength = static_cast<std::int64_t>(group - m.at);
            const __m256i length = _mm256_add_epi64(lane, _mm256_set1_epi64x(firstLength));
            const __m256i fromShorter = _mm256_sub_epi64(length, _mm256_set1_epi64x(m.shorter));
            const __m256i inside = _mm256_and_si256(_mm256_cmpgt_epi64(fromShorter, beforeFirst),
                                                    _mm256_cmpgt_epi64(pastWidest, fromShorter));
            const __m256i strided = _mm256_or_si256(
                _mm256_or_si256(_mm256_cmpgt_epi64(edge, fromShorter),
                                _mm256_cmpeq_epi64(_mm256_and_si256(fromShorter, stride),
                                                   _mm256_setzero_si256())),
                _mm256_cmpgt_epi64(fromShorter, beforeTail));
            const __m256i candidate = _mm256_add_epi64(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lengthArrival + firstLength)),
                added);
            auto* at = reinterpret_cast<__m256i*>(reached + group);
            const __m256i old = _mm256_load_si256(at);
            const __m256i better = _mm256_and_si256(_mm256_and_si256(inside, strided),
                                                    _mm256_cmpgt_epi64(old, candidate));
            _mm256_store_si256(at, _mm256_blendv_epi8(old, candidate, better));
        }
    }
};
#endif

// Fills best[0..n] with the cheapest arrivals; the matches relax reached (aligned, with room
// past n), the literals go from best to best, so the two never share a store.
template <class Lanes>
void RelaxRegion(const RegionInput& in, Arrival* reached, Arrival* best) {
    constexpr Arrival kCostMask = ~Arrival{0xffffffff};
    const std::size_t n = in.bytes.size();
    best[0] = Arrive(0, 0, 0);
    if (n == 0) {
        return;
    }
    // Locals, so that the stores through reached and best are not taken to change them.
    const std::uint8_t* const bytes = in.bytes.data();
    const CodeCosts& costs = *in.costs;
    std::array<Arrival, 256> literalArrival;
    for (std::uint32_t byte = 0; byte < literalArrival.size(); ++byte) {
        literalArrival[byte] = Arrive(costs.code[byte], 1, 0);
    }
    std::size_t i = 0;
    Arrival current = best[0];
    // What the matches give position i + 2 is final once those from i - 1 are relaxed: it is
    // read when moving on to i and used two positions later, so that the literal chain does
    // not wait for the stores of the groups just relaxed.
    Arrival reachedNext = reached[1];   // reached[i + 1]
    Arrival reachedAfter = reached[2];  // reached[i + 2]
    // Moves on a position when moveOn is all ones, stays when it is none, with no branch.
    auto step = [&](Arrival moveOn) {
        const Arrival stepped =
            std::min(reachedNext, (current & kCostMask) + literalArrival[bytes[i]]);
        // Read only when moving on: a read kept for nothing would still wait for the store of
        // the group before, which often holds lane i + 3. reached[0] has no store pending.
        const Arrival loaded = reached[(i + 3) & moveOn];
        current = (stepped & moveOn) | (current & ~moveOn);
        reachedNext = (reachedAfter & moveOn) | (reachedNext & ~moveOn);
        reachedAfter = (loaded & moveOn) | (reachedAfter & ~moveOn);
        i += moveOn & 1;
        best[i] = current;
    };
    std::uint32_t shorter = MatchFinder::kMinMatch;
    for (const PathRelaxer::Match& match : in.matches) {
        // Positions without matches in between, one by one; whether to move on to the match's
        // own is as good as random, so that is done without a branch.
        for (std::uint32_t k = 1; k < match.advance; ++k) {
            step(~Arrival{0});
        }
        const Arrival moveOn = Arrival{0} - (match.advance != 0);
        step(moveOn);
        shorter =
            static_cast<std::uint32_t>((MatchFinder::kMinMatch & moveOn) | (shorter & ~moveOn));
        const Arrival added = (current & kCostMask) +
                              (Arrival{costs.position[PositionSlot(match.distance - 1u)]} << 32) +
                              match.distance;
        Lanes::Relax(reached, {i, shorter, match.length, added}, in.lengthArrival);
        shorter = match.length + 1u;
    }
    while (i < n) {
        step(~Arrival{0});
    }
}

using RegionRelax = void (*)(const RegionInput& in, Arrival* reached, Arrival* best);

void RelaxPortable(const RegionInput& in, Arrival* reached, Arrival* best) {
    RelaxRegion<ScalarLanes>(in, reached, best);
}

#if ZEMBRAT_LHA_VECTOR_RELAX
// Flattened, so that the loop and the lanes are compiled for the vector instructions here.
[[gnu::target("avx2"), gnu::flatten]] void RelaxAvx2(const RegionInput& in, Arrival* reached,
                                                     Arrival* best) {
    RelaxRegion<Avx2Lanes>(in, reached, best);
}

[[gnu::target(ZEMBRAT_AVX512), gnu::flatten]] void RelaxAvx512(const RegionInput& in,
                                                               Arrival* reached, Arrival* best) {
    RelaxRegion<Avx512Lanes>(in, reached, best);
}
#endif

RelaxKernel FastestKernel() {
#if ZEMBRAT_LHA_VECTOR_RELAX
    if (RelaxKernelRuns(RelaxKernel::kAvx512)) {
        return RelaxKernel::kAvx512;
    }
    if (RelaxKernelRuns(RelaxKernel::kAvx2)) {
        return RelaxKernel::kAvx2;
    }
#endif
    return RelaxKernel::kPortable;
}

std::atomic<RelaxKernel>& ChosenKernel() {
    static std::atomic<RelaxKernel> chosen{FastestKernel()};
    return chosen;
}

RegionRelax KernelFunction(RelaxKernel kernel) {
    switch (kernel) {
#if ZEMBRAT_LHA_VECTOR_RELAX
        case RelaxKernel::kAvx512:
            return RelaxAvx512;
        case RelaxKernel::kAvx2:
            return RelaxAvx2;
#endif
        default:
            return RelaxPortable;
    }
}

}  // namespace

bool RelaxKernelRuns(RelaxKernel kernel) {
    switch (kernel) {
        case RelaxKernel::kPortable:
            return true;
#if ZEMBRAT_LHA_VECTOR_RELAX
        case RelaxKernel::kAvx2:
            return __builtin_cpu_supports("avx2");
        case RelaxKernel::kAvx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                   __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw");
#endif
        default:
            return false;
    }
}

void UseRelaxKernel(RelaxKernel kernel) {
    ChosenKernel().store(RelaxKernelRuns(kernel) ? kernel : RelaxKernel::kPortable);
}

RelaxKernel CurrentRelaxKernel() {
    return ChosenKernel().load();
}

PathRelaxer::PathRelaxer(std::size_t region)
    : reachedStore_(region + 1 + 2 * kMostLanes + kCacheLine / sizeof(Arrival)),
      reached_(reachedStore_.data()),
      best_(region + 1) {
    void* start = reachedStore_.data();
    std::size_t room = reachedStore_.size() * sizeof(Arrival);
    reached_ = static_cast<Arrival*>(std::align(kCacheLine, sizeof(Arrival), start, room));
}

std::span<const Arrival> PathRelaxer::Relax(std::span<const std::uint8_t> bytes,
                                            std::span<const Match> matches,
                                            const CodeCosts& costs) {
    const std::size_t n = bytes.size();
    std::fill(reached_, reached_ + n + 1 + 2 * kMostLanes, Arrive(kUnreached, 0, 0));
    // Match lengths' arrivals with room on both sides for the lanes left alone.
    std::array<Arrival, kMostLanes + MatchFinder::kMaxMatch + 1 + 3 * kMostLanes> lengthArrival{};
    for (std::uint32_t length = MatchFinder::kMinMatch; length <= MatchFinder::kMaxMatch;
         ++length) {
        lengthArrival[kMostLanes + length] =
            Arrive(costs.code[256 + length - MatchFinder::kMinMatch], length, 0);
    }
    const RegionInput in{bytes, matches, &costs, lengthArrival.data() + kMostLanes};
    KernelFunction(CurrentRelaxKernel())(in, reached_, best_.data());
    return {best_.data(), n + 1};
}

}  // namespace zembrat::lha
