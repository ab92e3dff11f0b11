#include "tar/member_placer.h"

#include <sys/stat.h>

#include "common/engine.h"
#include "common/failure.h"

namespace zembrat::tar {

MemberPlacer::MemberPlacer(const ExtractOptions& options, ExtractEvents& events)
    : options_(options),
      events_(events),
      target_(options.folder.empty() ? std::string("./") : options.folder) {}

std::string MemberPlacer::Placed(const std::string& relative) const {
    if (options_.useFolders) {
        return relative;
    }
    const std::size_t slash = relative.find_last_of('/');
    return slash == std::string::npos ? relative : relative.substr(slash + 1);
}

void MemberPlacer::MakeFolder(const Member& member, const std::string& relative, unsigned mode) {
    if (!options_.useFolders) {
        return;
    }
    std::string reason;
    const auto path = target_.Prepare(relative, true, reason);
    if (!path) {
        common::ReportUnprepared(events_, member, target_, reason);
        return;
    }
    folderTimes_.Add(*path, member.mtime.value_or(0) * common::kNanosecondsPerSecond, mode);
    events_.Done(member);
}

std::optional<std::string> MemberPlacer::PrepareFile(const Member& member,
                                                     const std::string& placed) {
    std::string reason;
    auto path = target_.Prepare(placed, false, reason);
    if (!path) {
        common::ReportUnprepared(events_, member, target_, reason);
        return std::nullopt;
    }
    struct stat existing {};
    if (::lstat(path->c_str(), &existing) == 0 && madePaths_.count(*path) == 0) {
        if (!options_.overwrite) {
            events_.Failed(Problem::kKept, member, "kept the existing file");
            return std::nullopt;
        }
        if (options_.onlyNotOlder && member.mtime && existing.st_mtime > *member.mtime) {
            events_.Failed(Problem::kKept, member, "kept the existing file, which is newer");
            return std::nullopt;
        }
    }
    return path;
}

bool MemberPlacer::PlaceFile(common::MemberFile& file, const Member& member,
                             const std::string& path, unsigned mode,
                             std::optional<std::int64_t> mtimeNanoseconds) {
    common::Placement placed{};
    try {
        placed = file.Place(mode, mtimeNanoseconds);
    } catch (const common::Failure& failure) {
        events_.Failed(Problem::kCannotWrite, member, failure.what());
        return false;
    }
    if (placed == common::Placement::kKept) {
        events_.Failed(Problem::kKept, member, "kept the existing file");
        return false;
    }
    madePaths_.insert(path);
    events_.Done(member);
    return true;
}

}  // namespace zembrat::tar
