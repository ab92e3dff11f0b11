// What every engine's reader makes of a member the helper sends: the fields they share, with
// names decoded and the checks they all make.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "archive_host/protocol.h"

namespace zembrat::archive_host {

struct MemberFields {
    std::string name;  // decoded; a folder's name without its trailing '/'
    MemberKind kind = MemberKind::kFile;
    std::string linkTarget;  // decoded
    std::optional<std::uint64_t> size;
    std::optional<std::int64_t> mtime;  // seconds since 1970 UTC
    std::uint32_t mode = 0;             // permission bits
    bool encrypted = false;
    std::string error;  // non-empty: the header is damaged and the member cannot be extracted
};

// Which links are damaged without a target: symbolic links only, or hard links as well.
enum class TargetRule { kSymlinks, kAllLinks };

using NameDecoder = std::string (*)(std::string_view stored);

MemberFields ToMemberFields(const HostMember& member, NameDecoder decode, TargetRule rule);

}  // namespace zembrat::archive_host
