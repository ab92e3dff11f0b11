#include "ppmd_h.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "rar/archive.h"

namespace zembrat::rar {

namespace {

constexpr int kMaxOrder = 64;
constexpr unsigned kPeriodBits = 7;
constexpr unsigned kTotalBits = 14;
constexpr unsigned kInterval = 1u << 7;
constexpr unsigned kBinScale = 1u << kTotalBits;
constexpr unsigned kMaxFreq = 124;
constexpr std::uint32_t kUnit = 12;
constexpr int kIndexCount = 38;
constexpr std::uint32_t kTop = 1u << 24;
constexpr std::uint32_t kBottom = 1u << 15;

constexpr std::uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};
constexpr std::uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3,
                                          0x64A1, 0x5ABC, 0x6632, 0x6051};

struct See2 {
    std::uint16_t summ = 0;
    std::uint8_t shift = 0;
    std::uint8_t count = 0;

    void Init(unsigned value) {
        shift = kPeriodBits - 4;
        summ = static_cast<std::uint16_t>(value << shift);
        count = 4;
    }
    unsigned Mean() {
        const unsigned mean = summ >> shift;
        summ = static_cast<std::uint16_t>(summ - mean);
        return mean + (mean == 0);
    }
    void Update() {
        if (shift < kPeriodBits && --count == 0) {
            summ = static_cast<std::uint16_t>(summ * 2);
            count = static_cast<std::uint8_t>(3 << shift++);
        }
    }
};

// A state is 6 bytes: symbol, frequency, successor. A context is 12: the number of states,
// the frequency sum, the states, the suffix; with one state, that state sits at offset 2.
using Ref = std::uint32_t;

}  // namespace

struct PpmModel::Impl {
    // The heap: offset 0 is null (and the head of the list the gluing builds).
    std::unique_ptr<std::uint8_t[]> heap;
    std::uint32_t heapMegabytes = 0;
    std::uint32_t size = 0;  // bytes the model may use
    Ref heapStart = kUnit, heapEnd = 0, loUnit = 0, hiUnit = 0, text = 0, unitsStart = 0,
        fakeUnitsStart = 0;
    std::array<Ref, kIndexCount> freeList{};
    std::array<std::uint8_t, kIndexCount> indexToUnits{};
    std::array<std::uint8_t, 128> unitsToIndex{};
    unsigned glueCount = 0;

    // The range coder.
    std::uint32_t low = 0, code = 0, range = 0;
    std::uint32_t lowCount = 0, highCount = 0, scale = 0;

    // The model.
    Ref minContext = 0, maxContext = 0, foundState = 0;
    unsigned numMasked = 0, initEsc = 0, orderFall = 0, maxOrder = 0;
    int runLength = 0, initRl = 0;
    std::uint8_t escCount = 0;  // wraps: at 0 every mask is cleared
    unsigned prevSuccess = 0, hiBitsFlag = 0;
    std::array<std::uint8_t, 256> charMask{};
    std::array<std::uint8_t, 256> ns2Index{};
    std::array<std::uint8_t, 256> ns2BsIndex{};
    std::array<std::uint8_t, 256> hb2Flag{};
    std::uint16_t binSumm[128][64] = {};
    See2 see2[25][16] = {};
    See2 dummySee2;

    BitInput* input = nullptr;

    // Memory access.
    std::uint8_t* At(Ref ref) { return heap.get() + ref; }
    std::uint16_t Get16(Ref ref) {
        std::uint16_t value;
        std::memcpy(&value, At(ref), 2);
        return value;
    }
    void Set16(Ref ref, unsigned value) {
        const auto v = static_cast<std::uint16_t>(value);
        std::memcpy(At(ref), &v, 2);
    }
    Ref Get32(Ref ref) {
        Ref value;
        std::memcpy(&value, At(ref), 4);
        return value;
    }
    void Set32(Ref ref, Ref value) { std::memcpy(At(ref), &value, 4); }

