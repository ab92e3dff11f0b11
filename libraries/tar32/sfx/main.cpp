// zembrat-tarsfx: the program at the head of a self-extracting tar or tar.gz file. The TAR
// driver makes one by plain concatenation, so the archive is found where the program's own
// ELF image ends. It reads the archive in-process (no helper, no library of ours) and
// extracts under the same rules as the library: nothing outside the folder, links never lead
// a later member out, device files and FIFOs are reported and not made, and a file appears
// under its name only when its data is complete.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/failure.h"
#include "common/folder_times.h"
#include "common/member_file.h"
#include "common/safe_path.h"
#include "common/sfx_stub.h"
#include "common/staged_file.h"
#include "tar/tar_stream.h"

namespace {

using zembrat::tar::StreamEntry;
using Kind = zembrat::tar::StreamEntry::Kind;

std::string Printable(std::string_view name) {
    return zembrat::common::EscapeControlCharacters(name);
}

class Extractor {
  public:
    Extractor(const std::string& folder, bool overwrite)
        : target_(folder), overwrite_(overwrite), umask_(zembrat::common::ProcessUmask()) {}

    int Run(zembrat::tar::TarStream& stream) {
        std::string reason;
        if (!target_.CreateFolder(reason)) {
            std::fprintf(stderr, "%s\n", reason.c_str());
            return 1;
        }
        StreamEntry entry;
        try {
            while (stream.Next(entry)) {
                ExtractOne(stream, entry);
            }
        } catch (const zembrat::tar::TarStreamError& error) {
            std::fprintf(stderr, "%s\n", error.what());
            status_ = 1;
        }
        folders_.Apply();
        return status_;
    }

  private:
    void Fail(const std::string& name, const std::string& what) {
        std::fprintf(stderr, "%s: %s\n", Printable(name).c_str(), what.c_str());
        status_ = 1;
    }

    unsigned Mode(const StreamEntry& entry, unsigned fallback) const {
        // Set-id bits never come out of an archive (a folder keeps its sticky bit).
        return (entry.mode != 0 ? entry.mode : fallback) & 01777 & ~umask_;
    }

    void ExtractOne(zembrat::tar::TarStream& stream, const StreamEntry& entry) {
        std::string reason;
        const auto relative = zembrat::common::SafeRelativePath(entry.name, reason,
                                                                zembrat::common::NameRules::kUnix);
        if (!relative) {
            if (entry.kind != Kind::kDirectory ||
                entry.name.find_first_not_of("./") != std::string::npos) {
                Fail(entry.name, "refused (" + reason + ")");
            }
            return;
        }
        if (entry.sparse) {
            return Fail(entry.name,
                        "a sparse member of an old kind: not extracted by this program");
        }
        if (entry.kind == Kind::kOther) {
            return Fail(entry.name, "a device file, FIFO or socket: not created");
        }
        if (entry.kind == Kind::kSymlink &&
            !zembrat::common::LinkTargetStaysInside(*relative, entry.linkTarget)) {
            return Fail(entry.name, "refused (symbolic link leads outside)");
        }
        std::string linked;
        if (entry.kind == Kind::kHardlink) {
            const auto source = zembrat::common::SafeRelativePath(
                entry.linkTarget, reason, zembrat::common::NameRules::kUnix);
            linked = source ? target_.Folder() + *source : std::string();
            // Only a file this run made: a link can neither reach outside nor take in a file
            // that was there before.
            if (!files_.contains(linked)) {
                return Fail(entry.name,
                            "refused (hard link to a file this extraction did not make)");
            }
        }
        const auto path = target_.Prepare(*relative, entry.kind == Kind::kDirectory, reason);
        if (!path) {
            return Fail(entry.name, reason);
        }
        if (entry.kind == Kind::kDirectory) {
            folders_.Add(*path, entry.mtime * zembrat::common::kNanosecondsPerSecond,
                         Mode(entry, 0755));
            std::printf("extracted %s\n", Printable(entry.name).c_str());
            return;
        }
        struct stat existing {};
        if (lstat(path->c_str(), &existing) == 0 && !overwrite_ && !made_.contains(*path)) {
            std::printf("%s: kept the existing file (-f overwrites)\n",
                        Printable(entry.name).c_str());
            status_ = 1;
            return;
        }
        if (entry.kind == Kind::kSymlink) {
            if (!target_.MakeLink(*path, entry.linkTarget)) {
                return Fail(entry.name,
                            std::string("cannot make the link: ") + std::strerror(errno));
            }
            files_.erase(*path);
        } else if (entry.kind == Kind::kHardlink) {
            if (!zembrat::common::MakeHardLink(linked, *path)) {
                return Fail(entry.name,
                            std::string("cannot make the link: ") + std::strerror(errno));
            }
            files_.insert(*path);
        } else if (!WriteFile(stream, entry, *path)) {
            return;
        }
        made_.insert(*path);
        std::printf("extracted %s\n", Printable(entry.name).c_str());
    }

