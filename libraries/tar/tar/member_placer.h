// Where the members of one extraction go, for the tar family and the RAR reader's older
// archives alike: the destination, folder members (their times and modes set at the end, as a
// read-only folder would refuse its members), and the rule for a name already taken: a file
// this run made is replaced by a later member of that name, one that was there before only
// when overwriting was asked (and not when it is newer, with onlyNotOlder).
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "common/folder_times.h"
#include "common/member_file.h"
#include "common/safe_path.h"
#include "tar/tar.h"

namespace zembrat::tar {

class MemberPlacer {
  public:
    MemberPlacer(const ExtractOptions& options, ExtractEvents& events);

    common::ExtractionTarget& Target() { return target_; }

    // The member's checked relative name as it is placed: without its folders when folders
    // are not kept.
    std::string Placed(const std::string& relative) const;

    // Makes a folder member and reports it; nothing when folders are not kept.
    void MakeFolder(const Member& member, const std::string& relative, unsigned mode);

    // The path a member that is not a folder goes to (`placed` from Placed()), its folders
    // made; nullopt, reported, when they cannot be or a file that was there is kept.
    std::optional<std::string> PrepareFile(const Member& member, const std::string& placed);

    // Whether a member may replace what is at path when it is placed.
    bool MayReplace(const std::string& path) const {
        return options_.overwrite || madePaths_.count(path) > 0;
    }

    // Places a member's finished file and reports it; false when it was kept or refused.
    bool PlaceFile(common::MemberFile& file, const Member& member, const std::string& path,
                   unsigned mode, std::optional<std::int64_t> mtimeNanoseconds);

    // Something other than a folder this run made at path (a link).
    void Made(const std::string& path) { madePaths_.insert(path); }

    // Sets the folders' times and modes; once the run has ended, however it ended.
    void Finish() { folderTimes_.Apply(); }

  private:
    const ExtractOptions& options_;
    ExtractEvents& events_;
    common::ExtractionTarget target_;
    common::FolderTimes folderTimes_;
    std::set<std::string> madePaths_;  // everything but folders this run made
};

}  // namespace zembrat::tar
