// Extraction of a cabinet under the safety rules: names that would lead outside the
// destination are refused, and a file appears under its final name only once its data is
// complete and its checksums held.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <system_error>

#include "archiver_api.h"
#include "cab/cab.h"
#include "common/failure.h"
#include "common/member_file.h"
#include "common/safe_path.h"
#include "common/staged_file.h"

namespace zembrat::cab {

namespace {

class Extractor {
  public:
    Extractor(const ExtractOptions& options, ExtractEvents& events)
        : options_(options),
          events_(events),
          target_(options.folder.empty() ? std::string("./") : options.folder),
          umask_(common::ProcessUmask()) {}

    ExtractSummary Run(const std::string& archivePath) {
        Reader reader(archivePath, options_.host);
        std::string reason;
        if (!options_.testOnly && !target_.CreateFolder(reason)) {
            throw common::Failure(ARC_ERROR_CANNOT_WRITE, reason);
        }
        return common::ForEachSelected(reader, options_.select, [&](const Member& member) {
            if (!options_.testOnly) {
                ExtractOne(reader, member);
            } else if (Decode(
                           reader, member, [](std::span<const std::byte>) {}, member.name)) {
                events_.Done(member);
            }
        });
    }

  private:
    // Decodes the member into write; false (reported) when this member fails.
    bool Decode(Reader& reader, const Member& member, const DataSink& write,
                const std::string& destination) {
        return common::DecodeOrReport<Error>(
            events_, member, [&] { reader.Extract(write, events_.Progress(member, destination)); });
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
            common::ReportUnprepared(events_, member, target_, reason);
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
        // Placed without replacing a file another program made meanwhile, unless asked.
        const bool replace = options_.overwrite || made_.count(*path) != 0;
        common::Placement placed;
        try {
            common::MemberFile file(*path, replace);
            if (!Decode(
                    reader, member, [&file](std::span<const std::byte> data) { file.Write(data); },
                    *path)) {
                return;  // the staging file goes with it
            }
            placed = file.Place(member.mode & ~umask_, std::int64_t{member.mtime} * 1'000'000'000);
        } catch (const common::Failure& failure) {
            events_.Failed(Problem::kCannotWrite, member, failure.what());
            return;
        }
        if (placed == common::Placement::kKept) {
            events_.Failed(Problem::kKept, member, "kept the existing file");
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
