// a, u, f and d: a new archive is always written under a temporary name beside the old one
// and renamed over it only when complete, so a failure leaves the old archive as it was.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "archiver_api.h"
#include "common/name_encoding.h"
#include "common/safe_path.h"
#include "common/source_walk.h"
#include "platform/file_system.h"
#include "platform/file_time.h"
#include "platform/path.h"
#include "unlha32/archive_source.h"
#include "unlha32/fd_stream.h"
#include "unlha32/operations.h"
#include "unlha32/progress_meter.h"
#include "unlha32/source_file.h"

namespace zembrat::unlha32 {

namespace {

using common::CleanRelative;
using common::SourceEntry;

std::string Escaped(const std::string& name) {
    return common::EscapeControlCharacters(name);
}

bool HasWildcard(std::string_view text) {
    return text.find_first_of("*?") != std::string_view::npos;
}

class Collector {
  public:
    Collector(const Request& request)
        : request_(request), walk_({.excluded = [&request](const std::string& stored) {
              return Excluded(stored, request.options.excludes);
          }}) {
        if (!request.folder.empty()) {
            base_ = platform::IncludeTrailingDelimiter(platform::ExpandFileName(request.folder));
        }
    }

    std::vector<SourceEntry> Collect() {
        for (const std::string& name : request_.names) {
            CollectName(name);
        }
        return walk_.Take();
    }

  private:
    std::string StoredNameFor(const std::string& given, const std::string& path) const {
        const std::string fileName =
            platform::ExtractFileName(platform::ExcludeTrailingDelimiter(path));
        if (request_.options.pathMode == PathMode::kNameOnly) {
            return fileName;
        }
        if (given.empty() || given.front() != '/') {
            return CleanRelative(given);
        }
        const std::string full = platform::ExpandFileName(path);
        if (!base_.empty() && full.starts_with(base_)) {
            return CleanRelative(full.substr(base_.size()));
        }
        if (request_.options.pathMode == PathMode::kFull) {
            return CleanRelative(full);
        }
        return fileName;
    }

    void CollectName(const std::string& given) {
        const std::string path = given.front() == '/' || base_.empty() ? given : base_ + given;
        struct stat info {};
        if (lstat(path.c_str(), &info) == 0) {
            // A link named by the caller stands for what it leads to, as other LHA tools take
            // it; links met inside folders or through masks are stored as links.
            const bool throughLink = S_ISLNK(info.st_mode);
            if (throughLink && stat(path.c_str(), &info) != 0) {
                throw Failure(ARC_ERROR_CANNOT_READ, Escaped(path) +
                                                         ": the symbolic link leads nowhere (" +
                                                         std::strerror(errno) + ")");
            }
            walk_.Add(path, StoredNameFor(given, path), info, throughLink);
            return;
        }
        const std::string mask = platform::ExtractFileName(path);
        if (!HasWildcard(mask)) {
            throw Failure(ARC_ERROR_CANNOT_READ,
                          "cannot find " + Escaped(path) + ": " + std::strerror(errno));
        }
        const std::string folder = platform::ExtractFilePath(path);
        const std::string storedFolder =
            platform::ExtractFilePath(StoredNameFor(given, folder + "x"));
        const std::size_t before = walk_.Count();
        Search(folder.empty() ? std::string("./") : folder, storedFolder, mask);
        if (walk_.Count() == before) {
            throw Failure(ARC_ERROR_NO_FILES, "nothing matches " + Escaped(path));
        }
    }

    void Search(const std::string& folder, const std::string& storedFolder,
                const std::string& mask) {
        for (const std::string& name : walk_.FolderNames(folder)) {
            const std::string path = folder + name;
            struct stat info {};
            if (lstat(path.c_str(), &info) != 0) {
                continue;
            }
            if (platform::MatchesMask(name, mask)) {
                walk_.Add(path, storedFolder + name, info);
            } else if (request_.options.recursive && S_ISDIR(info.st_mode)) {
                Search(path + "/", storedFolder + name + "/", mask);
            }
        }
    }

