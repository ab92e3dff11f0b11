// The zip side: adding, updating (-u), freshening (-f), deleting (-d), salvaging (-FF) and
// stripping the self-extracting program (-J), and adjusting a self-extracting file (-A).
// A new archive is always written under a temporary name beside the old one and renamed over
// it only when complete, so a failure leaves the old archive as it was. Unchanged members are
// copied as they are, without recompressing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fnmatch.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "archiver_api.h"
#include "common/archive_output.h"
#include "common/safe_path.h"
#include "common/source_file.h"
#include "common/source_walk.h"
#include "common/unique_fd.h"
#include "platform/code_page.h"
#include "platform/path.h"
#include "platform/system_folders.h"
#include "zip32/operations.h"

namespace zembrat::zip32 {

namespace {

std::string Escaped(std::string_view name) {
    return common::EscapeControlCharacters(name);
}

using common::CleanRelative;
using common::SourceEntry;

// At most count whole characters of the host code page: a multi-byte one is never split.
std::string FirstCharacters(const std::string& text, std::size_t count) {
    const platform::CodePage codePage = platform::SystemCodePage();
    std::size_t end = 0;
    for (std::size_t taken = 0; taken < count && end < text.size(); ++taken) {
        end += std::max<std::size_t>(1, platform::CharacterLength(text, end, codePage));
    }
    return text.substr(0, std::min(end, text.size()));
}

// An MS-DOS style name: upper case, 8.3 parts, no characters DOS refuses.
std::string DosName(std::string_view name) {
    std::string out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name[i] != '/') {
            continue;
        }
        std::string part(name.substr(start, i - start));
        for (char& c : part) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            } else if (std::string_view(" +,;=[]").find(c) != std::string_view::npos) {
                c = '_';
            }
        }
        const std::size_t dot = part.find_last_of('.');
        std::string base = dot == std::string::npos || dot == 0 ? part : part.substr(0, dot);
        std::string extension =
            dot == std::string::npos || dot == 0 ? std::string() : part.substr(dot + 1);
        std::erase(base, '.');
        base = FirstCharacters(base, 8);
        extension = FirstCharacters(extension, 3);
        if (!out.empty()) {
            out += '/';
        }
        out += extension.empty() ? base : base + "." + extension;
        start = i + 1;
    }
    return out;
}