    unsigned NumStats(Ref c) { return Get16(c); }
    void SetNumStats(Ref c, unsigned n) { Set16(c, n); }
    unsigned SummFreq(Ref c) { return Get16(c + 2); }
    void SetSummFreq(Ref c, unsigned n) { Set16(c + 2, n); }
    Ref Stats(Ref c) { return Get32(c + 4); }
    void SetStats(Ref c, Ref s) { Set32(c + 4, s); }
    Ref Suffix(Ref c) { return Get32(c + 8); }
    void SetSuffix(Ref c, Ref s) { Set32(c + 8, s); }
    static Ref OneState(Ref c) { return c + 2; }

    unsigned Symbol(Ref s) { return heap[s]; }
    unsigned Freq(Ref s) { return heap[s + 1]; }
    void SetFreq(Ref s, unsigned f) { heap[s + 1] = static_cast<std::uint8_t>(f); }
    Ref Successor(Ref s) { return Get32(s + 2); }
    void SetSuccessor(Ref s, Ref c) { Set32(s + 2, c); }
    void SwapStates(Ref a, Ref b) {
        std::uint8_t t[6];
        std::memcpy(t, At(a), 6);
        std::memmove(At(a), At(b), 6);
        std::memcpy(At(b), t, 6);
    }
    void CopyState(Ref to, Ref from) { std::memmove(At(to), At(from), 6); }

    // The sub-allocator.
    bool Start(std::uint32_t megabytes) {
        const std::uint32_t bytes = megabytes << 20;
        if (heap && heapMegabytes == megabytes) {
            return true;
        }
        heap.reset();
        heapMegabytes = 0;
        const std::size_t allocSize = bytes / kUnit * kUnit + kUnit;
        heap.reset(new (std::nothrow) std::uint8_t[kUnit + allocSize + 16]);
        if (!heap) {
            return false;
        }
        std::memset(heap.get(), 0, kUnit);
        std::memset(heap.get() + kUnit + bytes, 0, allocSize + 16 - bytes);
        heapMegabytes = megabytes;
        size = bytes;
        heapEnd = heapStart + static_cast<Ref>(allocSize) - kUnit;
        return true;
    }

    void InitAllocator() {
        freeList.fill(0);
        text = heapStart;
        const std::uint32_t size2 = kUnit * (size / 8 / kUnit * 7);
        const std::uint32_t size1 = size - size2;
        unitsStart = loUnit = heapStart + size1;
        fakeUnitsStart = heapStart + size1;
        hiUnit = loUnit + size2;
        int i = 0;
        unsigned k = 1;
        for (; i < 4; ++i, k += 1)
            indexToUnits[i] = static_cast<std::uint8_t>(k);
        for (++k; i < 8; ++i, k += 2)
            indexToUnits[i] = static_cast<std::uint8_t>(k);
        for (++k; i < 12; ++i, k += 3)
            indexToUnits[i] = static_cast<std::uint8_t>(k);
        for (++k; i < kIndexCount; ++i, k += 4)
            indexToUnits[i] = static_cast<std::uint8_t>(k);
        glueCount = 0;
        for (unsigned units = 0, index = 0; units < 128; ++units) {
            index += indexToUnits[index] < units + 1;
            unitsToIndex[units] = static_cast<std::uint8_t>(index);
        }
    }

    void InsertNode(Ref block, int index) {
        Set32(block + 4, freeList[index]);
        freeList[index] = block;
    }
    Ref RemoveNode(int index) {
        const Ref block = freeList[index];
        freeList[index] = Get32(block + 4);
        return block;
    }

    void SplitBlock(Ref block, int oldIndex, int newIndex) {
        unsigned diff = indexToUnits[oldIndex] - indexToUnits[newIndex];
        Ref p = block + kUnit * indexToUnits[newIndex];
        int i = unitsToIndex[diff - 1];
        if (indexToUnits[i] != diff) {
            InsertNode(p, --i);
            p += kUnit * indexToUnits[i];
            diff -= indexToUnits[i];
        }
        InsertNode(p, unitsToIndex[diff - 1]);
    }