    const Request& request_;
    common::SourceWalk walk_;
    std::string base_;
};

lha::Member HeaderFor(const SourceEntry& entry) {
    lha::Member header;
    const common::StoredName name = common::EncodeStoredName(entry.stored);
    header.path = name.bytes;
    header.unicodePath = name.utf8;
    header.osId = 'U';
    header.unixTime = entry.info.st_mtim.tv_sec;
    header.windowsWriteTime = platform::FileTimeFromUnix(
        entry.info.st_mtim.tv_sec, static_cast<std::uint32_t>(entry.info.st_mtim.tv_nsec));
    header.windowsAccessTime = platform::FileTimeFromUnix(
        entry.info.st_atim.tv_sec, static_cast<std::uint32_t>(entry.info.st_atim.tv_nsec));
    header.windowsCreateTime = header.windowsWriteTime;
    header.unixMode = static_cast<std::uint16_t>(entry.info.st_mode & 0xFFFF);
    header.unixUid = static_cast<std::uint16_t>(entry.info.st_uid & 0xFFFF);
    header.unixGid = static_cast<std::uint16_t>(entry.info.st_gid & 0xFFFF);
    header.msdosAttributes = S_ISDIR(entry.info.st_mode) ? 0x10 : 0x20;
    if ((entry.info.st_mode & S_IWUSR) == 0) {
        header.msdosAttributes |= 0x01;
    }
    header.linkTarget = entry.linkTarget;
    if (S_ISDIR(entry.info.st_mode) || S_ISLNK(entry.info.st_mode)) {
        header.method = "-lhd-";
    }
    return header;
}

void AddEntry(lha::Writer& writer, const SourceEntry& entry, Context& context) {
    lha::Member header = HeaderFor(entry);
    if (S_ISDIR(entry.info.st_mode)) {
        writer.AddDirectory(header);
        context.output.Line("added " + Escaped(entry.stored) + "/");
        return;
    }
    if (S_ISLNK(entry.info.st_mode)) {
        writer.AddSymlink(header);
        context.output.Line("added " + Escaped(entry.stored));
        return;
    }
    common::SourceFile file(entry.path, entry.throughLink);
    try {
        // Seekable: the writer reads the file again for the stored fallback instead of
        // keeping a copy of it.
        SourceInput input(file);
        header.originalSize = file.Size();
        EXTRACTINGINFOEX record;
        FillProgressRecord(header, entry.path, entry.stored, record);
        ProgressMeter meter(context.progress, record);
        writer.AddFile(header, input, file.Size(), meter.Callback());
        file.RequireUnchanged();
        meter.Finish();
    } catch (const lha::Error& error) {
        // What the header level cannot carry, or no room for a copy of the input: otherwise
        // the input failed.
        const int code = error.Kind() == lha::ErrorKind::kTooLarge ||
                                 error.Kind() == lha::ErrorKind::kCannotWrite
                             ? ResultFor(error)
                             : ARC_ERROR_CANNOT_READ;
        throw Failure(code, Escaped(entry.path) + ": " + error.what());
    }
    context.output.Line("added " + Escaped(entry.stored));
}

// Whether an error reading the old archive lies in the archive, not in reading or writing.
bool IsArchiveDamage(const lha::Error& error) {
    return error.Kind() != lha::ErrorKind::kIo && error.Kind() != lha::ErrorKind::kCannotWrite;
}

// Writes the new archive under a temporary name; `fill` adds the members and reports whether
// anything changed. Nothing changed on an existing archive: the old file stays untouched.
template <typename Fill>
int Rewrite(const Request& request, Context& context, Fill fill) {
    struct stat old {};
    const bool exists = lstat(request.archive.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        throw Failure(ARC_ERROR_NOT_REGULAR,
                      "the archive is not a regular file: " + Escaped(request.archive));
    }
    std::unique_ptr<ArchiveSource> source;
    if (exists) {
        source = std::make_unique<ArchiveSource>(request.archive, false);
    }
    common::ArchiveOutput file(request.archive);
    ArchiveStream out(file);
    std::size_t members = 0;
    bool changed = false;
    try {
        lha::Writer writer(out, lha::WriterOptions{.headerLevel = request.options.headerLevel,
                                                   .method = request.options.method,
                                                   .osId = 'U',
                                                   .level = request.options.encoderLevel});
        changed = fill(source.get(), writer, members);
        if (!changed && exists) {
            context.output.Line("nothing to change");
            return ARC_OK;
        }
        writer.Finish();
    } catch (const lha::Aborted&) {
        throw Failure(ARC_ERROR_ABORTED,
                      "stopped at the owner window's request; archive unchanged");
    } catch (const lha::Error& error) {
        const int code =
            error.Kind() == lha::ErrorKind::kIo ? ARC_ERROR_CANNOT_WRITE : ResultFor(error);
        throw Failure(code, std::string(error.what()) + "; archive unchanged");
    }
    if (members == 0) {
        if (exists && unlink(request.archive.c_str()) != 0) {
            throw Failure(ARC_ERROR_CANNOT_WRITE, "cannot remove the emptied archive");
        }
        context.output.Line("no members left; archive removed");
        return ARC_OK;
    }
    file.Commit(common::ArchiveOutput::ModeFor(request.archive));
    return ARC_OK;
}

// A member whose data runs past the end of the archive is damaged: copying the members
// around it would silently drop it.
void RequireComplete(ArchiveSource& source, const lha::Member& member) {
    if (member.dataOffset + member.compressedSize > source.Input().Size()) {
        throw Failure(ARC_ERROR_BROKEN_ARCHIVE, "damaged archive: " + Escaped(HostName(member)) +
                                                    " is cut short; archive unchanged");
    }
}

// True when the file on disk is newer than the member (LHA times of levels 0 and 1 have a
// two-second step).
bool IsNewer(const SourceEntry& entry, const lha::Member& member) {
    const std::int64_t fileSeconds = entry.info.st_mtim.tv_sec;
    const std::int64_t memberSeconds = WriteTimeNanoseconds(member) / 1000000000LL;
    return fileSeconds > memberSeconds + (member.headerLevel < 2 ? 1 : 0);
}

}  // namespace

int Pack(const Request& request, Context& context) {
    if (request.names.empty()) {
        throw Failure(ARC_ERROR_NO_FILES, "no files named");
    }
    const char command = request.command;
    if (command == 'f' && access(request.archive.c_str(), F_OK) != 0) {
        throw Failure(ARC_ERROR_NOT_ARCHIVE,
                      "the archive does not exist: " + Escaped(request.archive));
    }
    Collector collector(request);
    std::vector<SourceEntry> entries = collector.Collect();
    // The archive never packs itself (a folder that holds it, or a mask that matches it).
    struct stat self {};
    if (stat(request.archive.c_str(), &self) == 0) {
        std::erase_if(entries, [&](const SourceEntry& entry) {
            return entry.info.st_dev == self.st_dev && entry.info.st_ino == self.st_ino;
        });
    }
    // One entry per stored name: the last one given wins.
    std::map<std::string, std::size_t> byName;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        byName[entries[i].stored] = i;
    }
    std::vector<bool> done(entries.size(), false);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        done[i] = byName[entries[i].stored] != i;
    }
    return Rewrite(
        request, context, [&](ArchiveSource* source, lha::Writer& writer, std::size_t& members) {
            bool changed = false;
            if (source) {
                try {
                    while (auto member = source->Reader().Next()) {
                        RequireComplete(*source, *member);
                        ++members;
                        const auto found = byName.find(HostName(*member));
                        if (found == byName.end() || done[found->second]) {
                            writer.AddRaw(source->Reader());
                            continue;
                        }
                        const SourceEntry& entry = entries[found->second];
                        done[found->second] = true;
                        if (command == 'a' || IsNewer(entry, *member)) {
                            AddEntry(writer, entry, context);
                            changed = true;
                        } else {
                            writer.AddRaw(source->Reader());
                        }
                    }
                } catch (const lha::Error& error) {
                    if (!IsArchiveDamage(error)) {
                        throw;
                    }
                    throw Failure(
                        ARC_ERROR_BROKEN_ARCHIVE,
                        std::string("damaged archive: ") + error.what() + "; archive unchanged");
                }
            }
            if (command != 'f') {
                for (std::size_t i = 0; i < entries.size(); ++i) {
                    if (!done[i]) {
                        AddEntry(writer, entries[i], context);
                        ++members;
                        changed = true;
                    }
                }
            }
            return changed;
        });
}

