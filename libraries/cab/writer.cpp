// Writing cabinets with libgcab, and the self-extracting file (stub + cabinet).
#include <fcntl.h>
#include <gio/gio.h>
#include <libgcab.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "archiver_api.h"
#include "cab/cab.h"
#include "common/failure.h"
#include "common/name_encoding.h"
#include "common/safe_path.h"
#include "common/source_walk.h"

namespace zembrat::cab {

namespace {

// GLib objects, released with their reference.
struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GPointer = std::unique_ptr<T, ObjectUnref>;

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};

std::string Take(GError* error) {
    const std::unique_ptr<GError, ErrorFree> owned(error);
    return owned ? owned->message : "unknown error";
}

// The most members a cabinet can count (a 16-bit field).
constexpr std::size_t kMaxMembers = 0xFFFF;

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// A host name as a cabinet stores it: '\' between folders, plain ASCII as it is, anything
// else in UTF-8 with the UTF attribute.
std::pair<std::string, std::uint32_t> StoredName(const std::string& hostName) {
    const common::StoredName stored = common::EncodeStoredName(hostName);
    std::string bytes = stored.utf8.empty() ? stored.bytes : stored.utf8;
    std::replace(bytes.begin(), bytes.end(), '/', '\\');
    return {bytes, stored.utf8.empty() ? 0u : kAttributeUtf8Name};
}

// The name a command-line name is stored under: relative names as given (cleaned), absolute
// ones under their last part.
std::string StoredFor(const std::string& name) {
    if (!name.empty() && name.front() == '/') {
        const std::string cleaned = common::CleanRelative(name);
        const std::size_t slash = cleaned.find_last_of('/');
        return slash == std::string::npos ? cleaned : cleaned.substr(slash + 1);
    }
    return common::CleanRelative(name);
}

struct WriteState {
    const CreateOptions* options;
    GCancellable* cancellable;
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    bool stopped = false;
};

gboolean OnFile(GCabFile* file, gpointer data) {
    auto* state = static_cast<WriteState*>(data);
    state->done += gcab_file_get_size(file);
    if (state->options->progress && !state->options->progress(state->done, state->total)) {
        state->stopped = true;
        g_cancellable_cancel(state->cancellable);
    }
    return TRUE;
}

}  // namespace