    // Free blocks: stamp 0xFFFF at 0, units at 2, next at 4, previous at 8; the list head is 0.
    void ListInsertFront(Ref block) {
        const Ref first = Get32(0 + 4);
        Set32(block + 4, first);
        Set32(block + 8, 0);
        Set32(first + 8, block);
        Set32(0 + 4, block);
    }
    void ListRemove(Ref block) {
        const Ref next = Get32(block + 4);
        const Ref prev = Get32(block + 8);
        Set32(prev + 4, next);
        Set32(next + 8, prev);
    }

    void GlueFreeBlocks() {
        if (loUnit != hiUnit) {
            heap[loUnit] = 0;
        }
        Set32(0 + 4, 0);
        Set32(0 + 8, 0);
        for (int i = 0; i < kIndexCount; ++i) {
            while (freeList[i] != 0) {
                const Ref block = RemoveNode(i);
                ListInsertFront(block);
                Set16(block, 0xFFFF);
                Set16(block + 2, indexToUnits[i]);
            }
        }
        for (Ref p = Get32(0 + 4); p != 0; p = Get32(p + 4)) {
            for (;;) {
                const Ref next = p + kUnit * Get16(p + 2);
                if (Get16(next) != 0xFFFF || Get16(p + 2) + Get16(next + 2) >= 0x10000) {
                    break;
                }
                ListRemove(next);
                Set16(p + 2, Get16(p + 2) + Get16(next + 2));
            }
        }
        for (Ref p = Get32(0 + 4); p != 0; p = Get32(0 + 4)) {
            ListRemove(p);
            unsigned units = Get16(p + 2);
            for (; units > 128; units -= 128, p += 128 * kUnit) {
                InsertNode(p, kIndexCount - 1);
            }
            int i = unitsToIndex[units - 1];
            if (indexToUnits[i] != units) {
                const unsigned rest = units - indexToUnits[--i];
                InsertNode(p + kUnit * (units - rest), static_cast<int>(rest) - 1);
            }
            InsertNode(p, i);
        }
    }

    Ref AllocUnitsRare(int index) {
        if (glueCount == 0) {
            glueCount = 255;
            GlueFreeBlocks();
            if (freeList[index] != 0) {
                return RemoveNode(index);
            }
        }
        int i = index;
        do {
            if (++i == kIndexCount) {
                --glueCount;
                const std::uint32_t bytes = kUnit * indexToUnits[index];
                if (fakeUnitsStart - text > bytes) {
                    fakeUnitsStart -= bytes;
                    unitsStart -= bytes;
                    return unitsStart;
                }
                return 0;
            }
        } while (freeList[i] == 0);
        const Ref block = RemoveNode(i);
        SplitBlock(block, i, index);
        return block;
    }

    Ref AllocUnits(unsigned units) {
        const int index = unitsToIndex[units - 1];
        if (freeList[index] != 0) {
            return RemoveNode(index);
        }
        const Ref block = loUnit;
        const std::uint32_t bytes = kUnit * indexToUnits[index];
        if (hiUnit - loUnit >= bytes) {
            loUnit += bytes;
            return block;
        }
        return AllocUnitsRare(index);
    }

    Ref AllocContext() {
        if (hiUnit != loUnit) {
            return hiUnit -= kUnit;
        }
        if (freeList[0] != 0) {
            return RemoveNode(0);
        }
        return AllocUnitsRare(0);
    }

    Ref ExpandUnits(Ref old, unsigned oldUnits) {
        const int i0 = unitsToIndex[oldUnits - 1];
        const int i1 = unitsToIndex[oldUnits];
        if (i0 == i1) {
            return old;
        }
        const Ref block = AllocUnits(oldUnits + 1);
        if (block != 0) {
            std::memmove(At(block), At(old), kUnit * oldUnits);
            InsertNode(old, i0);
        }
        return block;
    }

    Ref ShrinkUnits(Ref old, unsigned oldUnits, unsigned newUnits) {
        const int i0 = unitsToIndex[oldUnits - 1];
        const int i1 = unitsToIndex[newUnits - 1];
        if (i0 == i1) {
            return old;
        }
        if (freeList[i1] != 0) {
            const Ref block = RemoveNode(i1);
            std::memmove(At(block), At(old), kUnit * newUnits);
            InsertNode(old, i0);
            return block;
        }
        SplitBlock(old, i0, i1);
        return old;
    }

