#include "match_finder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace zembrat::lha {
namespace {

constexpr int kHashBits = 16;
constexpr std::int32_t kNone = -1;

constexpr int kNearHashBits = 14;

std::uint32_t Load24(const std::uint8_t* at) {
    return at[0] | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16;
}
std::uint32_t Hash4(const std::uint8_t* at) {
    std::uint32_t v;
    std::memcpy(&v, at, 4);
    return (v * 2654435761u) >> (32 - kHashBits);
}
std::uint32_t Hash3(const std::uint8_t* at) {
    return (Load24(at) * 2246822519u) >> (32 - kNearHashBits);
}

}  // namespace

MatchFinder::MatchFinder(int windowBits, MatchEffort effort)
    : effort_(effort),
      window_(std::size_t{1} << windowBits),
      maxDistance_(window_ - 1),
      head_(std::size_t{1} << kHashBits, kNone),
      nearHead_(std::size_t{1} << kNearHashBits, kNone),
      tree_(2 * window_, kNone) {}

void MatchFinder::Begin(std::span<const std::uint8_t> data, std::size_t start) {
    if (data.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) ||
        start > data.size()) {
        throw std::length_error("match finder: chunk too large");
    }
    data_ = data.data();
    end_ = data.size();
    std::fill(head_.begin(), head_.end(), kNone);
    std::fill(nearHead_.begin(), nearHead_.end(), kNone);
    // The tree needs no clearing: every walk stops at positions out of the window, and a slot
    // is rewritten before its position is reachable.
    for (position_ = start - std::min(start, maxDistance_); position_ < start;) {
        Walk<false>(nullptr);
    }
}

std::size_t MatchFinder::Find(Found* out) {
    return Walk<true>(out);
}

void MatchFinder::Skip() {
    Walk<false>(nullptr);
}

// The tree holds the window's positions ordered by the bytes that follow them, the newest at
// the root; each position is inserted as the new root by splitting the tree along the path of
// its own bytes. Nodes on that path come newest first, so each longer match on it is the
// nearest of its length.
template <bool kRecord>
std::size_t MatchFinder::Walk(Found* out) {
    std::size_t at = position_++;
    auto limit = static_cast<std::uint32_t>(std::min<std::size_t>(end_ - at, kMaxMatch));
    if (limit < kMinMatch) {
        return 0;
    }
    const std::uint8_t* here = data_ + at;
    std::int64_t oldest = static_cast<std::int64_t>(at) - static_cast<std::int64_t>(maxDistance_);
    std::uint32_t best = kMinMatch - 1;
    std::size_t count = 0;
    // The tree holds 4-byte prefixes; the nearest 3-byte match comes from a table of its own.
    std::int32_t& nearest = nearHead_[Hash3(here)];
    if (kRecord && nearest != kNone && nearest >= oldest) {
        std::uint32_t length = CommonLength(here, data_ + nearest, limit);
        if (length >= kMinMatch) {
            best = length;
            out[count++] = {length,
                            static_cast<std::uint32_t>(at - static_cast<std::size_t>(nearest))};
        }
    }
    nearest = static_cast<std::int32_t>(at);
    std::uint32_t niceLimit = std::min(limit, effort_.niceLength);
    std::int32_t* smaller = &tree_[2 * (at & (window_ - 1))];  // where the next smaller node goes
    std::int32_t* larger = smaller + 1;
    if (limit < 4) {
        *smaller = *larger = kNone;
        return count;
    }
    std::int32_t& head = head_[Hash4(here)];
    std::int32_t candidate = head;
    head = static_cast<std::int32_t>(at);
    std::uint32_t smallerLength = 0, largerLength = 0;  // bytes known equal on each side
    if (at + 2 + 4 <= end_) {
        // The walks two and one positions on start at nodes and bytes far apart: fetch
        // them while this walk goes on.
        __builtin_prefetch(&head_[Hash4(here + 2)]);
        std::int32_t next = head_[Hash4(here + 1)];
        if (next != kNone) {
            __builtin_prefetch(&tree_[2 * (static_cast<std::size_t>(next) & (window_ - 1))]);
            __builtin_prefetch(data_ + next);
        }
    }
    for (int depth = effort_.depth;; --depth) {
        if (candidate == kNone || candidate < oldest || depth == 0) {
            *smaller = *larger = kNone;
            break;
        }
        std::int32_t* node = &tree_[2 * (static_cast<std::size_t>(candidate) & (window_ - 1))];
        const std::uint8_t* there = data_ + candidate;
        std::uint32_t length = std::min(smallerLength, largerLength);
        length += CommonLength(here + length, there + length, niceLimit - length);
        if (kRecord && length > best && length >= kMinMatch) {
            best = length;
            out[count++] = {length,
                            static_cast<std::uint32_t>(at - static_cast<std::size_t>(candidate))};
        }
        if (length == niceLimit) {
            // Equal as far as the tree orders: the new root takes over the node's subtrees.
            *smaller = node[0];
            *larger = node[1];
            break;
        }
        if (there[length] < here[length]) {
            *smaller = candidate;
            smaller = node + 1;
            candidate = *smaller;
            smallerLength = length;
        } else {
            *larger = candidate;
            larger = node;
            candidate = *larger;
            largerLength = length;
        }
    }
    if (kRecord && count > 0 && best == niceLimit && niceLimit < limit &&
        out[count - 1].length == niceLimit) {
        Found& longest = out[count - 1];
        longest.length += CommonLength(here + best, here + best - longest.distance, limit - best);
    }
    return count;
}

}  // namespace zembrat::lha
