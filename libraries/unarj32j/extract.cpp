// x, e, t and ExtractMem: members out of an archive (and the volumes after it), never outside
// the destination and never half-written under a final name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <vector>

#include "archiver_api.h"
#include "common/failure.h"
#include "common/folder_times.h"
#include "common/safe_path.h"
#include "export/member_problems.h"
#include "platform/path.h"
#include "unarj32j/arj_library.h"
#include "unlha32/archive_source.h"
#include "unlha32/fd_stream.h"
#include "unlha32/member_extraction.h"
#include "unlha32/progress_meter.h"

namespace zembrat::unarj32j {

namespace {

using common::Failure;
using unlha32::MatchesAny;

constexpr const char* kEncrypted = "encrypted, not supported";

// Decodes the member with progress reports every 64 KiB; throws lha::Aborted when the owner
// window answers 1.
void DecodeWithProgress(arj::Reader& reader, const arj::Member& member, lha::OutputStream& out,
                        const std::string& source, const std::string& destination,
                        Context& context) {
    EXTRACTINGINFOEX record;
    FillProgressRecord(member, source, destination, record);
    unlha32::ProgressMeter meter(context.progress, record);
    reader.Extract(member, out, meter.Callback());
    meter.Finish();
}

// Members that carry data or are folders: volume labels and chapter marks are neither.
bool IsExtractable(const arj::Member& member) {
    return member.fileType == arj::kTypeBinary || member.fileType == arj::kTypeText ||
           member.IsDirectory();
}

class Extractor : public unlha32::MemberExtraction {
  public:
    Extractor(const Request& request, Context& context, bool keepFolders)
        : MemberExtraction(request.folder, context, keepFolders), request_(request) {}

    int Run() {
        ArjSource archive(request_.archive, true);
        const auto extractMembers = [&] {
            bool any = false;
            while (auto member = archive.Reader().Next()) {
                const std::string name = HostName(*member);
                if (!IsExtractable(*member) ||
                    !unlha32::Chosen(name, request_.names, request_.excludes)) {
                    continue;
                }
                any = true;
                ExtractOne(archive.Reader(), *member, name);
            }
            return any;
        };
        return RunOverMembers(extractMembers, !request_.names.empty());
    }

  private:
    void ExtractOne(arj::Reader& reader, const arj::Member& member, const std::string& name) {
        const auto rules =
            member.HasUnixNames() ? common::NameRules::kUnix : common::NameRules::kDos;
        const auto relative = PlaceOf(name, rules, member.IsDirectory());
        if (!relative) {
            return;
        }
        if (member.IsDirectory()) {
            ExtractFolder(member, name, *relative);
            return;
        }
        NoteFoldersToMake(*relative);
        std::string reason;
        auto path = target_.Prepare(*relative, false, reason);
        if (!path) {
            problems_.ReportRefusedPath(target_, name, reason);
            return;
        }
        struct stat existing {};
        if (lstat(path->c_str(), &existing) == 0 && !request_.overwrite) {
            ReportKept(name);
            return;
        }
        if (member.IsGarbled()) {
            problems_.Report(ARC_ERROR_UNKNOWN_METHOD, name, kEncrypted);
            return;
        }
        if (!arj::CanDecode(member.method)) {
            problems_.Report(ARC_ERROR_UNKNOWN_METHOD, name,
                             "unsupported method " + std::to_string(member.method));
            return;
        }
        const unlha32::ExtractedFile file{*path, name, PermissionBits(member) & ~umask_,
                                          WriteTimeNanoseconds(member), request_.overwrite};
        WriteFile(file, [&](lha::OutputStream& out) {
            DecodeWithProgress(reader, member, out, name, *path, context_);
        });
    }

    // ARJ archives list a folder after its members, so the folders a file's path makes are
    // this extraction's own: their folder members still set their time and mode.
    void NoteFoldersToMake(const std::string& relative) {
        for (std::size_t slash = relative.find('/'); slash != std::string::npos;
             slash = relative.find('/', slash + 1)) {
            std::string folder = relative.substr(0, slash);
            struct stat existing {};
            if (!madeFolders_.contains(folder) &&
                lstat((target_.Folder() + folder).c_str(), &existing) != 0) {
                madeFolders_.insert(std::move(folder));
            }
        }
    }

    void ExtractFolder(const arj::Member& member, const std::string& name,
                       const std::string& relative) {
        std::string reason;
        struct stat existing {};
        // Without overwriting, a folder that is already there keeps its time and mode.
        const bool keep = !request_.overwrite && !madeFolders_.contains(relative) &&
                          lstat((target_.Folder() + relative).c_str(), &existing) == 0;
        auto path = target_.Prepare(relative, true, reason);
        if (!path) {
            problems_.ReportRefusedPath(target_, name, reason);
            return;
        }
        NoteFolder(*path, name, keep, WriteTimeNanoseconds(member), PermissionBits(member));
    }

    const Request& request_;
    std::set<std::string> madeFolders_;
};

}  // namespace

int Extract(const Request& request, Context& context, bool keepFolders) {
    Extractor extractor(request, context, keepFolders);
    return extractor.Run();
}

int Test(const Request& request, Context& context) {
    ArjSource archive(request.archive, true);
    exports::Outcome outcome;
    std::size_t tested = 0;
    while (auto member = archive.Reader().Next()) {
        const std::string name = HostName(*member);
        if (!IsExtractable(*member) || member->IsDirectory() || !MatchesAny(name, request.names)) {
            continue;
        }
        ++tested;
        unlha32::TestMember(name, outcome, context, [&](lha::OutputStream& sink) {
            DecodeWithProgress(archive.Reader(), *member, sink, name, name, context);
        });
    }
    return unlha32::FinishTest(outcome, tested, context);
}

int ExtractToMemory(const Request& request, std::span<std::byte> buffer, MemoryResult& result,
                    Context& context) {
    if (request.names.empty()) {
        throw Failure(ARC_ERROR_BAD_COMMAND, "no member named");
    }
    ArjSource archive(request.archive, true);
    while (auto member = archive.Reader().Next()) {
        const std::string name = HostName(*member);
        if (!IsExtractable(*member) || member->IsDirectory() || !MatchesAny(name, request.names)) {
            continue;
        }
        if (member->IsGarbled()) {
            throw Failure(ARC_ERROR_UNKNOWN_METHOD, name + ": " + kEncrypted);
        }
        unlha32::BoundedOutput out(buffer);
        DecodeWithProgress(archive.Reader(), *member, out, name, name, context);
        result.written = static_cast<std::uint32_t>(out.Stored());
        result.unixTime = WriteTimeNanoseconds(*member) / 1000000000LL;
        result.attributes =
            static_cast<std::uint16_t>(member->HasUnixNames() ? 0x20 : (member->accessMode & 0xFF));
        if (out.Total() > out.Stored()) {
            throw common::BufferTooSmall(out.Stored(), out.Total());
        }
        return ARC_OK;
    }
    throw common::NoMemberMatches();
}

}  // namespace zembrat::unarj32j