    void FreeUnits(Ref block, unsigned units) { InsertNode(block, unitsToIndex[units - 1]); }

    // The range coder.
    void InitCoder() {
        low = code = 0;
        range = 0xFFFFFFFFu;
        for (int i = 0; i < 4; ++i) {
            code = code << 8 | input->ReadByte();
        }
    }
    bool CurrentCount(unsigned& count) {
        range /= scale;
        if (range == 0) {
            return false;
        }
        count = (code - low) / range;
        return true;
    }
    bool CurrentShiftCount(unsigned shift, unsigned& count) {
        range >>= shift;
        if (range == 0) {
            return false;
        }
        count = (code - low) / range;
        return true;
    }
    void DecodeRange() {
        low += range * lowCount;
        range *= highCount - lowCount;
    }
    void Normalize() {
        for (;;) {
            if ((low ^ (low + range)) >= kTop) {
                if (range >= kBottom) {
                    return;
                }
                range = (0u - low) & (kBottom - 1);
            }
            code = code << 8 | input->ReadByte();
            range <<= 8;
            low <<= 8;
        }
    }

    // The model.
    void RestartModel() {
        charMask.fill(0);
        InitAllocator();
        initRl = -static_cast<int>(maxOrder < 12 ? maxOrder : 12) - 1;
        minContext = maxContext = AllocContext();
        SetSuffix(minContext, 0);
        orderFall = maxOrder;
        SetNumStats(minContext, 256);
        SetSummFreq(minContext, 257);
        const Ref stats = AllocUnits(256 / 2);
        foundState = stats;
        SetStats(minContext, stats);
        runLength = initRl;
        prevSuccess = 0;
        for (unsigned i = 0; i < 256; ++i) {
            const Ref s = stats + 6 * i;
            heap[s] = static_cast<std::uint8_t>(i);
            heap[s + 1] = 1;
            SetSuccessor(s, 0);
        }
        for (unsigned i = 0; i < 128; ++i) {
            for (unsigned k = 0; k < 8; ++k) {
                for (unsigned m = 0; m < 64; m += 8) {
                    binSumm[i][k + m] =
                        static_cast<std::uint16_t>(kBinScale - kInitBinEsc[k] / (i + 2));
                }
            }
        }
        for (unsigned i = 0; i < 25; ++i) {
            for (unsigned k = 0; k < 16; ++k) {
                see2[i][k].Init(5 * i + 10);
            }
        }
    }

    void StartModel(unsigned order) {
        escCount = 1;
        maxOrder = order;
        RestartModel();
        ns2BsIndex[0] = 0;
        ns2BsIndex[1] = 2;
        std::memset(ns2BsIndex.data() + 2, 4, 9);
        std::memset(ns2BsIndex.data() + 11, 6, 256 - 11);
        unsigned i = 0;
        for (; i < 3; ++i) {
            ns2Index[i] = static_cast<std::uint8_t>(i);
        }
        for (unsigned m = i, k = 1, step = 1; i < 256; ++i) {
            ns2Index[i] = static_cast<std::uint8_t>(m);
            if (--k == 0) {
                k = ++step;
                ++m;
            }
        }
        std::memset(hb2Flag.data(), 0, 0x40);
        std::memset(hb2Flag.data() + 0x40, 0x08, 0x100 - 0x40);
        dummySee2.shift = kPeriodBits;
        dummySee2.summ = 0;
        dummySee2.count = 64;
    }

    void ClearMask() {
        escCount = 1;
        charMask.fill(0);
    }

    bool ValidContext(Ref c) const { return c > text && c <= heapEnd; }

