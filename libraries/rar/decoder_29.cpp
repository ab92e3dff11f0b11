// Version 2.9 to 4.x: LZ with a 4 MB window under Huffman codes, blocks of PPMd (variant H)
// in between, and filters applied to blocks of the output before it is written.
#include <algorithm>
#include <cstring>
#include <optional>

#include "filters.h"
#include "ppmd_h.h"
#include "unpacker.h"
#include "unpacker_state.h"

namespace zembrat::rar {

namespace {

constexpr unsigned kMainCodes = 299;
constexpr unsigned kDistanceCodes = 60;
constexpr unsigned kLowDistanceCodes = 17;
constexpr unsigned kRepeatCodes = 28;
constexpr unsigned kTableSize = kMainCodes + kDistanceCodes + kLowDistanceCodes + kRepeatCodes;

struct DistanceSlots {
    std::uint32_t base[kDistanceCodes];
    std::uint8_t bits[kDistanceCodes];
};

constexpr DistanceSlots MakeDistanceSlots() {
    DistanceSlots slots{};
    constexpr std::uint8_t kPerBitCount[] = {4, 2, 2, 2, 2, 2, 2,  2, 2, 2,
                                             2, 2, 2, 2, 2, 2, 14, 0, 12};
    std::uint32_t distance = 0;
    unsigned slot = 0;
    for (unsigned bits = 0; bits < sizeof kPerBitCount; ++bits) {
        for (unsigned j = 0; j < kPerBitCount[bits]; ++j, ++slot) {
            slots.base[slot] = distance;
            slots.bits[slot] = static_cast<std::uint8_t>(bits);
            distance += 1u << bits;
        }
    }
    return slots;
}

constexpr DistanceSlots kSlots = MakeDistanceSlots();

constexpr std::size_t kMaxPendingFilters = 8192;
constexpr std::size_t kMaxFilterKinds = 1024;
constexpr std::uint32_t kFlushStep = 0x40000;

}  // namespace

const std::uint32_t* DistanceBases() {
    return kSlots.base;
}
const std::uint8_t* DistanceBits() {
    return kSlots.bits;
}

void Unpacker::Reset29(bool solid) {
    if (!s29_) {
        s29_ = std::make_unique<State29>();
    }
    State29& s = *s29_;
    if (!solid) {
        s.oldTable.fill(0);
        s.tablesRead = false;
        s.ppmBlock = false;
        s.ppmEscChar = 2;
        s.prevLowDist = 0;
        s.lowDistRepCount = 0;
        s.kinds.clear();
        s.oldLengths.clear();
        s.lastFilter = 0;
    }
    s.pending.clear();
    s.written = 0;
}

bool Unpacker::ReadTables29() {
    State29& s = *s29_;
    in_.AlignToByte();
    const std::uint32_t head = in_.Peek16();
    if ((head & 0x8000) != 0) {
        s.ppmBlock = true;
        if (!ppm_) {
            ppm_ = std::make_unique<PpmModel>();
        }
        return ppm_->Init(in_, s.ppmEscChar);
    }
    s.ppmBlock = false;
    s.prevLowDist = 0;
    s.lowDistRepCount = 0;
    if ((head & 0x4000) == 0) {
        s.oldTable.fill(0);
    }
    in_.Skip(2);
    std::array<std::uint8_t, 20> lengthLengths{};
    for (unsigned i = 0; i < lengthLengths.size(); ++i) {
        const auto length = static_cast<std::uint8_t>(in_.Read(4));
        if (length != 15) {
            lengthLengths[i] = length;
            continue;
        }
        const unsigned zeros = in_.Read(4);
        if (zeros == 0) {
            lengthLengths[i] = 15;
            continue;
        }
        for (unsigned n = zeros + 2; n > 0 && i < lengthLengths.size(); --n) {
            lengthLengths[i++] = 0;
        }
        --i;
    }
    s.bd.Build(lengthLengths);
    // 16 and 17 repeat the previous length, 18 and 19 write zeros.
    static constexpr LengthRun kRuns[] = {
        {true, 3, 3}, {true, 7, 11}, {false, 3, 3}, {false, 7, 11}};
    std::array<std::uint8_t, kTableSize> table{};
    if (!ReadCodeLengths(in_, s.bd, kRuns, s.oldTable, table)) {
        return false;
    }
    s.tablesRead = true;
    const std::span<const std::uint8_t> all(table);
    s.ld.Build(all.subspan(0, kMainCodes));
    s.dd.Build(all.subspan(kMainCodes, kDistanceCodes));
    s.ldd.Build(all.subspan(kMainCodes + kDistanceCodes, kLowDistanceCodes));
    s.rd.Build(all.subspan(kMainCodes + kDistanceCodes + kLowDistanceCodes, kRepeatCodes));
    s.oldTable = table;
    return true;
}

bool Unpacker::ReadEndOfBlock29() {
    const std::uint32_t bits = in_.Peek16();
    bool newTable = false;
    bool newFile = false;
    if ((bits & 0x8000) != 0) {
        newTable = true;
        in_.Skip(1);
    } else {
        newFile = true;
        newTable = (bits & 0x4000) != 0;
        in_.Skip(2);
    }
    s29_->tablesRead = !newTable;
    return !(newFile || (newTable && !ReadTables29()));
}

bool Unpacker::ReadFilterCode29() {
    const unsigned first = in_.Read(8);
    unsigned length = (first & 7) + 1;
    if (length == 7) {
        length = in_.Read(8) + 7;
    } else if (length == 8) {
        length = in_.Read(16);
    }
    std::vector<std::uint8_t> code(length);
    for (auto& byte : code) {
        byte = static_cast<std::uint8_t>(in_.Read(8));
    }
    return !in_.PastEnd() && AddFilter29(first, code);
}

bool Unpacker::ReadFilterCodePpm29() {
    const int first = ppm_->DecodeChar(in_);
    if (first < 0) {
        return false;
    }
    unsigned length = (first & 7) + 1;
    if (length == 7) {
        const int next = ppm_->DecodeChar(in_);
        if (next < 0) {
            return false;
        }
        length = static_cast<unsigned>(next) + 7;
    } else if (length == 8) {
        const int high = ppm_->DecodeChar(in_);
        const int low = ppm_->DecodeChar(in_);
        if (high < 0 || low < 0) {
            return false;
        }
        length = static_cast<unsigned>(high) * 256 + static_cast<unsigned>(low);
    }
    std::vector<std::uint8_t> code(length);
    for (auto& byte : code) {
        const int value = ppm_->DecodeChar(in_);
        if (value < 0) {
            return false;
        }
        byte = static_cast<std::uint8_t>(value);
    }
    return AddFilter29(static_cast<unsigned>(first), code);
}

bool Unpacker::AddFilter29(unsigned firstByte, std::span<const std::uint8_t> code) {
    State29& s = *s29_;
    FilterBits bits(code);
    std::size_t index = s.lastFilter;
    if ((firstByte & 0x80) != 0) {
        const std::uint32_t number = bits.ReadNumber();
        if (number == 0) {
            s.kinds.clear();
            s.oldLengths.clear();
            index = 0;
        } else {
            index = number - 1;
        }
    }
    if (index > s.kinds.size() || index > s.oldLengths.size()) {
        return false;
    }
    s.lastFilter = index;
    const bool isNew = index == s.kinds.size();
    if (isNew) {
        if (index >= kMaxFilterKinds) {
            return false;
        }
        s.kinds.push_back({});
        s.oldLengths.push_back(0);
    } else {
        ++s.kinds[index].execCount;
    }
    State29::Pending pending;
    pending.parent = index;
    std::uint32_t blockStart = bits.ReadNumber();
    if ((firstByte & 0x40) != 0) {
        blockStart += 258;
    }
    if ((firstByte & 0x20) != 0) {
        pending.blockLength = bits.ReadNumber();
        s.oldLengths[index] = pending.blockLength;
    } else {
        pending.blockLength = s.oldLengths[index];
    }
    pending.nextWindow = wrPtr_ != unpPtr_ && ((wrPtr_ - unpPtr_) & kWindowMask) <= blockStart;
    pending.blockStart = unpPtr_ + blockStart;
    pending.registers.fill(0);
    pending.registers[3] = kFilterGlobalAddress;
    pending.registers[4] = pending.blockLength;
    pending.registers[5] = s.kinds[index].execCount;
    if ((firstByte & 0x10) != 0) {
        const unsigned mask = bits.Peek16() >> 9;
        bits.Skip(7);
        for (unsigned r = 0; r < 7; ++r) {
            if ((mask & (1u << r)) != 0) {
                pending.registers[r] = bits.ReadNumber();
            }
        }
    }
    if (isNew) {
        const std::uint32_t codeSize = bits.ReadNumber();
        if (codeSize == 0 || codeSize >= 0x10000) {
            return false;
        }
        std::vector<std::uint8_t> filterCode(codeSize);
        for (auto& byte : filterCode) {
            byte = static_cast<std::uint8_t>(bits.Peek16() >> 8);
            bits.Skip(8);
        }
        const std::optional<FilterKind> kind = RecogniseFilter(filterCode);
        if (!kind) {
            Fail("the member uses a filter of its own (custom byte code), which is never run");
        }
        s.kinds[index].kind = *kind;
    }
    // Data for the filter's global memory: the standard filters do not read it.
    if ((firstByte & 0x08) != 0) {
        const std::uint32_t size = bits.ReadNumber();
        if (size > 0x2000 - 64) {
            return false;
        }
        bits.Skip(size * 8);
    }
    if (bits.PastEnd() || pending.blockLength > kFilterMemorySize / 2) {
        return false;
    }
    pending.kind = s.kinds[index].kind;
    std::erase_if(s.pending, [](const auto& entry) { return !entry.has_value(); });
    if (s.pending.size() >= kMaxPendingFilters) {
        return false;
    }
    s.pending.emplace_back(pending);
    return true;
}

void Unpacker::InsertOldDist(std::uint32_t distance) {
    oldDist_[3] = oldDist_[2];
    oldDist_[2] = oldDist_[1];
    oldDist_[1] = oldDist_[0];
    oldDist_[0] = distance;
}

void Unpacker::RunFilters29() {
    State29& s = *s29_;
    std::uint32_t border = wrPtr_;
    std::uint32_t writeSize = unpPtr_ - border;
    for (std::size_t i = 0; i < s.pending.size(); ++i) {
        if (!s.pending[i]) {
            continue;
        }
        State29::Pending& filter = *s.pending[i];
        if (filter.nextWindow) {
            filter.nextWindow = false;
            continue;
        }
        const std::uint32_t blockStart = filter.blockStart;
        const std::uint32_t blockLength = filter.blockLength;
        if (((blockStart - border) & kWindowMask) >= writeSize) {
            continue;
        }
        if (((border ^ blockStart) & kWindowMask) != 0) {
            const std::uint32_t to = border + ((blockStart - border) & kWindowMask);
            Emit(border, to);
            s.written += to - border;
            border = to;
            writeSize = unpPtr_ - border;
        }
        if (blockLength > writeSize) {
            for (std::size_t j = i; j < s.pending.size(); ++j) {
                if (s.pending[j]) {
                    s.pending[j]->nextWindow = false;
                }
            }
            wrPtr_ = border;
            return;
        }
        std::uint8_t* memory = s.memory.data();
        for (std::uint32_t k = 0; k < blockLength; ++k) {
            memory[k] = window_[(border + k) & kWindowMask];
        }
        filter.registers[6] = static_cast<std::uint32_t>(s.written);
        std::optional<FilterRun> run = RunFilter(filter.kind, filter.registers, s.memory);
        if (!run) {
            Fail("a filter's parameters are out of range");
        }
        s.pending[i].reset();
        while (i + 1 < s.pending.size()) {
            auto& next = s.pending[i + 1];
            if (!next || ((next->blockStart ^ blockStart) & kWindowMask) != 0 ||
                next->blockLength != run->size || next->nextWindow) {
                break;
            }
            std::memmove(memory, memory + run->offset, run->size);
            next->registers[6] = static_cast<std::uint32_t>(s.written);
            run = RunFilter(next->kind, next->registers, s.memory);
            if (!run) {
                Fail("a filter's parameters are out of range");
            }
            next.reset();
            ++i;
        }
        EmitBytes(memory + run->offset, run->size);
        s.written += run->size;
        border += blockLength;
        writeSize = unpPtr_ - border;
    }
    Emit(border, unpPtr_);
    s.written += unpPtr_ - border;
    wrPtr_ = unpPtr_;
}

void Unpacker::Flush29() {
    RunFilters29();
    if (unpPtr_ - wrPtr_ > kWindowSize - 0x1000) {
        Fail("a filter's block never ends");
    }
}

void Unpacker::Unpack29(bool solid) {
    Reset29(solid);
    State29& s = *s29_;
    if ((!solid || !s.tablesRead) && !ReadTables29()) {
        Fail("the block's code tables are damaged");
    }
    std::uint32_t lastFlush = unpPtr_;
    while (!in_.PastEnd()) {
        if (unpPtr_ - lastFlush >= kFlushStep) {
            Flush29();
            lastFlush = unpPtr_;
        }
        const bool tail = OutputFull();
        if (s.ppmBlock) {
            const int ch = ppm_->DecodeChar(in_);
            if (ch < 0) {
                s.ppmBlock = false;
                s.tablesRead = false;
                break;
            }
            if (ch == s.ppmEscChar) {
                const int next = ppm_->DecodeChar(in_);
                if (next == 0) {
                    if (!ReadTables29()) {
                        break;
                    }
                    continue;
                }
                if (next == 2 || next < 0 || tail) {
                    break;
                }
                if (next == 3) {
                    if (!ReadFilterCodePpm29()) {
                        break;
                    }
                    continue;
                }
                if (next == 4) {
                    std::uint32_t distance = 0;
                    int length = 0;
                    for (int k = 0; k < 4; ++k) {
                        const int value = ppm_->DecodeChar(in_);
                        if (value < 0) {
                            length = -1;
                            break;
                        }
                        if (k == 3) {
                            length = value;
                        } else {
                            distance = (distance << 8) + static_cast<std::uint32_t>(value);
                        }
                    }
                    if (length < 0) {
                        break;
                    }
                    CopyMatch(static_cast<std::uint32_t>(length) + 32, distance + 2);
                    continue;
                }
                if (next == 5) {
                    const int length = ppm_->DecodeChar(in_);
                    if (length < 0) {
                        break;
                    }
                    CopyMatch(static_cast<std::uint32_t>(length) + 4, 1);
                    continue;
                }
            }
            if (tail) {
                break;
            }
            PutByte(static_cast<std::uint8_t>(ch));
            continue;
        }
        const unsigned number = s.ld.Decode(in_);
        if (number < 256) {
            if (tail) {
                break;
            }
            PutByte(static_cast<std::uint8_t>(number));
            continue;
        }
        if (number == 256) {
            if (!ReadEndOfBlock29()) {
                break;
            }
            continue;
        }
        if (tail) {
            break;
        }
        if (number >= 271) {
            const unsigned slot = number - 271;
            std::uint32_t length = ReadLengthSlot(in_, slot) + 3;
            const unsigned distSlot = s.dd.Decode(in_);
            std::uint32_t distance = kSlots.base[distSlot] + 1;
            if (const unsigned bits = kSlots.bits[distSlot]; bits != 0) {
                if (distSlot > 9) {
                    if (bits > 4) {
                        distance += in_.Read(bits - 4) << 4;
                    }
                    if (s.lowDistRepCount > 0) {
                        --s.lowDistRepCount;
                        distance += s.prevLowDist;
                    } else {
                        const unsigned low = s.ldd.Decode(in_);
                        if (low == 16) {
                            s.lowDistRepCount = 15;
                            distance += s.prevLowDist;
                        } else {
                            distance += low;
                            s.prevLowDist = low;
                        }
                    }
                } else {
                    distance += in_.Read(bits);
                }
            }
            length += FarDistanceBonus(distance);
            InsertOldDist(distance);
            lastLength_ = length;
            CopyMatch(length, distance);
            continue;
        }
        if (number == 257) {
            if (!ReadFilterCode29()) {
                break;
            }
            continue;
        }
        if (number == 258) {
            if (lastLength_ != 0) {
                CopyMatch(lastLength_, oldDist_[0]);
            }
            continue;
        }
        if (number < 263) {
            const unsigned which = number - 259;
            const std::uint32_t distance = oldDist_[which];
            for (unsigned k = which; k > 0; --k) {
                oldDist_[k] = oldDist_[k - 1];
            }
            oldDist_[0] = distance;
            const unsigned slot = s.rd.Decode(in_);
            std::uint32_t length = ReadLengthSlot(in_, slot) + 2;
            lastLength_ = length;
            CopyMatch(length, distance);
            continue;
        }
        const unsigned slot = number - 263;
        const std::uint32_t distance = ReadShortDistance(in_, slot);
        InsertOldDist(distance);
        lastLength_ = 2;
        CopyMatch(2, distance);
    }
    Flush29();
}

}  // namespace zembrat::rar