class Collector {
  public:
    explicit Collector(const Request& request)
        : request_(request),
          walk_({.includeHidden = request.options.includeHidden,
                 .intoFolders = request.options.recurse,
                 .excluded = {}}) {
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
    // Relative names are kept; absolute names inside the base folder become relative to it,
    // other absolute names keep their last part only.
    std::string StoredNameFor(const std::string& given, const std::string& path) const {
        if (!given.empty() && given.front() != '/') {
            return CleanRelative(given);
        }
        const std::string full = platform::ExpandFileName(path);
        if (!base_.empty() && full.starts_with(base_)) {
            return CleanRelative(full.substr(base_.size()));
        }
        return platform::ExtractFileName(platform::ExcludeTrailingDelimiter(full));
    }

    std::string Located(const std::string& given) const {
        return given.front() == '/' || base_.empty() ? given : base_ + given;
    }

    void CollectName(const std::string& pattern) {
        // A file that exists under the name as written is that one file, even with '*', '?'
        // or brackets in its name; then the name with its bracketed characters taken as
        // themselves ("[*]" for a '*' that the sender escaped).
        struct stat info {};
        for (const std::string& exact : {pattern, *LiteralOf(pattern, true)}) {
            if (lstat(Located(exact).c_str(), &info) == 0) {
                walk_.Add(Located(exact), StoredNameFor(exact, Located(exact)), info);
                return;
            }
        }
        if (const auto literal = LiteralOf(pattern)) {
            const std::string path = Located(*literal);
            if (lstat(path.c_str(), &info) != 0) {
                throw Failure(ARC_ERROR_CANNOT_READ,
                              "cannot find " + Escaped(path) + ": " + std::strerror(errno));
            }
            walk_.Add(path, StoredNameFor(*literal, path), info);
            return;
        }
        // A wildcard in the last part: every matching name in that folder.
        const std::string path = Located(pattern);
        const std::string mask = platform::ExtractFileName(path);
        const std::string folder = platform::ExtractFilePath(path);
        const std::string storedFolder =
            platform::ExtractFilePath(StoredNameFor(pattern, folder + "x"));
        const std::size_t before = walk_.Count();
        for (const std::string& name :
             walk_.FolderNames(folder.empty() ? std::string("./") : folder)) {
            const std::string found = (folder.empty() ? std::string() : folder) + name;
            if (fnmatch(mask.c_str(), name.c_str(), FNM_NOESCAPE | FNM_PERIOD) == 0 &&
                lstat(found.c_str(), &info) == 0) {
                walk_.Add(found, storedFolder + name, info);
            }
        }
        if (walk_.Count() == before) {
            throw Failure(ARC_ERROR_NO_FILES, "nothing matches " + Escaped(path));
        }
    }

    const Request& request_;
    common::SourceWalk walk_;  // hidden names only with -S, into folders only with -r
    std::string base_;
};

// The stored names as the switches want them; folders go with -D and -j, later duplicates
// of a name win.
std::vector<SourceEntry> Sources(const Request& request) {
    std::vector<SourceEntry> entries = Collector(request).Collect();
    const Options& options = request.options;
    std::erase_if(entries, [&](const SourceEntry& entry) {
        return S_ISDIR(entry.info.st_mode) && (options.noDirectories || options.junkPaths);
    });
    for (SourceEntry& entry : entries) {
        if (options.junkPaths) {
            entry.stored = platform::ExtractFileName(entry.stored);
        }
        if (options.dosNames) {
            entry.stored = DosName(entry.stored);
        }
    }
    // The archive never packs itself (a folder that holds it, or a mask that matches it).
    struct stat self {};
    if (stat(request.archive.c_str(), &self) == 0) {
        std::erase_if(entries, [&](const SourceEntry& entry) {
            return entry.info.st_dev == self.st_dev && entry.info.st_ino == self.st_ino;
        });
    }
    std::map<std::string, std::size_t> last;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        last[entries[i].stored] = i;
    }
    std::vector<SourceEntry> unique;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (last[entries[i].stored] == i) {
            unique.push_back(std::move(entries[i]));
        }
    }
    return unique;
}

// A file being packed, through the shared source reader.
class SourceInput final : public zip::Input {
  public:
    explicit SourceInput(common::SourceFile& file) : file_(file) {}
    std::size_t Read(std::span<std::byte> buffer) override { return file_.Read(buffer); }
    bool Rewind() override {
        file_.Rewind();
        return true;
    }

  private:
    common::SourceFile& file_;
};

zip::EntryInfo InfoFor(const SourceEntry& entry) {
    return {entry.stored, entry.info.st_mtim.tv_sec, entry.info.st_mode & 07777};
}

// Adds one file, folder or link; returns a description for -v.
std::string AddEntry(zip::Writer& writer, const SourceEntry& entry, Context& context) {
    if (S_ISDIR(entry.info.st_mode)) {
        writer.AddDirectory(InfoFor(entry));
        return "(folder)";
    }
    if (S_ISLNK(entry.info.st_mode)) {
        writer.AddSymlink(InfoFor(entry), entry.linkTarget);
        return "(link)";
    }
    common::SourceFile file(entry.path, entry.throughLink);
    SourceInput input(file);
    const std::uint64_t size = file.Size();
    ProgressMeter meter(context.progress, entry.path, entry.stored, size,
                        file.Info().st_mtim.tv_sec);
    zip::WrittenMember written;
    try {
        written = writer.AddFile(InfoFor(entry), input, size, meter.Callback());
    } catch (const zip::Error& error) {
        if (error.Kind() == zip::ErrorKind::kAborted) {
            throw;
        }
        throw Failure(error.Kind() == zip::ErrorKind::kTooLarge ? ARC_ERROR_TOO_LARGE
                      : error.Kind() == zip::ErrorKind::kIo     ? ARC_ERROR_CANNOT_WRITE
                                                                : ARC_ERROR_CANNOT_READ,
                      Escaped(entry.path) + ": " + error.what());
    }
    file.RequireUnchanged();
    meter.Finish();
    if (!written.deflated || written.size == 0) {
        return "(stored 0%)";
    }
    return "(deflated " + std::to_string(100 - written.compressedSize * 100 / written.size) + "%)";
}