    void Rescale() {
        const Ref context = minContext;
        const unsigned oldCount = NumStats(context);
        const Ref stats = Stats(context);
        for (Ref p = foundState; p != stats; p -= 6) {
            SwapStates(p, p - 6);
        }
        SetFreq(stats, Freq(stats) + 4);
        SetSummFreq(context, SummFreq(context) + 4);
        int escFreq = static_cast<int>(SummFreq(context)) - static_cast<int>(Freq(stats));
        const unsigned adder = orderFall != 0;
        SetFreq(stats, (Freq(stats) + adder) >> 1);
        unsigned summ = Freq(stats);
        Ref p = stats;
        for (unsigned i = oldCount - 1; i > 0; --i) {
            p += 6;
            escFreq -= static_cast<int>(Freq(p));
            SetFreq(p, (Freq(p) + adder) >> 1);
            summ += Freq(p);
            if (Freq(p) > Freq(p - 6)) {
                std::uint8_t saved[6];
                std::memcpy(saved, At(p), 6);
                Ref q = p;
                do {
                    CopyState(q, q - 6);
                    q -= 6;
                } while (q != stats && saved[1] > Freq(q - 6));
                std::memcpy(At(q), saved, 6);
            }
        }
        SetSummFreq(context, summ);
        if (Freq(p) == 0) {
            unsigned zeros = 0;
            do {
                ++zeros;
                p -= 6;
            } while (Freq(p) == 0);
            escFreq += static_cast<int>(zeros);
            const unsigned count = oldCount - zeros;
            SetNumStats(context, count);
            if (count == 1) {
                std::uint8_t saved[6];
                std::memcpy(saved, At(stats), 6);
                do {
                    saved[1] = static_cast<std::uint8_t>(saved[1] - (saved[1] >> 1));
                    escFreq >>= 1;
                } while (escFreq > 1);
                FreeUnits(stats, (oldCount + 1) >> 1);
                foundState = OneState(context);
                std::memcpy(At(foundState), saved, 6);
                return;
            }
        }
        escFreq -= escFreq >> 1;
        SetSummFreq(context, SummFreq(context) + static_cast<unsigned>(escFreq));
        const unsigned n0 = (oldCount + 1) >> 1;
        const unsigned n1 = (NumStats(context) + 1) >> 1;
        if (n0 != n1) {
            SetStats(context, ShrinkUnits(stats, n0, n1));
        }
        foundState = Stats(context);
    }

    Ref CreateChild(Ref context, Ref parentState, const std::uint8_t* first) {
        const Ref child = AllocContext();
        if (child != 0) {
            SetNumStats(child, 1);
            std::memcpy(At(OneState(child)), first, 6);
            SetSuffix(child, context);
            SetSuccessor(parentState, child);
        }
        return child;
    }

    Ref CreateSuccessors(bool skip, Ref p1) {
        Ref context = minContext;
        const Ref upBranch = Successor(foundState);
        const unsigned symbol = Symbol(foundState);
        Ref states[kMaxOrder];
        unsigned count = 0;
        Ref p = 0;
        bool entered = false;
        if (!skip) {
            states[count++] = foundState;
            if (Suffix(context) == 0) {
                goto noLoop;
            }
        }
        if (p1 != 0) {
            p = p1;
            context = Suffix(context);
            entered = true;
        }
        do {
            if (!entered) {
                context = Suffix(context);
                if (NumStats(context) != 1) {
                    p = Stats(context);
                    for (unsigned n = NumStats(context); Symbol(p) != symbol && n > 1; --n) {
                        p += 6;
                    }
                } else {
                    p = OneState(context);
                }
            }
            entered = false;
            if (Successor(p) != upBranch) {
                context = Successor(p);
                break;
            }
            if (count >= kMaxOrder) {
                return 0;
            }
            states[count++] = p;
        } while (Suffix(context) != 0);
    noLoop:
        if (count == 0) {
            return context;
        }
        std::uint8_t up[6];
        if (upBranch < heapStart || upBranch >= heapEnd) {
            return 0;
        }
        up[0] = heap[upBranch];
        const Ref upSuccessor = upBranch + 1;
        std::memcpy(up + 2, &upSuccessor, 4);
        if (NumStats(context) != 1) {
            if (context <= text) {
                return 0;
            }
            p = Stats(context);
            for (unsigned n = NumStats(context); Symbol(p) != up[0] && n > 1; --n) {
                p += 6;
            }
            const unsigned cf = Freq(p) - 1;
            const unsigned s0 = std::max(1u, SummFreq(context) - NumStats(context) - cf);
            up[1] = static_cast<std::uint8_t>(
                1 + ((2 * cf <= s0) ? (5 * cf > s0) : ((2 * cf + 3 * s0 - 1) / (2 * s0))));
        } else {
            up[1] = static_cast<std::uint8_t>(Freq(OneState(context)));
        }
        do {
            context = CreateChild(context, states[--count], up);
            if (context == 0) {
                return 0;
            }
        } while (count != 0);
        return context;
    }

