#include "match_finder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace zembrat::lha {
namespace {

constexpr int kHashBits = 16;
constexpr int kNearHashBits = 14;

}  // namespace

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

MatchFinder::MatchFinder(int windowBits, MatchEffort effort)
    : effort_(effort),
      window_(std::size_t{1} << windowBits),
      maxDistance_(window_ - 1),
      head_(std::size_t{1} << kHashBits, -1),
      nearHead_(std::size_t{1} << kNearHashBits, -1),
      previous_(window_, 0) {}

void MatchFinder::Begin(std::span<const std::uint8_t> data, std::size_t start) {
    if (data.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) ||
        start > data.size()) {
        throw std::length_error("match finder: chunk too large");
    }
    data_ = data.data();
    end_ = data.size();
    std::fill(head_.begin(), head_.end(), -1);
    std::fill(nearHead_.begin(), nearHead_.end(), -1);
    std::fill(previous_.begin(), previous_.end(), std::uint16_t{0});
    for (position_ = start - std::min(start, maxDistance_); position_ < start; ++position_) {
        if (Insertable(position_)) {
            Insert(position_);
        }
    }
}

std::int32_t MatchFinder::Insert(std::size_t at) {
    std::uint32_t v = Load32(data_ + at);
    std::uint32_t near = ((v & 0xFFFFFFu) * 2246822519u) >> (32 - kNearHashBits);
    nearest_ = nearHead_[near];
    nearHead_[near] = static_cast<std::int32_t>(at);
    std::uint32_t h = (v * 2654435761u) >> (32 - kHashBits);
    std::int32_t old = head_[h];
    std::size_t distance = at - static_cast<std::size_t>(old);
    previous_[at & (window_ - 1)] =
        old >= 0 && distance <= maxDistance_ ? static_cast<std::uint16_t>(distance) : 0;
    head_[h] = static_cast<std::int32_t>(at);
    return old;
}

std::int32_t MatchFinder::Gain(Found match, const CodeCosts& costs) {
    std::uint32_t bits =
        costs.code[match.length - kMinMatch + 256] +
        costs.position[static_cast<std::uint32_t>(std::bit_width(match.distance - 1))];
    return static_cast<std::int32_t>(match.length * costs.literalAverage) -
           static_cast<std::int32_t>(bits * 16);
}

bool MatchFinder::WorthMatching(Found match, const CodeCosts& costs, const std::uint8_t* bytes) {
    constexpr std::uint32_t kShort = 8;  // longer matches always pay
    if (match.length > kShort) {
        return true;
    }
    std::uint32_t literals = 0;
    for (std::uint32_t i = 0; i < match.length; ++i) {
        literals += costs.code[bytes[i]];
    }
    std::uint32_t bits =
        costs.code[match.length - kMinMatch + 256] +
        costs.position[static_cast<std::uint32_t>(std::bit_width(match.distance - 1))];
    return bits < literals;
}

MatchFinder::Found MatchFinder::Longest(std::int32_t candidate, std::uint32_t better,
                                        std::uint32_t limit, const CodeCosts& costs) const {
    Found best;
    std::int32_t bestGain = std::numeric_limits<std::int32_t>::min();
    std::uint32_t bestLength = std::max(better, kMinMatch - 1);
    if (bestLength >= limit) {
        return best;
    }
    int chain = better >= effort_.goodLength ? effort_.maxChain / 4 : effort_.maxChain;
    const std::uint8_t* here = data_ + position_;
    std::int64_t oldest =
        static_cast<std::int64_t>(position_) - static_cast<std::int64_t>(maxDistance_);
    // The chains link 4-byte prefixes; the nearest 3-byte match comes from its own table.
    if (bestLength < kMinMatch && nearest_ >= 0 && nearest_ >= oldest) {
        std::uint32_t length = CommonLength(here, data_ + nearest_, limit);
        if (length >= kMinMatch) {
            best = {length,
                    static_cast<std::uint32_t>(position_ - static_cast<std::size_t>(nearest_))};
            bestGain = Gain(best, costs);
            bestLength = length;
        }
    }
    if (bestLength >= limit) {
        return best;  // nothing can be longer; the tail check below would read past the limit
    }
    while (candidate >= 0 && candidate >= oldest && chain-- > 0) {
        const std::uint8_t* there = data_ + candidate;
        // The last bytes a longer match needs, and the first four (the chain's hash may collide).
        std::uint32_t tail = bestLength > 3 ? bestLength - 3 : 0;
        if (Load32(there + tail) == Load32(here + tail) && Load32(there) == Load32(here)) {
            std::uint32_t length = CommonLength(here, there, limit);
            if (length > bestLength) {
                // Nearer candidates come first: a longer one further back must pay for its
                // dearer distance.
                Found found{length, static_cast<std::uint32_t>(
                                        position_ - static_cast<std::size_t>(candidate))};
                std::int32_t gain = Gain(found, costs);
                if (gain > bestGain) {
                    best = found;
                    bestGain = gain;
                    bestLength = length;
                    if (length >= effort_.niceLength || length >= limit) {
                        break;
                    }
                }
            }
        }
        candidate = Older(candidate);
    }
    return best;
}

void MatchFinder::Parse(std::span<const std::uint8_t> data, std::size_t start, TokenSink& sink,
                        const CodeCosts& costs) {
    Begin(data, start);
    bool pending = false;  // a literal or match at position_ - 1 waits for the lazy decision
    Found previous;
    while (position_ < end_) {
        std::size_t available = end_ - position_;
        Found current;
        if (Insertable(position_)) {
            std::int32_t candidate = Insert(position_);
            if (!(pending && previous.length >= effort_.lazyLength)) {
                std::uint32_t limit =
                    static_cast<std::uint32_t>(std::min<std::size_t>(available, kMaxMatch));
                current = Longest(candidate, pending ? previous.length : 0, limit, costs);
                if (current.length != 0 && !WorthMatching(current, costs, data_ + position_)) {
                    current = {};
                }
            }
        }
        if (pending && previous.length >= kMinMatch &&
            (current.length == 0 ||
             Gain(current, costs) + static_cast<std::int32_t>(costs.literalAverage) -
                     static_cast<std::int32_t>(16 * costs.code[data_[position_ - 1]]) <=
                 Gain(previous, costs))) {
            sink.Match(previous.length, previous.distance);
            std::size_t matchEnd = position_ - 1 + previous.length;
            for (std::size_t at = position_ + 1; at < matchEnd; ++at) {
                if (Insertable(at)) {
                    Insert(at);
                }
            }
            position_ = matchEnd;
            pending = false;
            continue;
        }
        if (pending) {
            sink.Literal(data_[position_ - 1]);
        }
        pending = true;
        previous = current;
        ++position_;
    }
    if (pending) {
        if (previous.length >= kMinMatch) {
            sink.Match(previous.length, previous.distance);
        } else {
            sink.Literal(data_[position_ - 1]);
        }
    }
}

}  // namespace zembrat::lha
