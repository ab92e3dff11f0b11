// The names of cabinet members (also compiled into the self-extracting program).
#include <algorithm>

#include "cab/cab.h"
#include "common/name_encoding.h"

namespace zembrat::cab {

namespace {

// Any code other than 'U': a legacy name is read as CP932 even when it happens to be valid
// UTF-8, since cabinets come from Windows.
constexpr std::uint8_t kMadeOnWindows = 0;

}  // namespace

std::string DecodeMemberName(std::string_view stored, std::uint32_t attributes) {
    const bool utf8 = (attributes & kAttributeUtf8Name) != 0 && common::IsValidUtf8(stored);
    std::string name = common::DecodeStoredName(stored, utf8, kMadeOnWindows);
    // Only now is every '\' a separator: the CP932 bytes are gone.
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

}  // namespace zembrat::cab