    // The member's data through MemberFile: never with set-id bits, and never over a file
    // that appeared at its name meanwhile (another run) unless -f or this run made it.
    bool WriteFile(zembrat::tar::TarStream& stream, const StreamEntry& entry,
                   const std::string& path) {
        std::optional<zembrat::common::MemberFile> file;
        std::string failure;
        try {
            file.emplace(path, overwrite_ || made_.contains(path));
        } catch (const zembrat::common::Failure& error) {
            failure = error.what();
        }
        // The data is read through whatever happens: the next member follows it.
        stream.ReadData(
            [&](std::span<const std::byte> data) {
                if (!failure.empty()) {
                    return;
                }
                try {
                    file->Write(data);
                } catch (const zembrat::common::Failure& error) {
                    failure = error.what();
                }
            },
            [&](std::uint64_t size) {
                if (failure.empty()) {
                    file->Hole(size);
                }
            });
        zembrat::common::Placement placed{};
        if (failure.empty()) {
            try {
                placed = file->Place(Mode(entry, 0644),
                                     entry.mtime * zembrat::common::kNanosecondsPerSecond);
            } catch (const zembrat::common::Failure& error) {
                failure = error.what();
            }
        }
        if (!failure.empty()) {
            Fail(entry.name, failure);
            return false;
        }
        if (placed == zembrat::common::Placement::kKept) {
            std::printf("%s: kept the existing file (-f overwrites)\n",
                        Printable(entry.name).c_str());
            status_ = 1;
            return false;
        }
        files_.insert(path);
        return true;
    }

    zembrat::common::ExtractionTarget target_;
    bool overwrite_;
    unsigned umask_;
    int status_ = 0;
    zembrat::common::FolderTimes folders_;
    std::set<std::string> files_;  // regular files this run made: what a hard link may name
    std::set<std::string> made_;   // everything but folders this run made
};

// -l lists, -t reads every member through (the gzip checks included).
int ListOrTest(zembrat::tar::TarStream& stream, bool list) {
    std::uint64_t total = 0;
    std::size_t count = 0;
    StreamEntry entry;
    try {
        while (stream.Next(entry)) {
            ++count;
            total += entry.size;
            if (list) {
                std::printf("%12" PRIu64 " %s%s\n", entry.size, Printable(entry.name).c_str(),
                            entry.kind == Kind::kDirectory ? "/" : "");
            } else {
                // Read through as an extraction would, sparse maps included.
                stream.ReadData([](std::span<const std::byte>) {}, [](std::uint64_t) {});
                std::printf("ok %s\n", Printable(entry.name).c_str());
            }
        }
    } catch (const zembrat::tar::TarStreamError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    if (list) {
        std::printf("%zu members, %" PRIu64 " bytes\n", count, total);
    }
    return 0;
}

}  // namespace

// The C++ runtime's own handler for an uncaught exception names it through the symbol
// demangler, a large part of the program's size; this one names nothing and stops the same way.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::fputs("internal error\n", stderr);
    std::abort();
}
}  // namespace __gnu_cxx

int main(int argc, char** argv) {
    zembrat::common::StubRequest request;
    if (const auto status =
            zembrat::common::ParseStubArguments(argc, argv, {"-f", "tar archive"}, request)) {
        return *status;
    }
    const int self = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    struct stat info {};
    const std::uint64_t imageEnd = self >= 0 ? zembrat::common::ElfImageEnd(self) : 0;
    if (imageEnd == 0 || fstat(self, &info) != 0 ||
        static_cast<std::uint64_t>(info.st_size) <= imageEnd) {
        std::fprintf(stderr, "no archive is attached to this program\n");
        return 1;
    }
    try {
        const auto source = zembrat::tar::OpenRegion(self, imageEnd);
        zembrat::tar::TarStream stream(*source);
        if (request.mode != 'x') {
            return ListOrTest(stream, request.mode == 'l');
        }
        return Extractor(request.folder.empty() ? std::string("./") : request.folder,
                         request.overwrite)
            .Run(stream);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
