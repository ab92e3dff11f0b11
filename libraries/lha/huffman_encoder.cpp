#include "huffman_encoder.h"

#include <algorithm>
#include <array>
#include <numeric>

namespace zembrat::lha {

std::vector<std::uint8_t> BuildCodeLengths(std::span<const std::uint32_t> frequencies,
                                           int maxLength) {
    std::vector<std::uint8_t> lengths(frequencies.size(), 0);
    // Each used symbol as its frequency above and itself below: sorting these plain numbers
    // orders by frequency, ties by symbol, so the result does not depend on the sort.
    std::vector<std::uint64_t> keys;
    keys.reserve(frequencies.size());
    for (std::uint32_t s = 0; s < frequencies.size(); ++s) {
        if (frequencies[s] != 0) {
            keys.push_back(std::uint64_t{frequencies[s]} << 32 | s);
        }
    }
    std::size_t n = keys.size();
    if (n == 0) {
        return lengths;
    }
    if (n == 1) {
        lengths[static_cast<std::uint32_t>(keys[0])] = 1;
        return lengths;
    }
    std::sort(keys.begin(), keys.end());
    std::vector<std::uint32_t> symbols(n);
    std::transform(keys.begin(), keys.end(), symbols.begin(),
                   [](std::uint64_t key) { return static_cast<std::uint32_t>(key); });
    // Two-queue construction: leaves 0..n-1 (sorted), inner nodes n..2n-2 in creation order.
    std::vector<std::uint64_t> weight(2 * n - 1);
    std::vector<std::uint32_t> parent(2 * n - 1, 0);
    for (std::size_t i = 0; i < n; ++i) {
        weight[i] = frequencies[symbols[i]];
    }
    std::size_t leaf = 0, inner = n;
    auto takeSmallest = [&](std::size_t next) {
        if (leaf < n && (inner >= next || weight[leaf] <= weight[inner])) {
            return leaf++;
        }
        return inner++;
    };
    for (std::size_t next = n; next < 2 * n - 1; ++next) {
        std::size_t a = takeSmallest(next);
        std::size_t b = takeSmallest(next);
        weight[next] = weight[a] + weight[b];
        parent[a] = parent[b] = static_cast<std::uint32_t>(next);
    }
    std::vector<std::uint32_t> depth(2 * n - 1, 0);
    std::vector<std::uint32_t> count(
        std::max<std::size_t>(2 * n, static_cast<std::size_t>(maxLength)) + 2, 0);
    std::size_t deepest = 0;
    for (std::size_t i = 2 * n - 2; i-- > 0;) {
        depth[i] = depth[parent[i]] + 1;
        if (i < n) {
            ++count[depth[i]];
            deepest = std::max<std::size_t>(deepest, depth[i]);
        }
    }
    // Leaves below maxLength move up to it; then, while the code is oversubscribed, the
    // deepest leaf above maxLength moves one level down; finally leaves move up until the code
    // is complete again (the classic decoders accept complete codes only).
    if (deepest > static_cast<std::size_t>(maxLength)) {
        for (std::size_t i = static_cast<std::size_t>(maxLength) + 1; i <= deepest; ++i) {
            count[static_cast<std::size_t>(maxLength)] += count[i];
            count[i] = 0;
        }
        const auto top = static_cast<std::size_t>(maxLength);
        std::uint64_t full = std::uint64_t{1} << top;
        std::uint64_t kraft = 0;
        for (std::size_t l = 1; l <= top; ++l) {
            kraft += static_cast<std::uint64_t>(count[l]) << (top - l);
        }
        while (kraft > full) {
            std::size_t l = top - 1;
            while (count[l] == 0) {
                --l;
            }
            --count[l];
            ++count[l + 1];
            kraft -= std::uint64_t{1} << (top - l - 1);
        }
        while (kraft < full) {
            std::size_t l = top;
            while (count[l] == 0 || (std::uint64_t{1} << (top - l)) > full - kraft) {
                --l;
            }
            --count[l];
            ++count[l - 1];
            kraft += std::uint64_t{1} << (top - l);
        }
    }
    // The most frequent symbols get the shortest codes.
    std::size_t at = n;
    for (int length = 1; length <= maxLength; ++length) {
        for (std::uint32_t k = 0; k < count[static_cast<std::size_t>(length)]; ++k) {
            lengths[symbols[--at]] = static_cast<std::uint8_t>(length);
        }
    }
    return lengths;
}

std::vector<std::uint16_t> CanonicalCodes(std::span<const std::uint8_t> lengths) {
    std::array<std::uint32_t, 18> count{}, next{};
    for (std::uint8_t length : lengths) {
        ++count[length];
    }
    count[0] = 0;
    for (int length = 1; length <= 16; ++length) {
        next[length + 1] = (next[length] + count[length]) << 1;
    }
    std::vector<std::uint16_t> codes(lengths.size(), 0);
    for (std::size_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s] != 0) {
            codes[s] = static_cast<std::uint16_t>(next[lengths[s]]++);
        }
    }
    return codes;
}

}  // namespace zembrat::lha
