// Extraction of a tar-family archive under the safety rules: names and link targets that
// would lead outside the destination are refused, a hard link may only name a file this run
// made, device files and FIFOs are reported and never made, and a file appears under its
// final name only once its data is complete and sound.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <system_error>
#include <vector>

#include "common/safe_path.h"
#include "tar/tar.h"

namespace zembrat::tar {

namespace {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "." or "./" (however often): the folder the archive was made from.
bool IsTopFolder(std::string_view name) {
    return !name.empty() && name.find_first_not_of("./") == std::string_view::npos &&
           name.find("..") == std::string_view::npos;
}

timespec AtSecond(std::int64_t seconds) {
    timespec time{};
    time.tv_sec = static_cast<time_t>(seconds);
    return time;
}

struct FolderTime {
    std::string path;
    std::int64_t mtime;
    unsigned mode;
};

// Writes all of data or throws: a failed write spoils this member only.
void WriteAll(int fd, std::span<const std::byte> data) {
    while (!data.empty()) {
        const ssize_t wrote = ::write(fd, data.data(), data.size());
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            throw std::system_error(errno, std::generic_category(), "cannot write");
        }
        data = data.subspan(static_cast<std::size_t>(wrote));
    }
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
        std::string reason;
        if (!options_.testOnly && !target_.CreateFolder(reason)) {
            throw Error(ErrorKind::kArchive, reason);
        }
        ExtractSummary summary;
        try {
            while (auto member = reader.Next()) {
                ++summary.seen;
                if (options_.select && !options_.select(*member)) {
                    continue;
                }
                ++summary.selected;
                if (options_.testOnly) {
                    TestOne(reader, *member);
                } else {
                    ExtractOne(reader, *member);
                }
            }
        } catch (...) {
            ApplyFolderTimes();
            throw;
        }
        ApplyFolderTimes();
        return summary;
    }

  private:
    unsigned ModeFor(const Member& member, unsigned fallback) const {
        const unsigned stored = member.mode & 07777;
        return (options_.keepPermissions && stored != 0 ? stored : fallback) & ~umask_;
    }

    // Decodes the member into write; false (reported) when this member fails.
    bool Decode(Reader& reader, const Member& member, const DataSink& write,
                const std::string& destination) {
        try {
            reader.Extract(write, events_.Progress(member, destination));
        } catch (const Error& error) {
            if (error.Kind() != ErrorKind::kMember) {
                throw;
            }
            events_.Failed(Problem::kDamaged, member, error.what());
            return false;
        } catch (const std::system_error& error) {
            events_.Failed(Problem::kCannotWrite, member, error.what());
            return false;
        }
        return true;
    }

    void TestOne(Reader& reader, const Member& member) {
        if (member.kind == MemberKind::kFile &&
            !Decode(
                reader, member, [](std::span<const std::byte>) {}, member.name)) {
            return;
        }
        if (!member.error.empty()) {
            events_.Failed(Problem::kDamaged, member, member.error);
            return;
        }
        events_.Done(member);
    }

    void PrepareFailed(const Member& member, const std::string& reason) {
        if (target_.LastFailureWasUnsafe()) {
            events_.Failed(Problem::kUnsafe, member, "refused (" + reason + ")");
        } else {
            events_.Failed(Problem::kCannotWrite, member, reason);
        }
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
                PrepareFailed(member, reason);
                return;
            }
            // Times and permissions come last: a read-only folder would refuse its members.
            folderTimes_.push_back({*path, member.mtime.value_or(0), ModeFor(member, 0755)});
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
            PrepareFailed(member, reason);
            return;
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
        common::TemporaryFile temporary(FolderOf(*path));
        if (!temporary.Valid()) {
            events_.Failed(Problem::kCannotWrite, member,
                           std::string("cannot create a file: ") + std::strerror(errno));
            return;
        }
        const int fd = temporary.Fd();
        if (!Decode(
                reader, member, [fd](std::span<const std::byte> data) { WriteAll(fd, data); },
                *path)) {
            return;  // the temporary file goes with it
        }
        ::fchmod(fd, ModeFor(member, 0644));
        if (member.mtime) {
            const timespec times[2] = {AtSecond(*member.mtime), AtSecond(*member.mtime)};
            ::futimens(fd, times);
        }
        if (!temporary.Commit(*path, reason)) {
            events_.Failed(Problem::kCannotWrite, member, reason);
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
        // Made under a temporary name and renamed, so that an existing file is replaced whole.
        const std::string temporary = FolderOf(path) + ".zembrat-link-" + std::to_string(getpid());
        ::unlink(temporary.c_str());
        const bool made = linkedPath ? ::link(linkedPath->c_str(), temporary.c_str()) == 0
                                     : ::symlink(member.linkTarget.c_str(), temporary.c_str()) == 0;
        if (!made || std::rename(temporary.c_str(), path.c_str()) != 0) {
            const int error = errno;
            ::unlink(temporary.c_str());
            events_.Failed(Problem::kCannotWrite, member,
                           std::string("cannot make the link: ") + std::strerror(error));
            return;
        }
        madePaths_.insert(path);
        if (linkedPath) {
            madeFiles_.insert(path);
        } else {
            target_.RememberLink(path);
            madeFiles_.erase(path);
        }
        events_.Done(member);
    }

    void ApplyFolderTimes() {
        // Deepest first: files made inside a folder change its time.
        for (auto it = folderTimes_.rbegin(); it != folderTimes_.rend(); ++it) {
            const timespec times[2] = {AtSecond(it->mtime), AtSecond(it->mtime)};
            ::utimensat(AT_FDCWD, it->path.c_str(), times, AT_SYMLINK_NOFOLLOW);
            ::chmod(it->path.c_str(), it->mode);
        }
        folderTimes_.clear();
    }

    const ExtractOptions& options_;
    ExtractEvents& events_;
    common::ExtractionTarget target_;
    unsigned umask_;
    std::vector<FolderTime> folderTimes_;
    std::set<std::string> madeFiles_;  // full paths of regular files made by this run
    std::set<std::string> madePaths_;  // and of everything else it made but folders
};

}  // namespace

ExtractSummary Extract(const std::string& archivePath, const ExtractOptions& options,
                       ExtractEvents& events) {
    Extractor extractor(options, events);
    return extractor.Run(archivePath);
}

}  // namespace zembrat::tar
