#include "adaptive_huffman.h"

#include <limits>

namespace zembrat::lha {

AdaptiveHuffman::AdaptiveHuffman(int symbols)
    : symbols_(symbols), extendedCode_(symbols >= kCharSymbols ? -1 : symbols - 1) {
    for (int i = 0; i < kNodes; ++i) {
        freeBlocks_[static_cast<std::size_t>(i)] = i;
    }
    // Leaves in symbol order from the far end, then inner nodes pairing them up to the root.
    int node = 2 * symbols - 2;
    for (int symbol = 0; symbol < symbols; ++symbol, --node) {
        freq_[node] = 1;
        child_[node] = ~symbol;
        leafOf_[symbol] = node;
        block_[node] = 1;
    }
    blocksInUse_ = 2;  // block 0 is never used, block 1 holds the leaves
    leader_[1] = symbols - 1;
    int pair = 2 * symbols - 2;
    for (; node >= 0; --node, pair -= 2) {
        freq_[node] = freq_[pair] + freq_[pair - 1];
        child_[node] = pair;
        parent_[pair] = parent_[pair - 1] = node;
        if (freq_[node] == freq_[node + 1]) {
            block_[node] = block_[node + 1];
        } else {
            block_[node] = freeBlocks_[blocksInUse_++];
        }
        leader_[block_[node]] = node;
    }
}

int AdaptiveHuffman::Walk(BitReader& bits, int root) const {
    int node = child_[root];
    while (node > 0) {
        node = child_[node - static_cast<int>(bits.Get(1))];
    }
    return ~node;
}

int AdaptiveHuffman::DecodeCode(BitReader& bits) {
    int symbol = Walk(bits, kRootCodes);
    CountCode(symbol);
    if (symbol == extendedCode_) {
        symbol += static_cast<int>(bits.Get(8));
    }
    return symbol;
}

void AdaptiveHuffman::Relink(int node) {
    int c = child_[node];
    if (c >= 0) {
        parent_[c] = parent_[c - 1] = node;
    } else {
        leafOf_[~c] = node;
    }
}

void AdaptiveHuffman::JoinOrNewBlock(int node) {
    if (++freq_[node] == freq_[node - 1]) {
        block_[node] = block_[node - 1];
    } else {
        block_[node] = freeBlocks_[blocksInUse_++];
        leader_[block_[node]] = node;
    }
}

// Counts one more use of node, first moving it to the front of its block (towards the root)
// so that the order by frequency holds. Returns the parent to count next.
int AdaptiveHuffman::SwapIncrement(int node) {
    int b = block_[node];
    int front = leader_[b];
    if (front != node) {
        std::swap(child_[node], child_[front]);
        Relink(node);
        Relink(front);
        node = front;
        ++leader_[b];
        JoinOrNewBlock(node);
    } else if (b == block_[node + 1]) {
        ++leader_[b];
        JoinOrNewBlock(node);
    } else if (++freq_[node] == freq_[node - 1]) {
        freeBlocks_[--blocksInUse_] = b;
        block_[node] = block_[node - 1];
    }
    return parent_[node];
}

// Halves the frequencies of the leaves in [start, end) and builds the tree again.
void AdaptiveHuffman::Rebuild(int start, int end) {
    int leaves = start;
    int lastBlock = 0;
    for (int i = start; i < end; ++i) {
        if (child_[i] < 0) {
            freq_[leaves] = (freq_[i] + 1) / 2;
            child_[leaves] = child_[i];
            ++leaves;
        }
        lastBlock = block_[i];
        if (leader_[lastBlock] == i) {
            freeBlocks_[--blocksInUse_] = lastBlock;
        }
    }
    int leaf = leaves - 1;
    int at = end - 1;
    int pair = end - 2;
    auto moveLeaf = [&] {
        freq_[at] = freq_[leaf];
        child_[at] = child_[leaf];
        --at;
        --leaf;
    };
    while (at >= start) {
        while (at >= pair) {
            moveLeaf();
        }
        std::uint32_t sum = freq_[pair] + freq_[pair + 1];
        int k = start;
        while (k <= leaf && sum < freq_[k]) {
            ++k;
        }
        while (leaf >= k) {
            moveLeaf();
        }
        freq_[at] = sum;
        child_[at] = pair + 1;
        --at;
        pair -= 2;
    }
    std::uint32_t current = 0;
    int b = lastBlock;
    for (int i = start; i < end; ++i) {
        Relink(i);
        if (freq_[i] == current) {
            block_[i] = b;
        } else {
            b = block_[i] = freeBlocks_[blocksInUse_++];
            leader_[b] = i;
            current = freq_[i];
        }
    }
}

void AdaptiveHuffman::CountCode(int symbol) {
    if (freq_[kRootCodes] == 0x8000) {
        Rebuild(kRootCodes, 2 * symbols_ - 1);
    }
    ++freq_[kRootCodes];
    int node = leafOf_[symbol];
    do {
        node = SwapIncrement(node);
    } while (node != kRootCodes);
}

void AdaptiveHuffman::StartPositions(int windowBits) {
    freq_[kRootPositions] = 1;
    child_[kRootPositions] = ~kCharSymbols;
    leafOf_[kCharSymbols] = kRootPositions;
    block_[kRootPositions] = freeBlocks_[blocksInUse_++];
    leader_[block_[kRootPositions]] = kRootPositions;
    lastPositionNode_ = kRootPositions;
    positionTotal_ = 0;
    windowSize_ = std::uint64_t{1} << windowBits;
    nextPositionAt_ = 64;
}

void AdaptiveHuffman::CountPosition(int position) {
    if (positionTotal_ == 0x8000) {
        Rebuild(kRootPositions, lastPositionNode_ + 1);
        positionTotal_ = freq_[kRootPositions];
        freq_[kRootPositions] = kSentinel;
    }
    int node = leafOf_[position + kCharSymbols];
    while (node != kRootPositions) {
        node = SwapIncrement(node);
    }
    ++positionTotal_;
}

// The last node splits into itself and a new leaf of frequency 0 for the position block.
void AdaptiveHuffman::AddPositionLeaf(int position) {
    int last = lastPositionNode_;
    int moved = last + 1;
    int fresh = last + 2;
    child_[moved] = child_[last];
    leafOf_[~child_[moved]] = moved;
    child_[fresh] = ~(position + kCharSymbols);
    child_[last] = fresh;
    freq_[moved] = freq_[last];
    freq_[fresh] = 0;
    block_[moved] = block_[last];
    if (last == kRootPositions) {
        freq_[kRootPositions] = kSentinel;
        ++leader_[block_[kRootPositions]];
    }
    parent_[moved] = parent_[fresh] = last;
    block_[fresh] = freeBlocks_[blocksInUse_++];
    leader_[block_[fresh]] = fresh;
    leafOf_[position + kCharSymbols] = fresh;
    lastPositionNode_ = fresh;
    CountPosition(position);
}

int AdaptiveHuffman::DecodePositionBlock(BitReader& bits, std::uint64_t decoded) {
    while (decoded > nextPositionAt_) {
        AddPositionLeaf(static_cast<int>(nextPositionAt_ / 64));
        nextPositionAt_ += 64;
        if (nextPositionAt_ >= windowSize_) {
            nextPositionAt_ = std::numeric_limits<std::uint64_t>::max();
        }
    }
    int block = Walk(bits, kRootPositions) - kCharSymbols;
    CountPosition(block);
    return block;
}

}  // namespace zembrat::lha
