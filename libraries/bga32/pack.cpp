// a, d and s. Each writes its target through common::ArchiveOutput (a new file beside it, put
// in place only when complete), so that a failure or a stop leaves the old archive as it was;
// every file added is read through common::SourceFile.
#include <dlfcn.h>
#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "archiver_api.h"
#include "bga/writer.h"
#include "bga32/bga32.h"
#include "bga32/member_info.h"
#include "common/archive_output.h"
#include "common/name_encoding.h"
#include "common/safe_path.h"
#include "common/sfx_trailer.h"
#include "common/source_file.h"
#include "common/source_walk.h"
#include "dos_time.h"
#include "platform/path.h"
#include "platform/system_folders.h"

namespace zembrat::bga32 {

namespace {

constexpr const char* kStubName = "zembrat-bga-sfx";

bool IsWildcard(std::string_view name) {
    return name.find_first_of("*?[") != std::string_view::npos;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// The bytes stored for a host name: CP932 where every character converts, '\\' between
// folders.
std::string StoredBytes(const std::string& hostName) {
    std::string bytes = common::EncodeStoredName(hostName).bytes;
    // '/' is never a CP932 trail byte, so every one is a delimiter.
    std::replace(bytes.begin(), bytes.end(), '/', '\\');
    return bytes;
}

// The folder a new file goes in beside path.
std::string FolderBeside(const std::string& path) {
    const std::string folder = platform::ExtractFilePath(path);
    return folder.empty() ? std::string("./") : folder;
}

// The names to add, as files and folders on disk with the names to store.
std::vector<common::SourceEntry> CollectSources(const Request& request) {
    common::SourceWalk walk({request.hidden, request.recursive, {}});
    common::SourceWalk flat({request.hidden, false, {}});
    const std::string base = request.folder.empty() ? std::string() : request.folder;
    const auto addOne = [&](const std::string& given) {
        const std::string path = given.starts_with('/') ? given : base + given;
        struct stat info {};
        if (stat(path.c_str(), &info) != 0) {
            throw Failure(ARC_ERROR_CANNOT_READ, "cannot find " +
                                                     common::EscapeControlCharacters(path) + ": " +
                                                     std::strerror(errno));
        }
        const std::string stored =
            request.nameOnly ? platform::ExtractFileName(platform::ExcludeTrailingDelimiter(given))
                             : common::CleanRelative(given);
        if (request.recursive || !S_ISDIR(info.st_mode)) {
            walk.Add(path, stored, info, true);
            return;
        }
        // Without -r a folder brings the files directly in it.
        flat.Add(path, stored, info, true);
        const std::string folder = platform::IncludeTrailingDelimiter(path);
        for (const std::string& name : flat.FolderNames(folder)) {
            struct stat child {};
            if (lstat((folder + name).c_str(), &child) == 0 && !S_ISDIR(child.st_mode)) {
                flat.Add(folder + name, stored.empty() ? name : stored + "/" + name, child);
            }
        }
    };
    for (const std::string& name : request.names) {
        // A file whose own name holds *, ? or [ is that file, not a pattern.
        struct stat literal {};
        if (!IsWildcard(name) ||
            lstat((name.starts_with('/') ? name : base + name).c_str(), &literal) == 0) {
            addOne(name);
            continue;
        }
        glob_t found{};
        const std::string pattern = name.starts_with('/') ? name : base + name;
        if (glob(pattern.c_str(), 0, nullptr, &found) == 0) {
            for (std::size_t i = 0; i < found.gl_pathc; ++i) {
                const std::string match = found.gl_pathv[i];
                addOne(name.starts_with('/') ? match : match.substr(base.size()));
            }
        }
        globfree(&found);
    }
    std::vector<common::SourceEntry> entries = walk.Take();
    for (common::SourceEntry& entry : flat.Take()) {
        entries.push_back(std::move(entry));
    }
    return entries;
}

bga::MemberHeader HeaderFor(const common::SourceEntry& entry, const std::string& stored) {
    bga::MemberHeader header;
    header.name = StoredBytes(stored);
    const std::uint32_t dos = lha::UnixToDosTime(entry.info.st_mtim.tv_sec);
    header.dosDate = static_cast<std::uint16_t>(dos >> 16);
    header.dosTime = static_cast<std::uint16_t>(dos & 0xFFFF);
    header.attributes = (entry.info.st_mode & S_IWUSR) ? 0x20 : 0x21;
    // The size the progress reports give before the writer knows it (it refuses more).
    header.originalSize = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(entry.info.st_size), 0xFFFFFFFFu));
    return header;
}

// A name the format cannot carry: '\\' separates its folders, so a Linux name holding one
// would come back as folders.
void RefuseUnstorable(const std::string& stored, const std::string& path) {
    if (stored.find('\\') != std::string::npos) {
        throw Failure(ARC_ERROR_CANNOT_READ,
                      common::EscapeControlCharacters(path) +
                          ": a name holding '\\' cannot be stored in a GZA/BZA archive (there it "
                          "separates folders); rename it first");
    }
}

std::string FindSfxStub() {
    // Beside this library first: a program that loaded it from a build or install folder
    // finds the stub of the same build there.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&FindSfxStub), &info) != 0 && info.dli_fname) {
        const std::string beside = platform::ExtractFilePath(info.dli_fname) + kStubName;
        if (access(beside.c_str(), X_OK) == 0) {
            return beside;
        }
    }
    if (auto found = platform::SearchPath(kStubName); found && access(found->c_str(), X_OK) == 0) {
        return *found;
    }
    return {};
}

}  // namespace

