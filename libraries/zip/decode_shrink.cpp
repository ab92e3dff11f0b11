// Shrink (method 1) of early PKZIP: LZW with codes of 9 to 13 bits. Code 256 is followed by a
// command: 1 widens the codes by one bit, 2 frees every entry that is no other entry's prefix
// (new entries then take the lowest free codes, in order).
#include <algorithm>
#include <array>
#include <vector>

#include "bit_input.h"
#include "decoder.h"

namespace zembrat::zip::decode {

namespace {

constexpr std::uint32_t kControl = 256;
constexpr std::uint32_t kFirstFree = 257;
constexpr int kNarrowest = 9;
constexpr int kWidest = 13;
constexpr std::uint32_t kCodes = 1u << kWidest;
constexpr std::uint32_t kUnused = 0xFFFFFFFF;

class Dictionary {
  public:
    Dictionary() : parent_(kCodes, kUnused), byte_(kCodes, 0) {
        for (std::uint32_t code = 0; code < 256; ++code) {
            byte_[code] = static_cast<std::uint8_t>(code);
        }
        FillFree();
    }

    bool InUse(std::uint32_t code) const { return code < 256 || parent_[code] != kUnused; }
    std::uint32_t NextFree() const {
        return free_ < freeCodes_.size() ? freeCodes_[free_] : kUnused;
    }

    void Add(std::uint32_t prefix, std::uint8_t byte) {
        if (free_ >= freeCodes_.size()) {
            return;  // the table is full: nothing is added until a clear
        }
        const std::uint32_t code = freeCodes_[free_++];
        parent_[code] = prefix;
        byte_[code] = byte;
    }

    // The bytes of a code, into text (reversed order is undone here).
    void Spell(std::uint32_t code, std::vector<std::uint8_t>& text) const {
        text.clear();
        while (code >= 256) {
            if (parent_[code] == kUnused || text.size() >= kCodes) {
                Corrupt("a code that leads nowhere");
            }
            text.push_back(byte_[code]);
            code = parent_[code];
        }
        text.push_back(byte_[code]);
        std::reverse(text.begin(), text.end());
    }

    void PartialClear() {
        std::vector<bool> isPrefix(kCodes, false);
        for (std::uint32_t code = kFirstFree; code < kCodes; ++code) {
            if (parent_[code] != kUnused) {
                isPrefix[parent_[code]] = true;
            }
        }
        for (std::uint32_t code = kFirstFree; code < kCodes; ++code) {
            if (!isPrefix[code]) {
                parent_[code] = kUnused;
            }
        }
        FillFree();
    }

  private:
    void FillFree() {
        freeCodes_.clear();
        free_ = 0;
        for (std::uint32_t code = kFirstFree; code < kCodes; ++code) {
            if (parent_[code] == kUnused) {
                freeCodes_.push_back(code);
            }
        }
    }

    std::vector<std::uint32_t> parent_;
    std::vector<std::uint8_t> byte_;
    std::vector<std::uint32_t> freeCodes_;
    std::size_t free_ = 0;
};

}  // namespace

void DecodeShrink(Input& in, const Member& member, Output& out) {
    BitInput bits(in);
    Dictionary dictionary;
    int width = kNarrowest;
    std::vector<std::uint8_t> text;
    std::vector<std::uint8_t> previousText;
    std::uint64_t written = 0;
    std::uint32_t previous = kUnused;
    auto emit = [&](const std::vector<std::uint8_t>& bytes) {
        const auto take =
            static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), member.size - written));
        out.Write(std::as_bytes(std::span(bytes)).first(take));
        written += take;
    };
    while (written < member.size && !bits.AtEnd()) {
        const std::uint32_t code = bits.Bits(width);
        if (code == kControl) {
            const std::uint32_t command = bits.Bits(width);
            if (command == 1 && width < kWidest) {
                ++width;
            } else if (command == 2) {
                dictionary.PartialClear();
            } else {
                Corrupt("an unknown Shrink command");
            }
            continue;
        }
        if (previous == kUnused) {
            if (code >= 256) {
                Corrupt("the first code is no byte");
            }
            text.assign(1, static_cast<std::uint8_t>(code));
        } else if (dictionary.InUse(code)) {
            dictionary.Spell(code, text);
            dictionary.Add(previous, text.front());
        } else if (code == dictionary.NextFree()) {
            // The code being defined right now: the previous text and its own first byte.
            dictionary.Add(previous, previousText.front());
            dictionary.Spell(code, text);
        } else {
            Corrupt("a code that is not defined");
        }
        emit(text);
        previous = code;
        previousText.swap(text);
    }
    if (written < member.size) {
        Corrupt("the data ends early");
    }
}

}  // namespace zembrat::zip::decode
