// Extraction of a cabinet under the safety rules: names that would lead outside the
// destination are refused, and a file appears under its final name only once its data is
// complete and its checksums held.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <system_error>

#include "cab/cab.h"
#include "common/safe_path.h"

namespace zembrat::cab {

namespace {

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
        Reader reader(archivePath);
        std::string reason;
        if (!options_.testOnly && !target_.CreateFolder(reason)) {
            throw Error(ErrorKind::kArchive, reason);
        }
        ExtractSummary summary;
        while (auto member = reader.Next()) {
            ++summary.seen;
            if (options_.select && !options_.select(*member)) {
                continue;
            }
            ++summary.selected;
            if (options_.testOnly) {
                if (Decode(
                        reader, *member, [](std::span<const std::byte>) {}, member->name)) {
                    events_.Done(*member);
                }
            } else {
                ExtractOne(reader, *member);
            }
        }
        return summary;
    }

  private:
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

    void ExtractOne(Reader& reader, const Member& member) {
        std::string reason;
        auto relative = common::SafeRelativePath(member.name, reason, common::NameRules::kDos);
        if (!relative) {
            events_.Failed(Problem::kUnsafe, member, "refused (" + reason + ")");
            return;
        }
        if (!options_.useFolders) {
            const std::size_t slash = relative->find_last_of('/');
            if (slash != std::string::npos) {
                relative->erase(0, slash + 1);
            }
        }
        auto path = target_.Prepare(*relative, false, reason);
        if (!path) {
            events_.Failed(
                target_.LastFailureWasUnsafe() ? Problem::kUnsafe : Problem::kCannotWrite, member,
                target_.LastFailureWasUnsafe() ? "refused (" + reason + ")" : reason);
            return;
        }
        struct stat existing {};
        // A later member of the same name replaces what this run made; a file that was
        // there before is replaced only when asked.
        if (::lstat(path->c_str(), &existing) == 0 && !options_.overwrite &&
            made_.count(*path) == 0) {
            events_.Failed(Problem::kKept, member, "kept the existing file");
            return;
        }
        common::TemporaryFile temporary(common::FolderOf(*path));
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
        ::fchmod(fd, member.mode & 0777 & ~umask_);
        const timespec times[2] = {{static_cast<time_t>(member.mtime), 0},
                                   {static_cast<time_t>(member.mtime), 0}};
        ::futimens(fd, times);
        if (!temporary.Commit(*path, reason)) {
            events_.Failed(Problem::kCannotWrite, member, reason);
            return;
        }
        made_.insert(*path);
        events_.Done(member);
    }

    const ExtractOptions& options_;
    ExtractEvents& events_;
    common::ExtractionTarget target_;
    unsigned umask_;
    std::set<std::string> made_;  // full paths of the files this run made
};

}  // namespace

ExtractSummary Extract(const std::string& archivePath, const ExtractOptions& options,
                       ExtractEvents& events) {
    Extractor extractor(options, events);
    return extractor.Run(archivePath);
}

}  // namespace zembrat::cab