// The members of the archive a rewrite starts from, and where it came from.
// A split set is read (listed, extracted), never changed: its parts would not follow.
void RefuseSplitSet(const zip::ExistingArchive& archive) {
    if (archive.Parts() > 1) {
        throw Failure(ARC_ERROR_CANNOT_WRITE,
                      "a split set of " + std::to_string(archive.Parts()) +
                          " parts is read, never changed; archive unchanged");
    }
}

struct Source {
    std::unique_ptr<zip::ExistingArchive> archive;
    std::unique_ptr<common::TemporaryFile> salvaged;  // -FF: the rebuilt copy it reads
};

// -FF: every member the decoder can still read from the local headers into a new archive;
// members it cannot read are dropped and named, and reading stops where the data ends.
std::unique_ptr<common::TemporaryFile> Salvage(const Request& request, Context& context,
                                               Outcome& outcome) {
    const std::string folder = platform::ExtractFilePath(request.archive);
    auto rebuilt = std::make_unique<common::TemporaryFile>(folder.empty() ? "./" : folder);
    if (!rebuilt->Valid()) {
        throw Failure(ARC_ERROR_CANNOT_WRITE,
                      std::string("cannot create a file: ") + std::strerror(errno));
    }
    const auto members = LocalHeadersOnly(request.archive);
    zip::Writer writer(rebuilt->Fd(), {.level = request.options.level});
    zip::Reader reader(ProcPath(members->Fd()));
    std::size_t kept = 0;
    for (;;) {
        std::optional<zip::Member> member;
        try {
            member = reader.Next();
        } catch (const zip::Error& error) {
            // Usually the damaged directory after the last member; named, not counted.
            context.output.Line(std::string("salvage ends at: ") + error.what());
            break;
        }
        if (!member) {
            break;
        }
        const zip::EntryInfo info{member->name, member->mtime.value_or(0), member->mode & 07777};
        try {
            if (member->kind == zip::MemberKind::kDirectory) {
                writer.AddDirectory(info);
            } else if (member->kind == zip::MemberKind::kSymlink) {
                writer.AddSymlink(info, member->linkTarget);
            } else {
                // Spooled to an unnamed file: the writer reads its input, the reader pushes.
                common::TemporaryFile spool(platform::GetTempPath());
                if (!spool.Valid()) {
                    throw Failure(ARC_ERROR_CANNOT_WRITE, "cannot create a temporary file");
                }
                struct Sink final : zip::DataSink {
                    int fd = -1;
                    std::uint64_t size = 0;
                    void Write(std::span<const std::byte> data) override {
                        if (::write(fd, data.data(), data.size()) !=
                            static_cast<ssize_t>(data.size())) {
                            throw Failure(ARC_ERROR_CANNOT_WRITE, "cannot write a temporary file");
                        }
                        size += data.size();
                    }
                } sink;
                sink.fd = spool.Fd();
                reader.Extract(sink);
                zip::FileInput input(ProcPath(spool.Fd()));
                writer.AddFile(info, input, sink.size);
            }
            ++kept;
        } catch (const zip::Error& error) {
            if (error.Kind() != zip::ErrorKind::kMember) {
                throw;
            }
            outcome.Note(ARC_WARNING_SKIPPED);
            context.output.Line(Escaped(member->name) + ": dropped (" + error.what() + ")");
        }
    }
    if (kept == 0) {
        throw Failure(ARC_ERROR_BROKEN_ARCHIVE, "no member left to salvage; archive unchanged");
    }
    writer.Finish();
    if (!request.options.quiet) {
        context.output.Line("salvaged " + std::to_string(kept) + " members");
    }
    return rebuilt;
}

