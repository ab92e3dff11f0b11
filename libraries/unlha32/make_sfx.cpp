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
    common::ArchiveOutput out(target);
    const auto stubSize = static_cast<std::uint64_t>(stubInfo.st_size);
    out.AppendRange(stubFd.Get(), 0, stubSize);
    out.AppendRange(archiveFd.Get(), archive.Start(), archive.End());
    out.Write(common::MakeSfxTrailer(stubSize));
    out.Commit(common::ArchiveOutput::ModeFor(target, true));
    context.output.Line("made " + common::EscapeControlCharacters(target));
    return ARC_OK;
}

}  // namespace zembrat::unlha32
