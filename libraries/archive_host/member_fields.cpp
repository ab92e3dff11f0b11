#include "archive_host/member_fields.h"

namespace zembrat::archive_host {

MemberFields ToMemberFields(const HostMember& member, NameDecoder decode, TargetRule rule) {
    MemberFields fields;
    fields.name = decode(member.path);
    while (fields.name.size() > 1 && fields.name.back() == '/') {
        fields.name.pop_back();  // folders are named without their trailing '/'
    }
    fields.kind = member.kind;
    fields.linkTarget = decode(member.linkTarget);
    fields.size = member.size;
    fields.mtime = member.mtime;
    fields.mode = member.mode;
    fields.encrypted = member.encrypted;
    fields.error = member.error;
    const bool needsTarget =
        member.kind == MemberKind::kSymlink ||
        (rule == TargetRule::kAllLinks && member.kind == MemberKind::kHardlink);
    if (needsTarget && fields.linkTarget.empty() && fields.error.empty()) {
        fields.error = rule == TargetRule::kAllLinks
                           ? "damaged member: a link without a target"
                           : "damaged member: a symbolic link without a target";
    }
    return fields;
}

}  // namespace zembrat::archive_host
