// Extraction of a tar-family archive under the safety rules: names and link targets that
// would lead outside the destination are refused, a hard link may only name a file this run
// made, device files and FIFOs are reported and never made, and a file appears under its
// final name only once its data is complete and sound (common::MemberFile: never with set-id
// bits, never over a file another run placed meanwhile unless replacing was asked for).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <system_error>
#include <vector>

#include "common/failure.h"
#include "common/folder_times.h"
#include "common/member_file.h"
#include "common/safe_path.h"
#include "common/staged_file.h"
#include "tar/tar.h"

namespace zembrat::tar {

namespace {

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "." or "./" (however often): the folder the archive was made from.
bool IsTopFolder(std::string_view name) {
    return !name.empty() && name.find_first_not_of("./") == std::string_view::npos &&
           name.find("..") == std::string_view::npos;
}

class Extractor {
  public:
    Extractor(const ExtractOptions& options, ExtractEvents& events)
        : options_(options),
          events_(events),
          target_(options.folder.empty() ? std::string("./") : options.folder),
          umask_(common::ProcessUmask()) {}

    ExtractSummary Run(const std::string& archivePath) {
        Reader reader(archivePath, options_.host, options_.format);
        if (!options_.fewMembers) {
            reader.StreamAll();
        }
        std::string reason;
        if (!options_.testOnly && !target_.CreateFolder(reason)) {
            throw Error(ErrorKind::kArchive, reason);
        }
        ExtractSummary summary;
        try {
            summary = common::ForEachSelected(reader, options_.select, [&](const Member& member) {
                if (options_.testOnly) {
                    TestOne(reader, member);
                } else {
                    ExtractOne(reader, member);
                }
            });
        } catch (const Error& error) {
            folderTimes_.Apply();
            // The archive ends because the file system refused a member's data (the helper
            // cannot be asked to go on midway): that is a write failure, not a damaged archive.
            if (error.Kind() == ErrorKind::kArchive && refusedWrite_) {
                throw common::Failure(ARC_ERROR_CANNOT_WRITE, error.what());
            }
            throw;
        } catch (...) {
            folderTimes_.Apply();
            throw;
        }
        folderTimes_.Apply();
        return summary;
    }

  private:
    // Permission bits and a folder's sticky bit; set-id bits never come out of an archive.
    unsigned ModeFor(const Member& member, unsigned fallback) const {
        const unsigned stored = member.mode & 01777;
        return (options_.keepPermissions && stored != 0 ? stored : fallback) & ~umask_;
    }

    // Decodes the member into write; false (reported) when this member fails.
    bool Decode(Reader& reader, const Member& member, const DataSink& write, const HoleSink& holes,
                const std::string& destination, const std::function<void()>& finish = {}) {
        try {
            return common::DecodeOrReport<Error>(events_, member, [&] {
                reader.Extract(write, events_.Progress(member, destination), holes);
                if (finish) {
                    finish();
                }
            });
        } catch (const common::Failure& failure) {
            // The file system refused this member's data (a full disk): the member fails with
            // the system's reason; the reader then tells whether the archive can go on.
            events_.Failed(Problem::kCannotWrite, member, failure.what());
            refusedWrite_ = true;
            return false;
        }
    }

    void TestOne(Reader& reader, const Member& member) {
        if (member.kind == MemberKind::kFile &&
            !Decode(
                reader, member, [](std::span<const std::byte>) {}, [](std::uint64_t) {},
                member.name)) {
            return;
        }
        if (!member.error.empty()) {
            events_.Failed(Problem::kDamaged, member, member.error);
            return;
        }
        events_.Done(member);
    }

