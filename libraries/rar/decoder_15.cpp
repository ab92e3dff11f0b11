// Version 1.5: LZ whose lengths, distances and literals come from adaptive tables (places in
// lists that move what is used often to the front) read with fixed prefix codes, and a flag
// byte that chooses between literals, long and short matches.
#include <cstring>

#include "unpacker.h"
#include "unpacker_state.h"

namespace zembrat::rar {

namespace {

// The fixed prefix codes: a code is found by where the next 16 bits fall among the limits;
// its length grows by one with each limit passed, from the start length.
constexpr unsigned kStartL1 = 2;
constexpr std::uint32_t kLimitsL1[] = {0x8000, 0xa000, 0xc000, 0xd000, 0xe000, 0xea00,
                                       0xee00, 0xf000, 0xf200, 0xf200, 0xffff};
constexpr std::uint32_t kPlacesL1[] = {0, 0, 0, 2, 3, 5, 7, 11, 16, 20, 24, 32, 32};
constexpr unsigned kStartL2 = 3;
constexpr std::uint32_t kLimitsL2[] = {0xa000, 0xc000, 0xd000, 0xe000, 0xea00,
                                       0xee00, 0xf000, 0xf200, 0xf240, 0xffff};
constexpr std::uint32_t kPlacesL2[] = {0, 0, 0, 0, 5, 7, 9, 13, 18, 22, 26, 34, 36};
constexpr unsigned kStartHf0 = 4;
constexpr std::uint32_t kLimitsHf0[] = {0x8000, 0xc000, 0xe000, 0xf200, 0xf200,
                                        0xf200, 0xf200, 0xf200, 0xffff};
constexpr std::uint32_t kPlacesHf0[] = {0, 0, 0, 0, 0, 8, 16, 24, 33, 33, 33, 33, 33};
constexpr unsigned kStartHf1 = 5;
constexpr std::uint32_t kLimitsHf1[] = {0x2000, 0xc000, 0xe000, 0xf000,
                                        0xf200, 0xf200, 0xf7e0, 0xffff};
constexpr std::uint32_t kPlacesHf1[] = {0, 0, 0, 0, 0, 0, 4, 44, 60, 76, 80, 80, 127};
constexpr unsigned kStartHf2 = 5;
constexpr std::uint32_t kLimitsHf2[] = {0x1000, 0x2400, 0x8000, 0xc000,
                                        0xfa00, 0xffff, 0xffff, 0xffff};
constexpr std::uint32_t kPlacesHf2[] = {0, 0, 0, 0, 0, 0, 2, 7, 53, 117, 233, 0, 0};
constexpr unsigned kStartHf3 = 6;
constexpr std::uint32_t kLimitsHf3[] = {0x800, 0x2400, 0xee00, 0xfe80, 0xffff, 0xffff, 0xffff};
constexpr std::uint32_t kPlacesHf3[] = {0, 0, 0, 0, 0, 0, 0, 2, 16, 218, 251, 0, 0};
constexpr unsigned kStartHf4 = 8;
constexpr std::uint32_t kLimitsHf4[] = {0xff00, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff};
constexpr std::uint32_t kPlacesHf4[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0};

constexpr std::uint32_t kShortLen1[] = {1, 3, 4, 4, 5, 6, 7, 8, 8, 4, 4, 5, 6, 6, 4, 0};
constexpr std::uint32_t kShortXor1[] = {0,    0xa0, 0xd0, 0xe0, 0xf0, 0xf8, 0xfc, 0xfe,
                                        0xff, 0xc0, 0x80, 0x90, 0x98, 0x9c, 0xb0};
constexpr std::uint32_t kShortLen2[] = {2, 3, 3, 3, 4, 4, 5, 6, 6, 4, 4, 5, 6, 6, 4, 0};
constexpr std::uint32_t kShortXor2[] = {0,    0x40, 0x60, 0xa0, 0xd0, 0xe0, 0xf0, 0xf8,
                                        0xfc, 0xc0, 0x80, 0x90, 0x98, 0x9c, 0xb0};

}  // namespace

void Unpacker::Reset15() {
    if (!s15_) {
        s15_ = std::make_unique<State15>();
    }
    State15& s = *s15_;
    s.avrPlcB = s.avrLn1 = s.avrLn2 = s.avrLn3 = s.numHuf = s.buf60 = 0;
    s.avrPlc = 0x3500;
    s.maxDist3 = 0x2001;
    s.nhfb = s.nlzb = 0x80;
}

void Unpacker::CorrHuff15(std::uint32_t* set, std::uint32_t* numToPlace) {
    for (int i = 7; i >= 0; --i) {
        for (int j = 0; j < 32; ++j, ++set) {
            *set = (*set & ~0xFFu) | static_cast<std::uint32_t>(i);
        }
    }
    std::memset(numToPlace, 0, sizeof(std::uint32_t) * 256);
    for (int i = 6; i >= 0; --i) {
        numToPlace[i] = static_cast<std::uint32_t>(7 - i) * 32;
    }
}

void Unpacker::InitHuff15() {
    State15& s = *s15_;
    for (std::uint32_t i = 0; i < 256; ++i) {
        s.chSet[i] = s.chSetB[i] = i << 8;
        s.chSetA[i] = i;
        s.chSetC[i] = ((~i + 1) & 0xFF) << 8;
    }
    s.nToPl.fill(0);
    s.nToPlB.fill(0);
    s.nToPlC.fill(0);
    CorrHuff15(s.chSetB.data(), s.nToPlB.data());
}

std::uint32_t Unpacker::DecodeNum15(std::uint32_t bits, unsigned start, const std::uint32_t* limits,
                                    const std::uint32_t* positions) {
    bits &= 0xFFF0;
    unsigned i = 0;
    while (limits[i] <= bits) {
        ++start;
        ++i;
    }
    in_.Skip(start);
    return ((bits - (i != 0 ? limits[i - 1] : 0)) >> (16 - start)) + positions[start];
}

void Unpacker::Match15(std::uint32_t distance, std::uint32_t length, bool remembered) {
    if (remembered) {
        oldDist_[oldDistPtr_++] = distance;
        oldDistPtr_ &= 3;
    }
    lastLength_ = length;
    lastDist_ = distance;
    CopyMatch(length, distance);
}

void Unpacker::GetFlags15() {
    State15& s = *s15_;
    const std::uint32_t place = DecodeNum15(in_.Peek16(), kStartHf2, kLimitsHf2, kPlacesHf2);
    if (place >= 256) {
        return;
    }
    std::uint32_t flags;
    std::uint32_t newPlace;
    for (;;) {
        flags = s.chSetC[place];
        s.flagBuf = flags >> 8;
        newPlace = s.nToPlC[flags++ & 0xFF]++ & 0xFF;
        if ((flags & 0xFF) != 0) {
            break;
        }
        CorrHuff15(s.chSetC.data(), s.nToPlC.data());
    }
    s.chSetC[place] = s.chSetC[newPlace];
    s.chSetC[newPlace] = flags;
}

bool Unpacker::NextFlag15() {
    State15& s = *s15_;
    if (--s.flagsCount < 0) {
        GetFlags15();
        s.flagsCount = 7;
    }
    const bool set = (s.flagBuf & 0x80) != 0;
    s.flagBuf = (s.flagBuf << 1) & 0xFF;
    return set;
}

void Unpacker::ShortLz15() {
    State15& s = *s15_;
    s.numHuf = 0;
    std::uint32_t bits = in_.Peek16();
    if (s.lCount == 2) {
        in_.Skip(1);
        if (bits >= 0x8000) {
            CopyMatch(lastLength_, lastDist_);
            return;
        }
        bits <<= 1;
        s.lCount = 0;
    }
    bits = (bits >> 8) & 0xFF;
    std::uint32_t length = 0;
    if (s.avrLn1 < 37) {
        for (;; ++length) {
            const std::uint32_t size = length == 1 ? s.buf60 + 3 : kShortLen1[length];
            if (length == 15 || ((bits ^ kShortXor1[length]) & ~(0xFFu >> size) & 0xFF) == 0) {
                in_.Skip(size);
                break;
            }
        }
    } else {
        for (;; ++length) {
            const std::uint32_t size = length == 3 ? s.buf60 + 3 : kShortLen2[length];
            if (length == 15 || ((bits ^ kShortXor2[length]) & ~(0xFFu >> size) & 0xFF) == 0) {
                in_.Skip(size);
                break;
            }
        }
    }
    if (length >= 9) {
        if (length == 9) {
            ++s.lCount;
            CopyMatch(lastLength_, lastDist_);
            return;
        }
        if (length == 14) {
            s.lCount = 0;
            length = DecodeNum15(in_.Peek16(), kStartL2, kLimitsL2, kPlacesL2) + 5;
            const std::uint32_t distance = (in_.Peek16() >> 1) | 0x8000;
            in_.Skip(15);
            Match15(distance, length, false);
            return;
        }
        s.lCount = 0;
        const std::uint32_t saved = length;
        const std::uint32_t distance = oldDist_[(oldDistPtr_ - (length - 9)) & 3];
        length = DecodeNum15(in_.Peek16(), kStartL1, kLimitsL1, kPlacesL1) + 2;
        if (length == 0x101 && saved == 10) {
            s.buf60 ^= 1;
            return;
        }
        if (distance > 256) {
            ++length;
        }
        if (distance >= s.maxDist3) {
            ++length;
        }
        Match15(distance, length, true);
        return;
    }
    s.lCount = 0;
    s.avrLn1 += length;
    s.avrLn1 -= s.avrLn1 >> 4;
    int place =
        static_cast<int>(DecodeNum15(in_.Peek16(), kStartHf2, kLimitsHf2, kPlacesHf2) & 0xFF);
    std::uint32_t distance = s.chSetA[place];
    if (--place != -1) {
        const std::uint32_t last = s.chSetA[place];
        s.chSetA[place + 1] = last;
        s.chSetA[place] = distance;
    }
    length += 2;
    Match15(distance + 1, length, true);
}

void Unpacker::LongLz15() {
    State15& s = *s15_;
    s.numHuf = 0;
    s.nlzb += 16;
    if (s.nlzb > 0xFF) {
        s.nlzb = 0x90;
        s.nhfb >>= 1;
    }
    const std::uint32_t oldAvr2 = s.avrLn2;
    std::uint32_t bits = in_.Peek16();
    std::uint32_t length;
    if (s.avrLn2 >= 122) {
        length = DecodeNum15(bits, kStartL2, kLimitsL2, kPlacesL2);
    } else if (s.avrLn2 >= 64) {
        length = DecodeNum15(bits, kStartL1, kLimitsL1, kPlacesL1);
    } else if (bits < 0x100) {
        length = bits;
        in_.Skip(16);
    } else {
        for (length = 0; ((bits << length) & 0x8000) == 0; ++length) {
        }
        in_.Skip(length + 1);
    }
    s.avrLn2 += length;
    s.avrLn2 -= s.avrLn2 >> 5;
    bits = in_.Peek16();
    std::uint32_t place;
    if (s.avrPlcB > 0x28FF) {
        place = DecodeNum15(bits, kStartHf2, kLimitsHf2, kPlacesHf2);
    } else if (s.avrPlcB > 0x6FF) {
        place = DecodeNum15(bits, kStartHf1, kLimitsHf1, kPlacesHf1);
    } else {
        place = DecodeNum15(bits, kStartHf0, kLimitsHf0, kPlacesHf0);
    }
    s.avrPlcB += place;
    s.avrPlcB -= s.avrPlcB >> 8;
    std::uint32_t distance;
    std::uint32_t newPlace;
    for (;;) {
        distance = s.chSetB[place & 0xFF];
        newPlace = s.nToPlB[distance++ & 0xFF]++ & 0xFF;
        if ((distance & 0xFF) != 0) {
            break;
        }
        CorrHuff15(s.chSetB.data(), s.nToPlB.data());
    }
    s.chSetB[place & 0xFF] = s.chSetB[newPlace];
    s.chSetB[newPlace] = distance;
    distance = ((distance & 0xFF00) | (in_.Peek16() >> 8)) >> 1;
    in_.Skip(7);
    const std::uint32_t oldAvr3 = s.avrLn3;
    if (length != 1 && length != 4) {
        if (length == 0 && distance <= s.maxDist3) {
            ++s.avrLn3;
            s.avrLn3 -= s.avrLn3 >> 8;
        } else if (s.avrLn3 > 0) {
            --s.avrLn3;
        }
    }
    length += 3;
    if (distance >= s.maxDist3) {
        ++length;
    }
    if (distance <= 256) {
        length += 8;
    }
    if (oldAvr3 > 0xB0 || (s.avrPlc >= 0x2A00 && oldAvr2 < 0x40)) {
        s.maxDist3 = 0x7F00;
    } else {
        s.maxDist3 = 0x2001;
    }
    Match15(distance, length, true);
}

void Unpacker::Huff15() {
    State15& s = *s15_;
    std::uint32_t bits = in_.Peek16();
    int place;
    if (s.avrPlc > 0x75FF) {
        place = static_cast<int>(DecodeNum15(bits, kStartHf4, kLimitsHf4, kPlacesHf4));
    } else if (s.avrPlc > 0x5DFF) {
        place = static_cast<int>(DecodeNum15(bits, kStartHf3, kLimitsHf3, kPlacesHf3));
    } else if (s.avrPlc > 0x35FF) {
        place = static_cast<int>(DecodeNum15(bits, kStartHf2, kLimitsHf2, kPlacesHf2));
    } else if (s.avrPlc > 0x0DFF) {
        place = static_cast<int>(DecodeNum15(bits, kStartHf1, kLimitsHf1, kPlacesHf1));
    } else {
        place = static_cast<int>(DecodeNum15(bits, kStartHf0, kLimitsHf0, kPlacesHf0));
    }
    place &= 0xFF;
    if (s.stMode != 0) {
        if (place == 0 && bits > 0xFFF) {
            place = 0x100;
        }
        if (--place == -1) {
            bits = in_.Peek16();
            in_.Skip(1);
            if ((bits & 0x8000) != 0) {
                s.numHuf = s.stMode = 0;
                return;
            }
            const std::uint32_t length = (bits & 0x4000) != 0 ? 4 : 3;
            in_.Skip(1);
            std::uint32_t distance = DecodeNum15(in_.Peek16(), kStartHf2, kLimitsHf2, kPlacesHf2);
            distance = (distance << 5) | (in_.Peek16() >> 11);
            in_.Skip(5);
            CopyMatch(length, distance);
            return;
        }
    } else if (s.numHuf++ >= 16 && s.flagsCount == 0) {
        s.stMode = 1;
    }
    place &= 0xFF;
    s.avrPlc += static_cast<std::uint32_t>(place);
    s.avrPlc -= s.avrPlc >> 8;
    s.nhfb += 16;
    if (s.nhfb > 0xFF) {
        s.nhfb = 0x90;
        s.nlzb >>= 1;
    }
    PutByte(static_cast<std::uint8_t>(s.chSet[place] >> 8));
    std::uint32_t current;
    std::uint32_t newPlace;
    for (;;) {
        current = s.chSet[place];
        newPlace = s.nToPl[current++ & 0xFF]++ & 0xFF;
        if ((current & 0xFF) <= 0xA1) {
            break;
        }
        CorrHuff15(s.chSet.data(), s.nToPl.data());
    }
    s.chSet[place] = s.chSet[newPlace];
    s.chSet[newPlace] = current;
}

void Unpacker::Unpack15(bool solid) {
    if (!solid || !s15_) {
        Reset15();
        InitHuff15();
    }
    State15& s = *s15_;
    s.flagsCount = 0;
    s.flagBuf = 0;
    s.stMode = 0;
    s.lCount = 0;
    if (!OutputFull()) {
        GetFlags15();
        s.flagsCount = 8;
    }
    std::uint32_t lastFlush = unpPtr_;
    while (!OutputFull() && !in_.PastEnd()) {
        if (unpPtr_ - lastFlush >= 0x40000) {
            FlushPlain();
            lastFlush = unpPtr_;
        }
        if (s.stMode != 0) {
            Huff15();
            continue;
        }
        // 1: the likelier of a long match and a literal (as the counts have it), 01: the
        // other one, 00: a short match.
        if (NextFlag15()) {
            s.nlzb > s.nhfb ? LongLz15() : Huff15();
        } else if (NextFlag15()) {
            s.nlzb > s.nhfb ? Huff15() : LongLz15();
        } else {
            ShortLz15();
        }
    }
    FlushPlain();
}

}  // namespace zembrat::rar