    void UpdateModel() {
        std::uint8_t fs[6];
        std::memcpy(fs, At(foundState), 6);
        const unsigned fsSymbol = fs[0];
        const unsigned fsFreq = fs[1];
        Ref fsSuccessor;
        std::memcpy(&fsSuccessor, fs + 2, 4);
        Ref p = 0;
        Ref context = Suffix(minContext);
        if (fsFreq < kMaxFreq / 4 && context != 0) {
            if (NumStats(context) != 1) {
                p = Stats(context);
                if (Symbol(p) != fsSymbol) {
                    for (unsigned n = NumStats(context); Symbol(p) != fsSymbol && n > 1; --n) {
                        p += 6;
                    }
                    if (Freq(p) >= Freq(p - 6)) {
                        SwapStates(p, p - 6);
                        p -= 6;
                    }
                }
                if (Freq(p) < kMaxFreq - 9) {
                    SetFreq(p, Freq(p) + 2);
                    SetSummFreq(context, SummFreq(context) + 2);
                }
            } else {
                p = OneState(context);
                SetFreq(p, Freq(p) + (Freq(p) < 32));
            }
        }
        if (orderFall == 0) {
            minContext = maxContext = CreateSuccessors(true, p);
            if (minContext == 0) {
                Restart();
                return;
            }
            SetSuccessor(foundState, minContext);
            return;
        }
        heap[text++] = static_cast<std::uint8_t>(fsSymbol);
        Ref successor = text;
        if (text >= fakeUnitsStart) {
            Restart();
            return;
        }
        if (fsSuccessor != 0) {
            if (fsSuccessor <= text) {
                fsSuccessor = CreateSuccessors(false, p);
                if (fsSuccessor == 0) {
                    Restart();
                    return;
                }
            }
            if (--orderFall == 0) {
                successor = fsSuccessor;
                text -= (maxContext != minContext);
            }
        } else {
            SetSuccessor(foundState, successor);
            fsSuccessor = minContext;
        }
        const unsigned ns = NumStats(minContext);
        const unsigned s0 = SummFreq(minContext) - ns - (fsFreq - 1);
        for (context = maxContext; context != minContext; context = Suffix(context)) {
            unsigned ns1 = NumStats(context);
            if (ns1 != 1) {
                if ((ns1 & 1) == 0) {
                    const Ref stats = ExpandUnits(Stats(context), ns1 >> 1);
                    if (stats == 0) {
                        Restart();
                        return;
                    }
                    SetStats(context, stats);
                }
                SetSummFreq(context, SummFreq(context) + (2 * ns1 < ns) +
                                         2 * ((4 * ns1 <= ns) & (SummFreq(context) <= 8 * ns1)));
            } else {
                const Ref stats = AllocUnits(1);
                if (stats == 0) {
                    Restart();
                    return;
                }
                CopyState(stats, OneState(context));
                SetStats(context, stats);
                if (Freq(stats) < kMaxFreq / 4 - 1) {
                    SetFreq(stats, Freq(stats) * 2);
                } else {
                    SetFreq(stats, kMaxFreq - 4);
                }
                SetSummFreq(context, Freq(stats) + initEsc + (ns > 3));
            }
            unsigned cf = 2 * fsFreq * (SummFreq(context) + 6);
            const unsigned sf = s0 + SummFreq(context);
            if (cf < 6 * sf) {
                cf = 1 + (cf > sf) + (cf >= 4 * sf);
                SetSummFreq(context, SummFreq(context) + 3);
            } else {
                cf = 4 + (cf >= 9 * sf) + (cf >= 12 * sf) + (cf >= 15 * sf);
                SetSummFreq(context, SummFreq(context) + cf);
            }
            const Ref added = Stats(context) + 6 * ns1;
            SetSuccessor(added, successor);
            heap[added] = static_cast<std::uint8_t>(fsSymbol);
            SetFreq(added, cf);
            SetNumStats(context, ++ns1);
        }
        maxContext = minContext = fsSuccessor;
    }