int Delete(const Request& request, Context& context) {
    if (request.names.empty()) {
        throw Failure(ARC_ERROR_NO_FILES, "no members named");
    }
    if (access(request.archive.c_str(), F_OK) != 0) {
        throw Failure(ARC_ERROR_NOT_ARCHIVE,
                      "the archive does not exist: " + Escaped(request.archive));
    }
    bool removedAny = false;
    const int code = Rewrite(
        request, context, [&](ArchiveSource* source, lha::Writer& writer, std::size_t& members) {
            try {
                while (auto member = source->Reader().Next()) {
                    RequireComplete(*source, *member);
                    const std::string name = HostName(*member);
                    if (MatchesAny(name, request.names)) {
                        removedAny = true;
                        context.output.Line("deleted " + Escaped(name));
                        continue;
                    }
                    writer.AddRaw(source->Reader());
                    ++members;
                }
            } catch (const lha::Error& error) {
                if (!IsArchiveDamage(error)) {
                    throw;
                }
                throw Failure(ARC_ERROR_BROKEN_ARCHIVE, std::string("damaged archive: ") +
                                                            error.what() + "; archive unchanged");
            }
            return removedAny;
        });
    if (!removedAny) {
        throw Failure(ARC_ERROR_NO_FILES, "no member matches the names given; archive unchanged");
    }
    return code;
}

}  // namespace zembrat::unlha32
