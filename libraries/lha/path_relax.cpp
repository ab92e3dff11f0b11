#include "path_relax.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>

#include "match_finder.h"

// x86-64 processors with AVX2 or AVX-512 get vector builds of the relaxation, chosen at run
// time (a test builds the library with ZEMBRAT_LHA_VECTOR_RELAX=0 to check the plain one).
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
// The widest vector, in arrivals: the arrays have this much room past the region's end.
constexpr std::size_t kMostLanes = 8;
constexpr std::size_t kCacheLine = 64;

// The first length of a match's tail, from which every length is priced again.
std::uint32_t TailStart(std::uint32_t shorter, std::uint32_t longest) {
    std::uint32_t firstStrided = shorter + kEdge;
    if (longest < firstStrided + kEdge) {
        return firstStrided;
    }
    return firstStrided + (longest - firstStrided - kEdge + kStride - 1) / kStride * kStride;
}

// What the relaxation of a region works from; lengthCost has kMostLanes entries of room below
// length 0 and above the longest, which the vector builds read for lanes they leave alone.
struct RegionInput {
    std::span<const std::uint8_t> bytes;
    std::span<const Step> matches;
    std::span<const std::uint32_t> firstMatch;
    const CodeCosts* costs;
    const std::uint32_t* lengthCost;  // by match length
};

// One match's lengths [shorter, longest] at cost base plus the length's, from position at.
struct MatchRelax {
    std::size_t at;
    std::uint32_t shorter;
    std::uint32_t longest;
    std::uint32_t base;
    std::uint32_t distance;
};

// Relaxes length by length, only the lengths that are priced.
struct ScalarLanes {
    static void Relax(Arrival* reached, const MatchRelax& m, const std::uint32_t* lengthCost) {
        Arrival* next = reached + m.at;
        auto relax = [&](std::uint32_t length) {
            next[length] =
                std::min(next[length], Arrive(m.base + lengthCost[length], length, m.distance));
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

struct Avx512Lanes {
    [[gnu::target(ZEMBRAT_AVX512)]] static void Relax(Arrival* reached, const MatchRelax& m,
                                                      const std::uint32_t* lengthCost) {
        const __m512i lane = _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0);
        const __m512i widest = _mm512_set1_epi64(m.longest - m.shorter);
        const __m512i edge = _mm512_set1_epi64(kEdge);
        const __m512i stride = _mm512_set1_epi64(kStride - 1);
        const __m512i tail = _mm512_set1_epi64(TailStart(m.shorter, m.longest) - m.shorter);
        const __m512i base = _mm512_set1_epi64(m.base);
        const __m512i stepOfLength0 = _mm512_set1_epi64(0xffff << 16 | m.distance);
        const std::size_t last = (m.at + m.longest) & ~std::size_t{7};
        for (std::size_t group = (m.at + m.shorter) & ~std::size_t{7}; group <= last; group += 8) {
            const auto firstLength = static_cast<std::int64_t>(group - m.at);
            const __m512i length = _mm512_add_epi64(lane, _mm512_set1_epi64(firstLength));
            const __m512i fromShorter = _mm512_sub_epi64(length, _mm512_set1_epi64(m.shorter));
            // Below shorter is a large number unsigned, so past widest too.
            const __mmask8 priced = _mm512_cmple_epu64_mask(fromShorter, widest) &
                                    (_mm512_cmplt_epu64_mask(fromShorter, edge) |
                                     _mm512_testn_epi64_mask(fromShorter, stride) |
                                     _mm512_cmpge_epu64_mask(fromShorter, tail));
            const __m512i costs = _mm512_cvtepu32_epi64(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lengthCost + firstLength)));
            const __m512i candidate =
                _mm512_or_si512(_mm512_slli_epi64(_mm512_add_epi64(costs, base), 32),
                                _mm512_sub_epi64(stepOfLength0, _mm512_slli_epi64(length, 16)));
            const __m512i old = _mm512_load_si512(reached + group);
            _mm512_store_si512(reached + group, _mm512_mask_min_epu64(old, priced, old, candidate));
        }
    }
};

// AVX2 has no unsigned 64-bit minimum; arrivals stay below 2^63, so the signed compare serves.
struct Avx2Lanes {
    [[gnu::target("avx2")]] static void Relax(Arrival* reached, const MatchRelax& m,
                                              const std::uint32_t* lengthCost) {
        const __m256i lane = _mm256_set_epi64x(3, 2, 1, 0);
        const __m256i beforeFirst = _mm256_set1_epi64x(-1);
        const __m256i pastWidest = _mm256_set1_epi64x(m.longest - m.shorter + 1);
        const __m256i edge = _mm256_set1_epi64x(kEdge);
        const __m256i stride = _mm256_set1_epi64x(kStride - 1);
        const __m256i beforeTail =
            _mm256_set1_epi64x(TailStart(m.shorter, m.longest) - m.shorter - 1);
        const __m256i base = _mm256_set1_epi64x(m.base);
        const __m256i stepOfLength0 = _mm256_set1_epi64x(0xffff << 16 | m.distance);
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
            const __m256i costs = _mm256_cvtepu32_epi64(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(lengthCost + firstLength)));
            const __m256i candidate =
                _mm256_or_si256(_mm256_slli_epi64(_mm256_add_epi64(costs, base), 32),
                                _mm256_sub_epi64(stepOfLength0, _mm256_slli_epi64(length, 16)));
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
    const std::size_t n = in.bytes.size();
    Arrival current = Arrive(0, 0, 0);
    for (std::size_t i = 0; i < n; ++i) {
        best[i] = current;
        const std::uint32_t here = CostOf(current);
        std::uint32_t shorter = MatchFinder::kMinMatch;
        for (std::uint32_t k = in.firstMatch[i]; k < in.firstMatch[i + 1]; ++k) {
            const Step match = in.matches[k];
            const std::uint32_t base = here + in.costs->position[PositionSlot(match.distance - 1u)];
            Lanes::Relax(reached, {i, shorter, match.length, base, match.distance}, in.lengthCost);
            shorter = match.length + 1u;
        }
        // The matches from here reach no nearer than kMinMatch on.
        current = std::min(reached[i + 1], Arrive(here + in.costs->code[in.bytes[i]], 1, 0));
    }
    best[n] = current;
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
                                            std::span<const Step> matches,
                                            std::span<const std::uint32_t> firstMatch,
                                            const CodeCosts& costs) {
    const std::size_t n = bytes.size();
    std::fill(reached_, reached_ + n + 1 + kMostLanes, Arrive(kUnreached, 0, 0));
    // Match lengths' costs with room on both sides for the lanes left alone.
    std::array<std::uint32_t, MatchFinder::kMaxMatch + 1 + 2 * kMostLanes> lengthCost{};
    std::copy(costs.code.begin() + 256, costs.code.end(),
              lengthCost.begin() + kMostLanes + MatchFinder::kMinMatch);
    RegionInput in{bytes, matches, firstMatch, &costs, lengthCost.data() + kMostLanes};
    KernelFunction(CurrentRelaxKernel())(in, reached_, best_.data());
    return {best_.data(), n + 1};
}

}  // namespace zembrat::lha
