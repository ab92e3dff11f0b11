// Small types shared by the archive component, its drivers and the file filter.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zembrat::archives {

// The archive kinds, in their fixed order (values 0-13, one byte).
enum TArchiverType : std::uint8_t {
    atLha,
    atZip,
    atCab,
    atArj,
    atTar,
    atTgz,
    atBZ2,
    atRar,
    atBga,
    atYz1,
    atGCA,
    atBel,
    atNone,
    atAutoDetect,
};

// Who expands wildcards and folders of a pack operation's file list.
enum TPackFilter : std::uint8_t { pfArchiver, pfComponent };

// The operations that may pass their names through a list file.
enum TResFileUse : std::uint8_t { ruOnPack, ruOnUnpack, ruOnRemoveItem, ruOnUpdate };

// A set of TResFileUse, one bit per member (bit n for ordinal n).
class TResFileUsage {
  public:
    constexpr TResFileUsage() = default;
    constexpr TResFileUsage(std::initializer_list<TResFileUse> members) {
        for (auto member : members) {
            bits_ |= Bit(member);
        }
    }
    constexpr bool Contains(TResFileUse member) const { return (bits_ & Bit(member)) != 0; }
    constexpr void Include(TResFileUse member) { bits_ |= Bit(member); }
    constexpr void Exclude(TResFileUse member) { bits_ &= static_cast<std::uint8_t>(~Bit(member)); }
    constexpr std::uint8_t Bits() const { return bits_; }
    friend constexpr bool operator==(TResFileUsage, TResFileUsage) = default;

  private:
    static constexpr std::uint8_t Bit(TResFileUse member) {
        return static_cast<std::uint8_t>(1u << member);
    }
    std::uint8_t bits_ = 0;
};

// The one-character string holding NUL: a string option that is not set, distinct from the
// empty string (a value that is set but empty).
inline const std::string NoValue(1, '\0');

inline bool IsNoValue(std::string_view text) {
    return text.size() == 1 && text[0] == '\0';
}
// Empty, or NoValue.
inline bool IsUnsetOrEmpty(std::string_view text) {
    return text.empty() || IsNoValue(text);
}

}  // namespace zembrat::archives