    void Restart() {
        RestartModel();
        escCount = 0;
    }

    void Update1(Ref p) {
        foundState = p;
        SetFreq(p, Freq(p) + 4);
        SetSummFreq(minContext, SummFreq(minContext) + 4);
        if (Freq(p) > Freq(p - 6)) {
            SwapStates(p, p - 6);
            foundState = p - 6;
            if (Freq(p - 6) > kMaxFreq) {
                Rescale();
            }
        }
    }

    void Update2(Ref p) {
        foundState = p;
        SetFreq(p, Freq(p) + 4);
        SetSummFreq(minContext, SummFreq(minContext) + 4);
        if (Freq(p) > kMaxFreq) {
            Rescale();
        }
        ++escCount;
        runLength = initRl;
    }

    bool DecodeBinSymbol() {
        const Ref rs = OneState(minContext);
        hiBitsFlag = hb2Flag[Symbol(foundState)];
        std::uint16_t& bs =
            binSumm[Freq(rs) - 1]
                   [prevSuccess + ns2BsIndex[(NumStats(Suffix(minContext)) - 1) & 0xFF] +
                    hiBitsFlag + 2 * hb2Flag[Symbol(rs)] +
                    ((static_cast<unsigned>(runLength) >> 26) & 0x20)];
        unsigned count;
        if (!CurrentShiftCount(kTotalBits, count)) {
            return false;
        }
        if (count < bs) {
            foundState = rs;
            SetFreq(rs, Freq(rs) + (Freq(rs) < 128));
            lowCount = 0;
            highCount = bs;
            bs = static_cast<std::uint16_t>(bs + kInterval - ((bs + 32) >> 7));
            prevSuccess = 1;
            ++runLength;
        } else {
            lowCount = bs;
            bs = static_cast<std::uint16_t>(bs - ((bs + 32) >> 7));
            highCount = kBinScale;
            initEsc = kExpEscape[bs >> 10];
            numMasked = 1;
            charMask[Symbol(rs)] = static_cast<std::uint8_t>(escCount);
            prevSuccess = 0;
            foundState = 0;
        }
        return true;
    }

    bool DecodeSymbol1() {
        const Ref context = minContext;
        scale = SummFreq(context);
        Ref p = Stats(context);
        unsigned count;
        if (!CurrentCount(count) || count >= scale) {
            return false;
        }
        unsigned hiCount = Freq(p);
        if (count < hiCount) {
            highCount = hiCount;
            prevSuccess = 2 * hiCount > scale;
            runLength += static_cast<int>(prevSuccess);
            foundState = p;
            hiCount += 4;
            SetFreq(p, hiCount);
            SetSummFreq(context, SummFreq(context) + 4);
            if (hiCount > kMaxFreq) {
                Rescale();
            }
            lowCount = 0;
            return true;
        }
        if (foundState == 0) {
            return false;
        }
        prevSuccess = 0;
        unsigned i = NumStats(context) - 1;
        while ((hiCount += Freq(p += 6)) <= count) {
            if (--i == 0) {
                hiBitsFlag = hb2Flag[Symbol(foundState)];
                lowCount = hiCount;
                charMask[Symbol(p)] = static_cast<std::uint8_t>(escCount);
                numMasked = NumStats(context);
                i = numMasked - 1;
                foundState = 0;
                do {
                    p -= 6;
                    charMask[Symbol(p)] = static_cast<std::uint8_t>(escCount);
                } while (--i);
                highCount = scale;
                return true;
            }
        }
        highCount = hiCount;
        lowCount = hiCount - Freq(p);
        Update1(p);
        return true;
    }