int Pack(const Request& request, Context& context) {
    if (request.names.empty()) {
        throw Failure(ARC_ERROR_BAD_COMMAND, "no file named to add");
    }
    std::vector<common::SourceEntry> sources = CollectSources(request);
    std::set<std::string> storedNames;
    std::vector<std::pair<common::SourceEntry, std::string>> adding;
    for (common::SourceEntry& entry : sources) {
        std::string stored = entry.stored;
        if (S_ISDIR(entry.info.st_mode)) {
            stored += '/';
        }
        if (stored.empty() || stored == "/" || !storedNames.insert(stored).second) {
            continue;
        }
        adding.emplace_back(std::move(entry), std::move(stored));
    }
    if (adding.empty()) {
        throw Failure(ARC_ERROR_NO_FILES, "nothing to add");
    }
    for (const auto& [entry, stored] : adding) {
        RefuseUnstorable(stored, entry.path);
    }
    const std::string extension = platform::ExtractFileExt(request.archive);
    const bool bzip2 = extension.size() == 4 && std::tolower(extension[1]) == 'b' &&
                       std::tolower(extension[2]) == 'z' && std::tolower(extension[3]) == 'a';
    bga::MemberWriter writer(bzip2 ? bga::Codec::kBzip2 : bga::Codec::kGzip, request.level);
    common::ArchiveOutput output(request.archive);
    if (FileExists(request.archive)) {
        // Members of the old archive stay, but for those the new files replace.
        bga::ArchiveReader old(request.archive);
        while (auto member = old.Next()) {
            if (!storedNames.contains(HostName(member->header))) {
                bga::CopyMember(old.Fd(), *member, output.Fd());
            }
        }
    }
    for (const auto& [entry, stored] : adding) {
        bga::MemberHeader header = HeaderFor(entry, stored);
        if (S_ISDIR(entry.info.st_mode)) {
            writer.AddFolder(output.Fd(), header);
            context.output.Line("added " + common::EscapeControlCharacters(stored));
            continue;
        }
        struct stat info = entry.info;
        if (S_ISLNK(info.st_mode) &&
            (stat(entry.path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))) {
            context.output.Line("skipped " + common::EscapeControlCharacters(stored) +
                                " (a link to no regular file)");
            continue;
        }
        const common::SourceFile source(entry.path, S_ISLNK(entry.info.st_mode));
        header.originalSize =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(source.Size(), 0xFFFFFFFFu));
        ProgressMeter meter(context.progress, header, entry.path, stored);
        const bga::MemberHeader written = writer.AddFile(
            output.Fd(), header, source, [&](std::uint64_t done) { meter.Reach(done); });
        source.RequireUnchanged();
        meter.Finish();
        context.output.Line("added " + common::EscapeControlCharacters(stored) + " (" +
                            MethodText(written) + ")");
    }
    output.Commit(common::ArchiveOutput::ModeFor(request.archive));
    return ARC_OK;
}

int Delete(const Request& request, Context& context) {
    if (request.names.empty()) {
        throw Failure(ARC_ERROR_BAD_COMMAND, "no member named to delete");
    }
    bga::ArchiveReader old(request.archive);
    common::ArchiveOutput output(request.archive);
    std::size_t removed = 0;
    while (auto member = old.Next()) {
        const std::string name = HostName(member->header);
        if (Selected(name, request.names)) {
            ++removed;
            context.output.Line("deleted " + common::EscapeControlCharacters(name));
        } else {
            bga::CopyMember(old.Fd(), *member, output.Fd());
        }
    }
    if (removed == 0) {
        throw Failure(ARC_ERROR_NO_FILES, "no member matches the names given");
    }
    output.Commit(common::ArchiveOutput::ModeFor(request.archive));
    return ARC_OK;
}

int MakeSelfExtracting(const Request& request, Context& context) {
    bga::ArchiveReader archive(request.archive);
    // Every header must be sound before a program is made of it.
    while (archive.Next()) {
    }
    const std::string stub = FindSfxStub();
    if (stub.empty()) {
        throw Failure(ARC_ERROR_CANNOT_READ,
                      std::string("cannot find the self-extracting stub ") + kStubName);
    }
    std::string folder = request.folder.empty() ? FolderBeside(request.archive) : request.folder;
    folder = platform::IncludeTrailingDelimiter(folder);
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);  // a failure shows below
    const std::string extension = platform::ExtractFileExt(request.archive);
    const bool upper =
        extension.size() > 1 && std::none_of(extension.begin(), extension.end(), [](char c) {
            return std::islower(static_cast<unsigned char>(c));
        });
    const std::string target =
        folder + platform::ChangeFileExt(platform::ExtractFileName(request.archive),
                                         upper ? ".EXE" : ".exe");
    const bga::UniqueFd stubFd(open(stub.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat stubInfo {};
    if (!stubFd.Valid() || fstat(stubFd.Get(), &stubInfo) != 0) {
        throw Failure(ARC_ERROR_CANNOT_READ,
                      "cannot read the stub: " + std::string(std::strerror(errno)));
    }
    common::ArchiveOutput output(target);
    const auto stubSize = static_cast<std::uint64_t>(stubInfo.st_size);
    output.AppendRange(stubFd.Get(), 0, stubSize);
    output.AppendRange(archive.Fd(), archive.Start(), archive.End());
    const auto trailer = common::MakeSfxTrailer(stubSize);
    output.Write(std::as_bytes(std::span(trailer)));
    // A program is run: the execute bits, also over a file that lacked them.
    output.Commit(common::ArchiveOutput::ModeFor(target, true) | (0111 & ~common::ProcessUmask()));
    context.output.Line("made " + common::EscapeControlCharacters(target));
    return ARC_OK;
}

}  // namespace zembrat::bga32