void Create(const std::string& archivePath, const std::vector<std::string>& names,
            const CreateOptions& options, CreateEvents& events) {
    const std::string base =
        options.baseFolder.empty()
            ? std::string()
            : (options.baseFolder.back() == '/' ? options.baseFolder : options.baseFolder + "/");
    common::SourceWalk walk({true, options.intoFolders, {}});
    for (const std::string& name : names) {
        const std::string path = !name.empty() && name.front() == '/' ? name : base + name;
        struct stat info {};
        // A symbolic link named or met stands for what it points to: cabinets hold no links.
        if (::stat(path.c_str(), &info) != 0) {
            events.Failed(name, std::string("cannot read: ") + std::strerror(errno));
            continue;
        }
        try {
            walk.Add(path, StoredFor(name), info, true);
        } catch (const common::Failure& failure) {
            events.Failed(name, failure.what());
        }
    }
    GPointer<GCabFolder> folder(gcab_folder_new(options.compression == Compression::kMszip
                                                    ? GCAB_COMPRESSION_MSZIP
                                                    : GCAB_COMPRESSION_NONE));
    std::uint64_t total = 0;
    std::vector<std::string> added;
    for (const common::SourceEntry& entry : walk.Take()) {
        struct stat info = entry.info;
        if (S_ISLNK(info.st_mode) && ::stat(entry.path.c_str(), &info) != 0) {
            events.Failed(entry.stored, "a symbolic link that leads nowhere: not stored");
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            continue;  // cabinets hold no folders, only the names of the files in them
        }
        if (!S_ISREG(info.st_mode)) {
            events.Failed(entry.stored, "not a regular file: not stored");
            continue;
        }
        std::string hostName = entry.stored;
        if (!options.keepFolders) {
            const std::size_t slash = hostName.find_last_of('/');
            hostName = slash == std::string::npos ? hostName : hostName.substr(slash + 1);
        }
        const auto [stored, nameAttribute] = StoredName(hostName);
        GPointer<GFile> source(g_file_new_for_path(entry.path.c_str()));
        GPointer<GCabFile> member(gcab_file_new_with_file(stored.c_str(), source.get()));
        GError* error = nullptr;
        if (!gcab_folder_add_file(folder.get(), member.get(), FALSE, nullptr, &error)) {
            events.Failed(entry.stored, Take(error));
            continue;
        }
        std::uint32_t attributes = kAttributeArchive | nameAttribute;
        if ((info.st_mode & 0111) != 0) {
            attributes |= kAttributeExecute;
        }
        if ((info.st_mode & 0222) == 0) {
            attributes |= kAttributeReadOnly;
        }
        gcab_file_set_attributes(member.get(), attributes);
        total += static_cast<std::uint64_t>(info.st_size);
        added.push_back(hostName);
    }
    if (added.empty()) {
        throw common::Failure(ARC_ERROR_NO_FILES,
                              options.intoFolders
                                  ? "no files to pack"
                                  : "no files to pack (a folder brings its files only with -r)");
    }
    if (added.size() > kMaxMembers) {
        throw common::Failure(
            ARC_ERROR_TOO_LARGE,
            "a cabinet holds at most 65535 files; " + std::to_string(added.size()) + " were named");
    }
    if (total > kMaxCabinetContent) {
        throw common::Failure(ARC_ERROR_TOO_LARGE, "the files come to " + std::to_string(total) +
                                                       " bytes; a cabinet holds at most 2 GiB (" +
                                                       std::to_string(kMaxCabinetContent) +
                                                       " bytes): not written");
    }
    GPointer<GCabCabinet> cabinet(gcab_cabinet_new());
    GError* error = nullptr;
    if (!gcab_cabinet_add_folder(cabinet.get(), folder.get(), &error)) {
        throw Error(ErrorKind::kArchive, Take(error));
    }
    common::TemporaryFile temporary(FolderOf(archivePath));
    if (!temporary.Valid()) {
        throw Error(ErrorKind::kArchive,
                    "cannot create " + archivePath + ": " + std::strerror(errno));
    }
    GPointer<GCancellable> cancellable(g_cancellable_new());
    WriteState state{&options, cancellable.get(), 0, total, false};
    {
        // libgcab seeks back to write the headers: the temporary file opened again, read-write,
        // through its descriptor (it may have no name yet).
        GPointer<GFile> file(
            g_file_new_for_path(("/proc/self/fd/" + std::to_string(temporary.Fd())).c_str()));
        GPointer<GFileIOStream> stream(g_file_open_readwrite(file.get(), nullptr, &error));
        if (!stream) {
            throw Error(ErrorKind::kArchive, "cannot write " + archivePath + ": " + Take(error));
        }
        if (!gcab_cabinet_write_simple(cabinet.get(),
                                       g_io_stream_get_output_stream(G_IO_STREAM(stream.get())),
                                       OnFile, &state, cancellable.get(), &error) ||
            !g_io_stream_close(G_IO_STREAM(stream.get()), nullptr, &error)) {
            if (state.stopped) {
                g_clear_error(&error);
                throw Error(ErrorKind::kAborted, "stopped at the owner window's request");
            }
            throw Error(ErrorKind::kArchive, "cannot write " + archivePath + ": " + Take(error));
        }
    }
    ::fchmod(temporary.Fd(), 0666 & ~common::ProcessUmask());
    std::string reason;
    if (!temporary.Commit(archivePath, reason)) {
        throw Error(ErrorKind::kArchive, reason);
    }
    for (const std::string& name : added) {
        events.Added(name);
    }
}

void MakeSelfExtracting(const std::string& stubPath, const std::string& cabinetPath,
                        const std::string& sfxPath) {
    common::TemporaryFile temporary(FolderOf(sfxPath));
    if (!temporary.Valid()) {
        throw Error(ErrorKind::kArchive, "cannot create " + sfxPath + ": " + std::strerror(errno));
    }
    for (const std::string& part : {stubPath, cabinetPath}) {
        const int fd = ::open(part.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            throw Error(ErrorKind::kArchive, "cannot read " + part + ": " + std::strerror(errno));
        }
        std::vector<char> buffer(1 << 16);
        ssize_t got;
        bool written = true;
        while ((got = ::read(fd, buffer.data(), buffer.size())) > 0 && written) {
            written = ::write(temporary.Fd(), buffer.data(), static_cast<std::size_t>(got)) == got;
        }
        ::close(fd);
        if (got < 0 || !written) {
            throw Error(ErrorKind::kArchive,
                        "cannot write " + sfxPath + ": " + std::strerror(errno));
        }
    }
    ::fchmod(temporary.Fd(), 0777 & ~common::ProcessUmask());
    std::string reason;
    if (!temporary.Commit(sfxPath, reason)) {
        throw Error(ErrorKind::kArchive, reason);
    }
}

}  // namespace zembrat::cab