    bool DecodeSymbol2() {
        const Ref context = minContext;
        const unsigned numStats = NumStats(context);
        unsigned diff = numStats - numMasked;
        See2* see;
        if (numStats != 256) {
            see = &see2[ns2Index[diff - 1]]
                       [(static_cast<int>(diff) <
                         static_cast<int>(NumStats(Suffix(context))) - static_cast<int>(numStats)) +
                        2 * (SummFreq(context) < 11 * numStats) + 4 * (numMasked > diff) +
                        hiBitsFlag];
            scale = see->Mean();
        } else {
            see = &dummySee2;
            scale = 1;
        }
        Ref states[256];
        unsigned count = 0;
        unsigned hiCount = 0;
        Ref p = Stats(context);
        const Ref end = p + 6 * numStats;
        for (unsigned i = diff; i > 0; --i) {
            while (p < end && charMask[Symbol(p)] == escCount) {
                p += 6;
            }
            if (p >= end) {
                return false;
            }
            hiCount += Freq(p);
            states[count++] = p;
            p += 6;
        }
        scale += hiCount;
        unsigned target;
        if (!CurrentCount(target) || target >= scale) {
            return false;
        }
        if (target < hiCount) {
            unsigned k = 0;
            hiCount = 0;
            p = states[0];
            while ((hiCount += Freq(p)) <= target) {
                p = states[++k];
            }
            highCount = hiCount;
            lowCount = hiCount - Freq(p);
            see->Update();
            Update2(p);
        } else {
            lowCount = hiCount;
            highCount = scale;
            for (unsigned k = 0; k < count; ++k) {
                charMask[Symbol(states[k])] = static_cast<std::uint8_t>(escCount);
            }
            see->summ = static_cast<std::uint16_t>(see->summ + scale);
            numMasked = numStats;
        }
        return true;
    }

    int DecodeChar() {
        if (!ValidContext(minContext)) {
            return -1;
        }
        if (NumStats(minContext) != 1) {
            const Ref stats = Stats(minContext);
            if (stats <= text || stats > heapEnd) {
                return -1;
            }
            if (!DecodeSymbol1()) {
                return -1;
            }
        } else if (!DecodeBinSymbol()) {
            return -1;
        }
        DecodeRange();
        while (foundState == 0) {
            Normalize();
            do {
                ++orderFall;
                minContext = Suffix(minContext);
                if (!ValidContext(minContext)) {
                    return -1;
                }
            } while (NumStats(minContext) == numMasked);
            if (!DecodeSymbol2()) {
                return -1;
            }
            DecodeRange();
        }
        const int symbol = static_cast<int>(Symbol(foundState));
        if (orderFall == 0 && Successor(foundState) > text) {
            minContext = maxContext = Successor(foundState);
        } else {
            UpdateModel();
            if (escCount == 0) {
                ClearMask();
            }
        }
        Normalize();
        return symbol;
    }
};

PpmModel::PpmModel() : impl_(std::make_unique<Impl>()) {}

PpmModel::~PpmModel() = default;

bool PpmModel::Init(BitInput& input, int& escChar) {
    Impl& m = *impl_;
    m.input = &input;
    unsigned order = input.ReadByte();
    const bool reset = (order & 0x20) != 0;
    unsigned megabytes = 0;
    if (reset) {
        megabytes = input.ReadByte();
    } else if (!m.heap) {
        return false;
    }
    if ((order & 0x40) != 0) {
        escChar = input.ReadByte();
    }
    m.InitCoder();
    if (reset) {
        order = (order & 0x1F) + 1;
        if (order > 16) {
            order = 16 + (order - 16) * 3;
        }
        if (order == 1) {
            m.heap.reset();
            m.heapMegabytes = 0;
            return false;
        }
        if (megabytes + 1 > kMaxPpmdMegabytes || !m.Start(megabytes + 1)) {
            m.heap.reset();
            m.heapMegabytes = 0;
            return false;
        }
        m.StartModel(order);
    }
    return m.minContext != 0;
}

int PpmModel::DecodeChar(BitInput& input) {
    impl_->input = &input;
    return impl_->DecodeChar();
}

}  // namespace zembrat::rar