// Writes the new archive under a temporary name; `fill` adds the members, reports whether
// anything changed and the newest member time. Nothing changed: the old file stays untouched.
template <typename Fill>
int Rewrite(const Request& request, Context& context, Outcome& outcome, Fill fill) {
    struct stat old {};
    const bool exists = lstat(request.archive.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        throw Failure(ARC_ERROR_NOT_REGULAR,
                      "the archive is not a regular file: " + Escaped(request.archive));
    }
    Source source;
    if (exists && request.options.salvage) {
        source.salvaged = Salvage(request, context, outcome);
        source.archive = std::make_unique<zip::ExistingArchive>(ProcPath(source.salvaged->Fd()));
    } else if (exists) {
        try {
            source.archive = std::make_unique<zip::ExistingArchive>(request.archive);
        } catch (const zip::Error& error) {
            throw Failure(ARC_ERROR_BROKEN_ARCHIVE,
                          std::string(error.what()) + "; archive unchanged (-FF salvages it)");
        }
        RefuseSplitSet(*source.archive);
    }
    common::ArchiveOutput output(request.archive);
    // A self-extracting program in front stays in front (unless -J): the new offsets count
    // from the start of the file, so every reader opens the result.
    if (source.archive && !source.salvaged && !request.options.stripPrefix &&
        source.archive->ArchiveStart() > 0) {
        const common::UniqueFd in(open(request.archive.c_str(), O_RDONLY | O_CLOEXEC));
        if (!in.Valid()) {
            throw Failure(ARC_ERROR_CANNOT_READ, "cannot copy the self-extracting program: " +
                                                     std::string(std::strerror(errno)));
        }
        output.AppendRange(in.Get(), 0, source.archive->ArchiveStart());
    }
    std::size_t members = 0;
    std::int64_t newest = 0;
    try {
        zip::Writer writer(output.Fd(), {.level = request.options.level});
        const bool changed = fill(source.archive.get(), writer, members, newest);
        if (!changed && exists && !request.options.salvage && !request.options.stripPrefix) {
            context.output.Line("nothing to change");
            return outcome.Code();
        }
        writer.Finish();
    } catch (const zip::Error& error) {
        if (error.Kind() == zip::ErrorKind::kAborted) {
            throw Failure(ARC_ERROR_ABORTED,
                          "stopped at the owner window's request; archive unchanged");
        }
        throw Failure(
            error.Kind() == zip::ErrorKind::kIo ? ARC_ERROR_CANNOT_WRITE : ResultFor(error),
            std::string(error.what()) + "; archive unchanged");
    }
    if (members == 0 && request.command == Command::kDelete) {
        if (unlink(request.archive.c_str()) != 0) {
            throw Failure(ARC_ERROR_CANNOT_WRITE, "cannot remove the emptied archive");
        }
        context.output.Line("no members left; archive removed");
        return outcome.Code();
    }
    mode_t mode = common::ArchiveOutput::ModeFor(request.archive);
    if (request.command == Command::kAdjust) {
        mode |= 0111 & ~common::ProcessUmask();  // a self-extracting file is run
    }
    if (request.options.newestTime && members > 0) {
        const timespec times[2] = {{newest, 0}, {newest, 0}};
        futimens(output.Fd(), times);
    }
    output.Commit(mode);
    return outcome.Code();
}

int Delete(const Request& request, Context& context) {
    if (access(request.archive.c_str(), F_OK) != 0) {
        throw Failure(ARC_ERROR_NOT_ARCHIVE,
                      "the archive does not exist: " + Escaped(request.archive));
    }
    Outcome outcome;
    return Rewrite(request, context, outcome,
                   [&](zip::ExistingArchive* source, zip::Writer& writer, std::size_t& members,
                       std::int64_t& newest) {
                       std::size_t removed = 0;
                       for (std::size_t i = 0; i < source->Members().size(); ++i) {
                           const zip::ExistingMember& member = source->Members()[i];
                           if (Selected(member.name, request.names)) {
                               ++removed;
                               if (!request.options.quiet) {
                                   context.output.Line("deleted " + Escaped(member.name));
                               }
                               continue;
                           }
                           writer.CopyMember(*source, i);
                           newest = std::max(newest, member.mtime);
                           ++members;
                       }
                       if (removed == 0) {
                           throw Failure(ARC_ERROR_NO_FILES, "no member matches the names given");
                       }
                       return true;
                   });
}

}  // namespace

