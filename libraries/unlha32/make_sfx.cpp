// s: the self-extracting stub followed by the archive and a trailer that tells where the
// archive starts.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

#include "archiver_api.h"
#include "common/safe_path.h"
#include "common/sfx_trailer.h"
#include "platform/path.h"
#include "platform/system_folders.h"
#include "unlha32/archive_source.h"
#include "unlha32/fd_stream.h"
#include "unlha32/operations.h"

namespace zembrat::unlha32 {

namespace {

constexpr const char* kStubName = "zembrat-sfx";

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// Copies [from, to) of one file to the end of the output.
void CopyRange(int in, std::uint64_t from, std::uint64_t to, FdOutput& out) {
    std::vector<std::byte> buffer(1 << 16);
    while (from < to) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), to - from));
        const ssize_t got = pread(in, buffer.data(), want, static_cast<off_t>(from));
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            throw Failure(ARC_ERROR_CANNOT_READ, "cannot read while copying");
        }
        out.Write(std::span<const std::byte>(buffer.data(), static_cast<std::size_t>(got)));
        from += static_cast<std::uint64_t>(got);
    }
}

}  // namespace

std::string FindSfxStub() {
    // Beside this library first: a program that loaded it from a build or install folder finds
    // the stub of the same build there.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&FindSfxStub), &info) != 0 && info.dli_fname) {
        const std::string beside = platform::ExtractFilePath(info.dli_fname) + kStubName;
        if (IsExecutableFile(beside)) {
            return beside;
        }
    }
    if (auto found = platform::SearchPath(kStubName); found && IsExecutableFile(*found)) {
        return *found;
    }
    return {};
}

int MakeSelfExtracting(const Request& request, Context& context) {
    ArchiveSource archive(request.archive, true);
    // Every header must be sound before a program is made of it.
    try {
        while (archive.Reader().Next()) {
        }
    } catch (const lha::Error& error) {
        throw DamagedArchive(error);
    }
    const std::string stub = FindSfxStub();
    if (stub.empty()) {
        throw Failure(ARC_ERROR_CANNOT_READ,
                      std::string("cannot find the self-extracting stub ") + kStubName);
    }
    std::string folder = request.folder;
    if (folder.empty()) {
        folder = platform::ExtractFilePath(request.archive);
    }
    if (folder.empty()) {
        folder = "./";
    }
    folder = platform::IncludeTrailingDelimiter(folder);
    const std::string extension = platform::ExtractFileExt(request.archive);
    const bool upper =
        extension.size() > 1 && std::none_of(extension.begin(), extension.end(), [](char c) {
            return std::islower(static_cast<unsigned char>(c));
        });
    const std::string name = platform::ChangeFileExt(platform::ExtractFileName(request.archive),
                                                     upper ? ".EXE" : ".exe");
    const std::string target = folder + name;

    UniqueFd stubFd(open(stub.c_str(), O_RDONLY | O_CLOEXEC));
    UniqueFd archiveFd(open(request.archive.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat stubInfo {};
    if (!stubFd.Valid() || fstat(stubFd.Get(), &stubInfo) != 0 || !archiveFd.Valid()) {
        throw Failure(ARC_ERROR_CANNOT_READ, std::string("cannot read: ") + std::strerror(errno));
    }
    common::TemporaryFile temporary(folder);
    if (!temporary.Valid()) {
        throw Failure(ARC_ERROR_CANNOT_WRITE, "cannot create a file in " +
                                                  common::EscapeControlCharacters(folder) + ": " +
                                                  std::strerror(errno));
    }
    FdOutput out(temporary.Fd());
    try {
        const auto stubSize = static_cast<std::uint64_t>(stubInfo.st_size);
        CopyRange(stubFd.Get(), 0, stubSize, out);
        CopyRange(archiveFd.Get(), archive.Start(), archive.End(), out);
        const auto trailer = common::MakeSfxTrailer(stubSize);
        out.Write(trailer);
    } catch (const lha::Error& error) {
        throw Failure(ARC_ERROR_CANNOT_WRITE, error.what());
    }
    fchmod(temporary.Fd(), 0777 & ~common::ProcessUmask());
    std::string reason;
    if (!temporary.Commit(target, reason)) {
        throw Failure(ARC_ERROR_CANNOT_WRITE, reason);
    }
    context.output.Line("made " + common::EscapeControlCharacters(target));
    return ARC_OK;
}

}  // namespace zembrat::unlha32
