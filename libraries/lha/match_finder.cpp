#include "match_finder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "lha/archive.h"

namespace zembrat::lha {
namespace {

constexpr int kHashBits = 16;
constexpr int kNearHashBits = 14;
constexpr std::size_t kSlideBytes = 1 << 20;
constexpr std::size_t kPadding = 16;

std::uint32_t Load32(const std::uint8_t* at) {
    std::uint32_t v;
    std::memcpy(&v, at, 4);
    return v;
}

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

}  // namespace

MatchFinder::MatchFinder(int windowBits, MatchEffort effort)
    : effort_(effort),
      window_(std::size_t{1} << windowBits),
      maxDistance_(window_ - 1),
      buffer_(window_ + kSlideBytes + kPadding, 0),
      head_(std::size_t{1} << kHashBits, -1),
      nearHead_(std::size_t{1} << kNearHashBits, -1),
      previous_(window_, -1) {}

std::uint32_t MatchFinder::Hash(std::size_t at) const {
    std::uint32_t v;
    std::memcpy(&v, buffer_.data() + at, 4);
    return (v * 2654435761u) >> (32 - kHashBits);
}

std::int32_t MatchFinder::Insert(std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, buffer_.data() + at, 4);
    std::uint32_t near = ((v & 0xFFFFFFu) * 2246822519u) >> (32 - kNearHashBits);
    nearest_ = nearHead_[near];
    nearHead_[near] = static_cast<std::int32_t>(at);
    std::uint32_t h = Hash(at);
    std::int32_t old = head_[h];
    previous_[at & (window_ - 1)] = old;
    head_[h] = static_cast<std::int32_t>(at);
    return old;
}

void MatchFinder::Slide() {
    // Keep at least a window of history; slide by whole windows so chain slots stay put.
    std::size_t shift = ((position_ - window_) / window_) * window_;
    if (shift == 0) {
        return;
    }
    std::memmove(buffer_.data(), buffer_.data() + shift, end_ - shift);
    position_ -= shift;
    end_ -= shift;
    auto rebase = [shift](std::int32_t& p) {
        p = p >= static_cast<std::int32_t>(shift) ? p - static_cast<std::int32_t>(shift) : -1;
    };
    std::for_each(head_.begin(), head_.end(), rebase);
    std::for_each(nearHead_.begin(), nearHead_.end(), rebase);
    std::for_each(previous_.begin(), previous_.end(), rebase);
}

void MatchFinder::Refill(InputStream& input, std::uint64_t& left) {
    if (left == 0 || end_ - position_ >= kMaxMatch + 1) {
        return;
    }
    std::size_t capacity = buffer_.size() - kPadding;
    if (end_ == capacity) {
        Slide();
    }
    while (left > 0 && end_ < capacity) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, capacity - end_));
        std::size_t got =
            input.Read(std::as_writable_bytes(std::span(buffer_.data() + end_, want)));
        if (got == 0) {
            throw Error(ErrorKind::kIo, "input ended before its stated size");
        }
        end_ += got;
        left -= got;
    }
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
    const std::uint8_t* here = buffer_.data() + position_;
    std::int64_t oldest =
        static_cast<std::int64_t>(position_) - static_cast<std::int64_t>(maxDistance_);
    // The chains link 4-byte prefixes; the nearest 3-byte match comes from its own table.
    if (bestLength < kMinMatch && nearest_ >= 0 && nearest_ >= oldest) {
        std::uint32_t length = CommonLength(here, buffer_.data() + nearest_, limit);
        if (length >= kMinMatch) {
            best = {length,
                    static_cast<std::uint32_t>(position_ - static_cast<std::size_t>(nearest_))};
            bestGain = Gain(best, costs);
            bestLength = length;
        }
    }
    while (candidate >= 0 && candidate >= oldest && chain-- > 0) {
        const std::uint8_t* there = buffer_.data() + candidate;
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
        std::int32_t next = previous_[static_cast<std::size_t>(candidate) & (window_ - 1)];
        if (next >= candidate) {
            break;  // a slot reused by a newer position: the chain ends here
        }
        candidate = next;
    }
    return best;
}

void MatchFinder::Parse(InputStream& input, std::uint64_t size, TokenSink& sink,
                        const CodeCosts& costs) {
    std::uint64_t left = size;
    bool pending = false;  // a literal or match at position_ - 1 waits for the lazy decision
    Found previous;
    for (;;) {
        Refill(input, left);
        if (position_ >= end_) {
            break;
        }
        std::size_t available = end_ - position_;
        Found current;
        if (available >= kMinMatch) {
            std::int32_t candidate = Insert(position_);
            if (!(pending && previous.length >= effort_.lazyLength)) {
                std::uint32_t limit =
                    static_cast<std::uint32_t>(std::min<std::size_t>(available, kMaxMatch));
                current = Longest(candidate, pending ? previous.length : 0, limit, costs);
                if (current.length != 0 &&
                    !WorthMatching(current, costs, buffer_.data() + position_)) {
                    current = {};
                }
            }
        }
        if (pending && previous.length >= kMinMatch &&
            (current.length == 0 ||
             Gain(current, costs) + static_cast<std::int32_t>(costs.literalAverage) -
                     static_cast<std::int32_t>(16 * costs.code[buffer_[position_ - 1]]) <=
                 Gain(previous, costs))) {
            sink.Match(previous.length, previous.distance);
            std::size_t matchEnd = position_ - 1 + previous.length;
            for (std::size_t at = position_ + 1; at < matchEnd; ++at) {
                if (at + kMinMatch <= end_) {
                    Insert(at);
                }
            }
            position_ = matchEnd;
            pending = false;
            continue;
        }
        if (pending) {
            sink.Literal(buffer_[position_ - 1]);
        }
        pending = true;
        previous = current;
        ++position_;
    }
    if (pending) {
        if (previous.length >= kMinMatch) {
            sink.Match(previous.length, previous.distance);
        } else {
            sink.Literal(buffer_[position_ - 1]);
        }
    }
}

}  // namespace zembrat::lha
