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
#include "tar/member_placer.h"
#include "tar/tar.h"

namespace zembrat::tar {

namespace {

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
          placer_(options, events),
          umask_(common::ProcessUmask()) {}

    ExtractSummary Run(const std::string& archivePath) {
        Reader reader(archivePath, options_.host, options_.format);
        if (!options_.fewMembers) {
            reader.StreamAll();
        }
        std::string reason;
        if (!options_.testOnly && !placer_.Target().CreateFolder(reason)) {
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
            placer_.Finish();
            // The archive ends because the file system refused a member's data (the helper
            // cannot be asked to go on midway): that is a write failure, not a damaged archive.
            if (error.Kind() == ErrorKind::kArchive && refusedWrite_) {
                throw common::Failure(ARC_ERROR_CANNOT_WRITE, error.what());
            }
            throw;
        } catch (...) {
            placer_.Finish();
            throw;
        }
        placer_.Finish();
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
        if (member.kind == MemberKind::kDirectory) {
            placer_.MakeFolder(member, *relative, ModeFor(member, 0755));
            return;
        }
        const std::string placed = placer_.Placed(*relative);
        if (member.kind == MemberKind::kSymlink &&
            !common::LinkTargetStaysInside(placed, member.linkTarget)) {
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
        const auto path = placer_.PrepareFile(member, placed);
        if (!path) {
            return;
        }
        if (member.kind == MemberKind::kSymlink || member.kind == MemberKind::kHardlink) {
            MakeLink(member, *path, linkedPath);
            return;
        }
        std::optional<common::MemberFile> file;
        try {
            file.emplace(*path, placer_.MayReplace(*path));
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
        if (placer_.PlaceFile(*file, member, *path, ModeFor(member, 0644),
                              member.mtime
                                  ? std::optional(*member.mtime * common::kNanosecondsPerSecond)
                                  : std::nullopt)) {
            madeFiles_.insert(*path);
        }
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
        const std::string full = placer_.Target().Folder() + placer_.Placed(*relative);
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
                                     : placer_.Target().MakeLink(path, member.linkTarget);
        if (!made) {
            events_.Failed(Problem::kCannotWrite, member,
                           std::string("cannot make the link: ") + std::strerror(errno));
            return;
        }
        placer_.Made(path);
        if (linkedPath) {
            madeFiles_.insert(path);
        } else {
            madeFiles_.erase(path);
        }
        events_.Done(member);
    }

    const ExtractOptions& options_;
    ExtractEvents& events_;
    MemberPlacer placer_;
    unsigned umask_;
    std::set<std::string> madeFiles_;  // full paths of regular files made by this run
    bool refusedWrite_ = false;        // the file system refused a member's data
};

}  // namespace

ExtractSummary Extract(const std::string& archivePath, const ExtractOptions& options,
                       ExtractEvents& events) {
    Extractor extractor(options, events);
    return extractor.Run(archivePath);
}

}  // namespace zembrat::tar
