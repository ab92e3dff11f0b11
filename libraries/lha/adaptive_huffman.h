// The adaptive Huffman trees of -lh1- and -lh2-: a tree of literals and match lengths whose
// nodes stay ordered by frequency as codes are counted, halved when the root reaches 32768;
// and for -lh2- a tree of position blocks that gains a leaf for every 64 bytes of history.
// Encoder and decoder must evolve the trees identically, so ties are broken exactly as the
// classic encoders break them.
#pragma once

#include <array>
#include <cstdint>

#include "bit_reader.h"

namespace zembrat::lha {

class AdaptiveHuffman {
  public:
    // symbols: 314 for -lh1- (lengths up to 60), 286 for -lh2- (the last code takes 8 more
    // bits, lengths up to 256).
    explicit AdaptiveHuffman(int symbols);

    // Literal (0..255) or match length code (256 and above).
    int DecodeCode(BitReader& bits);

    // -lh2- only: starts the position tree for a window of 2^windowBits bytes.
    void StartPositions(int windowBits);
    // The high bits of a position (the low 6 follow), given the bytes decoded so far.
    int DecodePositionBlock(BitReader& bits, std::uint64_t decoded);

  private:
    static constexpr int kCharSymbols = 314;
    static constexpr int kRootCodes = 0;
    static constexpr int kRootPositions = 2 * kCharSymbols;
    static constexpr int kNodes = kRootPositions + 256;
    static constexpr std::uint32_t kSentinel = 0xFFFF;

    int Walk(BitReader& bits, int root) const;
    int SwapIncrement(int node);
    void Relink(int node);
    void JoinOrNewBlock(int node);
    void Rebuild(int start, int end);
    void CountCode(int symbol);
    void CountPosition(int block);
    void AddPositionLeaf(int block);

    int symbols_;
    int extendedCode_;
    std::array<std::uint32_t, kNodes> freq_{};
    std::array<int, kNodes> child_{};  // >= 0: children child and child - 1; < 0: ~symbol
    std::array<int, kNodes> parent_{};
    std::array<int, kNodes> block_{};   // nodes of equal frequency share a block
    std::array<int, kNodes> leader_{};  // per block: its node nearest the root
    std::array<int, kNodes> freeBlocks_{};
    std::array<int, kNodes> leafOf_{};  // per symbol (positions after the characters)
    int blocksInUse_ = 0;
    int lastPositionNode_ = kRootPositions;
    std::uint32_t positionTotal_ = 0;
    std::uint64_t nextPositionAt_ = 64;
    std::uint64_t windowSize_ = 0;
};

}  // namespace zembrat::lha
