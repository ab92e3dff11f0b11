// Member names between the host code page and what LHA archives hold. LHA tools expect
// Shift-JIS (CP932) names, so a name is stored in CP932 when every character converts and
// comes back unchanged; any other name is kept in UTF-8 for a Unicode name header. Names
// read are converted to the host code page without losing any of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace zembrat::common {

// Strict conversion between two iconv code set names; nothing when any byte does not
// convert.
std::optional<std::string> ConvertText(std::string_view text, const char* from, const char* to);

bool IsValidUtf8(std::string_view text);

struct StoredName {
    std::string bytes;
    bool unicode = false;  // bytes are UTF-8 meant for a Unicode name header
    std::string utf8;      // the name in UTF-8 when it is not plain ASCII (empty: unknown)
};

// A host name (in the host code page) as it is to be stored.
StoredName EncodeStoredName(std::string_view hostName,
                            platform::CodePage host = platform::SystemCodePage());

// A stored name in the host code page. unicode: the bytes came from a Unicode name header
// (UTF-8). Legacy bytes are read as CP932, except that a Unix-made name that is valid UTF-8
// stays UTF-8; bytes that are neither are read as Latin-1, so that nothing is lost.
std::string DecodeStoredName(std::string_view bytes, bool unicode, std::uint8_t osId,
                             platform::CodePage host = platform::SystemCodePage());

}  // namespace zembrat::common