    void ExtractOne(Reader& reader, const Member& member) {
        std::string reason;
        if (!member.error.empty()) {
            events_.Failed(Problem::kDamaged, member, member.error);
            return;
        }
        auto relative = common::SafeRelativePath(member.name, reason, common::NameRules::kUnix);
        if (!relative && member.kind == MemberKind::kDirectory && IsTopFolder(member.name)) {
            return;  // "./": the destination itself
        }
        if (!relative) {
            events_.Failed(Problem::kUnsafe, member, "refused (" + reason + ")");
            return;
        }
        if (member.kind == MemberKind::kOther) {
            events_.Failed(Problem::kNotCreated, member,
                           "a device file, FIFO or socket: not created");
            return;
        }
        if (!options_.useFolders) {
            if (member.kind == MemberKind::kDirectory) {
                return;
            }
            *relative = FileNameOf(*relative);
        }
        if (member.kind == MemberKind::kDirectory) {
            auto path = target_.Prepare(*relative, true, reason);
            if (!path) {
                common::ReportUnprepared(events_, member, target_, reason);
                return;
            }
            // Times and permissions come last: a read-only folder would refuse its members.
            folderTimes_.Add(*path, member.mtime.value_or(0) * common::kNanosecondsPerSecond,
                             ModeFor(member, 0755));
            events_.Done(member);
            return;
        }
        if (member.kind == MemberKind::kSymlink &&
            !common::LinkTargetStaysInside(*relative, member.linkTarget)) {
            events_.Failed(Problem::kUnsafe, member, "refused (symbolic link leads outside)");
            return;
        }
        std::optional<std::string> linkedPath;
        if (member.kind == MemberKind::kHardlink) {
            linkedPath = HardLinkSource(member);
            if (!linkedPath) {
                return;
            }
        }
        auto path = target_.Prepare(*relative, false, reason);
        if (!path) {
            common::ReportUnprepared(events_, member, target_, reason);
            return;
        }
        // What a run of ours killed midway left in this folder goes before this run writes.
        if (const std::string folder = common::FolderOf(*path); swept_.insert(folder).second) {
            common::RemoveStaleStagedFiles(folder);
        }
        struct stat existing {};
        // A later member of the same name replaces what this run made, as tar users expect;
        // a file that was there before is replaced only when asked.
        if (::lstat(path->c_str(), &existing) == 0 && madePaths_.count(*path) == 0) {
            if (!options_.overwrite) {
                events_.Failed(Problem::kKept, member, "kept the existing file");
                return;
            }
            if (options_.onlyNotOlder && member.mtime && existing.st_mtime > *member.mtime) {
                events_.Failed(Problem::kKept, member, "kept the existing file, which is newer");
                return;
            }
        }
        if (member.kind == MemberKind::kSymlink || member.kind == MemberKind::kHardlink) {
            MakeLink(member, *path, linkedPath);
            return;
        }
        // A later member of the same name replaces what this run made; anything else at the
        // name when the file is placed (also a file another run made meanwhile) only when
        // asked.
        const bool replace = options_.overwrite || madePaths_.count(*path) > 0;
        std::optional<common::MemberFile> file;
        try {
            file.emplace(*path, replace);
        } catch (const common::Failure& failure) {
            events_.Failed(Problem::kCannotWrite, member, failure.what());
            return;
        }
        // Zeros become holes: a sparse member stays sparse, whether its holes come as such or
        // as zeros.
        if (!Decode(
                reader, member, [&file](std::span<const std::byte> data) { file->Write(data); },
                [&file](std::uint64_t size) { file->Hole(size); }, *path)) {
            return;  // the staging file goes with it
        }
        common::Placement placed{};
        try {
            placed = file->Place(ModeFor(member, 0644),
                                 member.mtime
                                     ? std::optional(*member.mtime * common::kNanosecondsPerSecond)
                                     : std::nullopt);
        } catch (const common::Failure& failure) {
            events_.Failed(Problem::kCannotWrite, member, failure.what());
            return;
        }
        if (placed == common::Placement::kKept) {
            events_.Failed(Problem::kKept, member, "kept the existing file");
            return;
        }
        madeFiles_.insert(*path);
        madePaths_.insert(*path);
        events_.Done(member);
    }

    // Where a hard link's data lies: only a regular file this extraction made counts, so a
    // link can neither reach outside nor take in a file that was already there.
    std::optional<std::string> HardLinkSource(const Member& member) {
        std::string reason;
        auto relative =
            common::SafeRelativePath(member.linkTarget, reason, common::NameRules::kUnix);
        if (!relative) {
            events_.Failed(Problem::kUnsafe, member, "refused (hard link leads outside)");
            return std::nullopt;
        }
        const std::string full =
            target_.Folder() + (options_.useFolders ? *relative : FileNameOf(*relative));
        if (madeFiles_.count(full) == 0) {
            events_.Failed(Problem::kUnsafe, member,
                           "refused (hard link to a file this extraction did not make)");
            return std::nullopt;
        }
        return full;
    }

    void MakeLink(const Member& member, const std::string& path,
                  const std::optional<std::string>& linkedPath) {
        const bool made = linkedPath ? common::MakeHardLink(*linkedPath, path)
                                     : target_.MakeLink(path, member.linkTarget);
        if (!made) {
            events_.Failed(Problem::kCannotWrite, member,
                           std::string("cannot make the link: ") + std::strerror(errno));
            return;
        }
        madePaths_.insert(path);
        if (linkedPath) {
            madeFiles_.insert(path);
        } else {
            madeFiles_.erase(path);
        }
        events_.Done(member);
    }

    const ExtractOptions& options_;
    ExtractEvents& events_;
    common::ExtractionTarget target_;
    unsigned umask_;
    common::FolderTimes folderTimes_;
    std::set<std::string> madeFiles_;  // full paths of regular files made by this run
    std::set<std::string> madePaths_;  // and of everything else it made but folders
    bool refusedWrite_ = false;        // the file system refused a member's data
    std::set<std::string> swept_;      // folders cleared of staging files left by killed runs
};

}  // namespace

ExtractSummary Extract(const std::string& archivePath, const ExtractOptions& options,
                       ExtractEvents& events) {
    Extractor extractor(options, events);
    return extractor.Run(archivePath);
}

}  // namespace zembrat::tar