int Pack(const Request& request, Context& context) {
    if (request.command == Command::kDelete) {
        return Delete(request, context);
    }
    const Command command = request.command;
    if ((command == Command::kFreshen || command == Command::kStrip) &&
        access(request.archive.c_str(), F_OK) != 0) {
        throw Failure(ARC_ERROR_NOT_ARCHIVE,
                      "the archive does not exist: " + Escaped(request.archive));
    }
    std::vector<SourceEntry> entries = Sources(request);
    std::map<std::string, std::size_t> byName;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        byName[entries[i].stored] = i;
    }
    Outcome outcome;
    const Options& options = request.options;
    return Rewrite(request, context, outcome,
                   [&](zip::ExistingArchive* source, zip::Writer& writer, std::size_t& members,
                       std::int64_t& newest) {
                       bool changed = false;
                       std::vector<bool> done(entries.size(), false);
                       auto add = [&](const SourceEntry& entry, const char* verb) {
                           const std::string how = AddEntry(writer, entry, context);
                           if (!options.quiet) {
                               context.output.Line(std::string(verb) + " " + Escaped(entry.stored) +
                                                   (S_ISDIR(entry.info.st_mode) ? "/" : "") +
                                                   (options.verbose ? " " + how : ""));
                           }
                           newest = std::max<std::int64_t>(newest, entry.info.st_mtim.tv_sec);
                           ++members;
                           changed = true;
                       };
                       if (source) {
                           for (std::size_t i = 0; i < source->Members().size(); ++i) {
                               const zip::ExistingMember& member = source->Members()[i];
                               const auto found = byName.find(member.name);
                               if (found != byName.end() && !done[found->second]) {
                                   const SourceEntry& entry = entries[found->second];
                                   done[found->second] = true;
                                   // -u and -f replace a member only with a newer file (MS-DOS
                                   // times have a two-second step).
                                   const bool newer = entry.info.st_mtim.tv_sec > member.mtime + 1;
                                   if (command == Command::kAdd || newer) {
                                       add(entry, "updated");
                                       continue;
                                   }
                               }
                               writer.CopyMember(*source, i);
                               newest = std::max(newest, member.mtime);
                               ++members;
                               if (options.verbose && !options.quiet) {
                                   context.output.Line("kept " + Escaped(member.name));
                               }
                           }
                       }
                       if (command != Command::kFreshen) {
                           for (std::size_t i = 0; i < entries.size(); ++i) {
                               if (!done[i]) {
                                   add(entries[i], "added");
                               }
                           }
                       }
                       return changed;
                   });
}

int Adjust(const Request& request, Context& context) {
    // Nothing is added and the prefix stays (no -J): the members are copied behind it.
    const Request& rewrite = request;
    if (access(request.archive.c_str(), F_OK) != 0) {
        throw Failure(ARC_ERROR_NOT_ARCHIVE,
                      "the file does not exist: " + Escaped(request.archive));
    }
    std::unique_ptr<zip::ExistingArchive> probe;
    try {
        probe = std::make_unique<zip::ExistingArchive>(request.archive);
    } catch (const zip::Error& error) {
        throw Failure(
            error.Kind() == zip::ErrorKind::kIo ? ARC_ERROR_CANNOT_READ : ARC_ERROR_NOT_ARCHIVE,
            error.what());
    }
    RefuseSplitSet(*probe);
    const std::uint64_t prefix = probe->ArchiveStart();
    probe.reset();
    Outcome outcome;
    const int code = Rewrite(rewrite, context, outcome,
                             [&](zip::ExistingArchive* source, zip::Writer& writer,
                                 std::size_t& members, std::int64_t& newest) {
                                 for (std::size_t i = 0; i < source->Members().size(); ++i) {
                                     writer.CopyMember(*source, i);
                                     newest = std::max(newest, source->Members()[i].mtime);
                                     ++members;
                                 }
                                 return true;
                             });
    if (code == ARC_OK) {
        context.output.Line("adjusted " + Escaped(request.archive) + " (" + std::to_string(prefix) +
                            " bytes before the archive)");
    }
    return code;
}

}  // namespace zembrat::zip32
