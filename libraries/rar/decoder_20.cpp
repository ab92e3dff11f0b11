// Version 2.0 (and 2.6, the same method for larger files): LZ with a 1 MB window under
// Huffman codes, and blocks of audio data coded as deltas from a per-channel prediction.
#include <cstdlib>

#include "unpacker.h"
#include "unpacker_state.h"

namespace zembrat::rar {

namespace {

constexpr unsigned kMainCodes = 298;
constexpr unsigned kDistanceCodes = 48;
constexpr unsigned kRepeatCodes = 28;
constexpr unsigned kAudioCodes = 257;

}  // namespace

void Unpacker::Reset20() {
    if (!s20_) {
        s20_ = std::make_unique<State20>();
    }
    State20& s = *s20_;
    s.tablesRead = false;
    s.audio = false;
    s.channelDelta = 0;
    s.channel = 0;
    s.channels = 1;
    s.audioState = {};
    s.oldTable.fill(0);
}

bool Unpacker::ReadTables20() {
    State20& s = *s20_;
    const std::uint32_t head = in_.Peek16();
    s.audio = (head & 0x8000) != 0;
    if ((head & 0x4000) == 0) {
        s.oldTable.fill(0);
    }
    in_.Skip(2);
    unsigned tableSize;
    if (s.audio) {
        s.channels = ((head >> 12) & 3) + 1;
        if (s.channel >= s.channels) {
            s.channel = 0;
        }
        in_.Skip(2);
        tableSize = kAudioCodes * s.channels;
    } else {
        tableSize = kMainCodes + kDistanceCodes + kRepeatCodes;
    }
    std::array<std::uint8_t, 19> lengthLengths{};
    for (auto& length : lengthLengths) {
        length = static_cast<std::uint8_t>(in_.Read(4));
    }
    s.bd.Build(lengthLengths);
    // 16 repeats the previous length, 17 and 18 write zeros.
    static constexpr LengthRun kRuns[] = {{true, 2, 3}, {false, 3, 3}, {false, 7, 11}};
    std::array<std::uint8_t, kAudioCodes * 4> table{};
    if (!ReadCodeLengths(in_, s.bd, kRuns, s.oldTable, std::span(table).first(tableSize))) {
        return false;
    }
    s.tablesRead = true;
    const std::span<const std::uint8_t> all(table);
    if (s.audio) {
        for (unsigned c = 0; c < s.channels; ++c) {
            s.md[c].Build(all.subspan(c * kAudioCodes, kAudioCodes));
        }
    } else {
        s.ld.Build(all.subspan(0, kMainCodes));
        s.dd.Build(all.subspan(kMainCodes, kDistanceCodes));
        s.rd.Build(all.subspan(kMainCodes + kDistanceCodes, kRepeatCodes));
    }
    std::copy(table.begin(), table.end(), s.oldTable.begin());
    return true;
}

// A solid stream's member may end with the code that reads new tables for the next one.
void Unpacker::ReadLastTables20() {
    State20& s = *s20_;
    if (!in_.HasBytes(5)) {
        return;
    }
    if (s.audio) {
        if (s.md[s.channel].Decode(in_) == 256) {
            ReadTables20();
        }
    } else if (s.ld.Decode(in_) == 269) {
        ReadTables20();
    }
}

std::uint8_t Unpacker::DecodeAudio20(int delta) {
    State20& s = *s20_;
    State20::Audio& v = s.audioState[s.channel];
    ++v.count;
    v.d[3] = v.d[2];
    v.d[2] = v.d[1];
    v.d[1] = v.lastDelta - v.d[0];
    v.d[0] = v.lastDelta;
    int predicted = 8 * v.lastChar + v.k[0] * v.d[0] + v.k[1] * v.d[1] + v.k[2] * v.d[2] +
                    v.k[3] * v.d[3] + v.k[4] * s.channelDelta;
    predicted = (predicted >> 3) & 0xFF;
    const unsigned ch = static_cast<unsigned>(predicted - delta);
    const int d = static_cast<signed char>(delta) * 8;
    v.dif[0] += static_cast<std::uint32_t>(std::abs(d));
    v.dif[1] += static_cast<std::uint32_t>(std::abs(d - v.d[0]));
    v.dif[2] += static_cast<std::uint32_t>(std::abs(d + v.d[0]));
    v.dif[3] += static_cast<std::uint32_t>(std::abs(d - v.d[1]));
    v.dif[4] += static_cast<std::uint32_t>(std::abs(d + v.d[1]));
    v.dif[5] += static_cast<std::uint32_t>(std::abs(d - v.d[2]));
    v.dif[6] += static_cast<std::uint32_t>(std::abs(d + v.d[2]));
    v.dif[7] += static_cast<std::uint32_t>(std::abs(d - v.d[3]));
    v.dif[8] += static_cast<std::uint32_t>(std::abs(d + v.d[3]));
    v.dif[9] += static_cast<std::uint32_t>(std::abs(d - s.channelDelta));
    v.dif[10] += static_cast<std::uint32_t>(std::abs(d + s.channelDelta));
    s.channelDelta = v.lastDelta = static_cast<signed char>(ch - static_cast<unsigned>(v.lastChar));
    v.lastChar = static_cast<int>(ch & 0xFF);
    if ((v.count & 0x1F) == 0) {
        std::uint32_t least = v.dif[0];
        unsigned which = 0;
        v.dif[0] = 0;
        for (unsigned i = 1; i < 11; ++i) {
            if (v.dif[i] < least) {
                least = v.dif[i];
                which = i;
            }
            v.dif[i] = 0;
        }
        if (which != 0) {
            int& k = v.k[(which - 1) / 2];
            if ((which & 1) != 0) {
                k -= k >= -16;
            } else {
                k += k < 16;
            }
        }
    }
    return static_cast<std::uint8_t>(ch);
}

void Unpacker::Copy20(std::uint32_t length, std::uint32_t distance) {
    lastDist_ = oldDist_[oldDistPtr_++ & 3] = distance;
    lastLength_ = length;
    CopyMatch(length, distance);
}

void Unpacker::Unpack20(bool solid) {
    if (!solid || !s20_) {
        Reset20();
    }
    State20& s = *s20_;
    if ((!solid || !s.tablesRead) && !ReadTables20()) {
        Fail("the block's code tables are damaged");
    }
    const std::uint32_t* distanceBases = DistanceBases();
    const std::uint8_t* distanceBits = DistanceBits();
    std::uint32_t lastFlush = unpPtr_;
    while (!OutputFull() && !in_.PastEnd()) {
        if (unpPtr_ - lastFlush >= 0x40000) {
            FlushPlain();
            lastFlush = unpPtr_;
        }
        if (s.audio) {
            const unsigned number = s.md[s.channel].Decode(in_);
            if (number == 256) {
                if (!ReadTables20()) {
                    break;
                }
                continue;
            }
            PutByte(DecodeAudio20(static_cast<int>(number)));
            if (++s.channel == s.channels) {
                s.channel = 0;
            }
            continue;
        }
        const unsigned number = s.ld.Decode(in_);
        if (number < 256) {
            PutByte(static_cast<std::uint8_t>(number));
            continue;
        }
        if (number > 269) {
            const unsigned slot = number - 270;
            std::uint32_t length = ReadLengthSlot(in_, slot) + 3;
            const unsigned distSlot = s.dd.Decode(in_);
            std::uint32_t distance = distanceBases[distSlot] + 1;
            if (const unsigned bits = distanceBits[distSlot]; bits != 0) {
                distance += in_.Read(bits);
            }
            length += FarDistanceBonus(distance);
            Copy20(length, distance);
            continue;
        }
        if (number == 269) {
            if (!ReadTables20()) {
                break;
            }
            continue;
        }
        if (number == 256) {
            Copy20(lastLength_, lastDist_);
            continue;
        }
        if (number < 261) {
            const std::uint32_t distance = oldDist_[(oldDistPtr_ - (number - 256)) & 3];
            const unsigned slot = s.rd.Decode(in_);
            std::uint32_t length = ReadLengthSlot(in_, slot) + 2;
            length += (distance >= 0x101 ? 1 : 0) + FarDistanceBonus(distance);
            Copy20(length, distance);
            continue;
        }
        const unsigned slot = number - 261;
        const std::uint32_t distance = ReadShortDistance(in_, slot);
        Copy20(2, distance);
    }
    ReadLastTables20();
    FlushPlain();
}

}  // namespace zembrat::rar
