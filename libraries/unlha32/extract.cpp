// x, e, t and ExtractMem: members out of an archive, never outside the destination and never
// half-written under a final name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "archiver_api.h"
#include "common/folder_times.h"
#include "common/safe_path.h"
#include "export/member_problems.h"
#include "platform/path.h"
#include "unlha32/archive_source.h"
#include "unlha32/fd_stream.h"
#include "unlha32/mac_binary.h"
#include "unlha32/member_extraction.h"
#include "unlha32/operations.h"
#include "unlha32/progress_meter.h"

namespace zembrat::unlha32 {

namespace {

// Decodes the reader's current member with progress reports every 64 KiB; throws
// lha::Aborted when the owner window answers 1.
void DecodeWithProgress(lha::Reader& reader, lha::OutputStream& out, const lha::Member& member,
                        const std::string& source, const std::string& destination,
                        Context& context) {
    EXTRACTINGINFOEX record;
    FillProgressRecord(member, source, destination, record);
    ProgressMeter meter(context.progress, record);
    // Reported from the reader's callback, on this thread: out may be written from another.
    reader.Extract(out, meter.Callback());
    meter.Finish();
}

// Decodes the member as it is extracted: one from a Macintosh LHA tool as its data fork.
void DecodeForExtraction(lha::Reader& reader, lha::OutputStream& out, const lha::Member& member,
                         const std::string& source, const std::string& destination,
                         Context& context) {
    if (member.osId != 'm') {
        DecodeWithProgress(reader, out, member, source, destination, context);
        return;
    }
    MacBinaryFilter dataFork(out, member);
    DecodeWithProgress(reader, dataFork, member, source, destination, context);
    dataFork.Finish();
}

class Extractor : public MemberExtraction {
  public:
    Extractor(const Request& request, Context& context, bool keepFolders)
        : MemberExtraction(request.folder, context, keepFolders), request_(request) {}

    int Run() {
        ArchiveSource archive(request_.archive, true);
        const auto extractMembers = [&] {
            bool any = false;
            while (auto member = archive.Reader().Next()) {
                const std::string name = HostName(*member);
                if (!Chosen(name, request_.names, request_.options.excludes)) {
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
    void ExtractOne(lha::Reader& reader, const lha::Member& member, const std::string& name) {
        // Our own archives, and other Unix tools', say 'U': there '\\' and ':' are characters.
        const auto rules = member.osId == 'U' ? common::NameRules::kUnix : common::NameRules::kDos;
        const auto relative = PlaceOf(name, rules, member.IsDirectory());
        if (!relative) {
            return;
        }
        std::string reason;
        if (member.IsDirectory()) {
            // Without overwriting, a folder that is already there keeps its time and mode.
            const bool keep =
                !request_.options.overwrite && common::PathExists(target_.Folder() + *relative);
            auto path = target_.Prepare(*relative, true, reason);
            if (!path) {
                problems_.ReportRefusedPath(target_, name, reason);
                return;
            }
            NoteFolder(*path, name, keep, WriteTimeNanoseconds(member), PermissionBits(member));
            return;
        }
        if (member.IsSymlink() && !common::LinkTargetStaysInside(*relative, member.linkTarget)) {
            problems_.Report(ARC_ERROR_UNSAFE_PATH, name, "refused (symbolic link leads outside)");
            return;
        }
        auto path = target_.Prepare(*relative, false, reason);
        if (!path) {
            problems_.ReportRefusedPath(target_, name, reason);
            return;
        }
        if (common::PathExists(*path) && !request_.options.overwrite) {
            ReportKept(name);
            return;
        }
        if (member.IsSymlink()) {
            MakeLink(member, name, *path);
            return;
        }
        if (!lha::CanDecode(member.method)) {
            problems_.Report(ARC_ERROR_UNKNOWN_METHOD, name, "unsupported method " + member.method);
            return;
        }
        const ExtractedFile file{*path, name, PermissionBits(member) & ~umask_,
                                 WriteTimeNanoseconds(member), request_.options.overwrite};
        WriteFile(file, [&](lha::OutputStream& out) {
            DecodeForExtraction(reader, out, member, name, *path, context_);
        });
    }

    void MakeLink(const lha::Member& member, const std::string& name, const std::string& path) {
        if (!target_.MakeLink(path, member.linkTarget)) {
            problems_.Report(ARC_ERROR_CANNOT_WRITE, name,
                             std::string("cannot make the symbolic link: ") + std::strerror(errno));
            return;
        }
        context_.output.Line("extracted " + common::EscapeControlCharacters(name));
    }

    const Request& request_;
};

}  // namespace

int Extract(const Request& request, Context& context, bool keepFolders) {
    Extractor extractor(request, context, keepFolders);
    return extractor.Run();
}

int Test(const Request& request, Context& context) {
    ArchiveSource archive(request.archive, true);
    Outcome outcome;
    std::size_t tested = 0;
    try {
        while (auto member = archive.Reader().Next()) {
            const std::string name = HostName(*member);
            if (!MatchesAny(name, request.names) || member->method == "-lhd-") {
                continue;
            }
            ++tested;
            TestMember(name, outcome, context, [&](lha::OutputStream& sink) {
                DecodeWithProgress(archive.Reader(), sink, *member, name, name, context);
            });
        }
    } catch (const lha::Aborted&) {
        throw StoppedByOwner();
    } catch (const lha::Error& error) {
        throw DamagedArchive(error);
    }
    return FinishTest(outcome, tested, context);
}

int ExtractToMemory(const Request& request, std::span<std::byte> buffer, MemoryResult& result,
                    Context& context) {
    if (request.names.empty()) {
        throw Failure(ARC_ERROR_BAD_COMMAND, "no member named");
    }
    ArchiveSource archive(request.archive, true);
    try {
        while (auto member = archive.Reader().Next()) {
            const std::string name = HostName(*member);
            if (member->method == "-lhd-" || !MatchesAny(name, request.names)) {
                continue;
            }
            if (!lha::CanDecode(member->method)) {
                throw Failure(ARC_ERROR_UNKNOWN_METHOD, "unsupported method " + member->method);
            }
            BoundedOutput out(buffer);
            DecodeForExtraction(archive.Reader(), out, *member, name, name, context);
            result.written = static_cast<std::uint32_t>(out.Stored());
            result.unixTime = WriteTimeNanoseconds(*member) / 1000000000LL;
            result.attributes = member->msdosAttributes;
            if (out.Total() > out.Stored()) {
                throw common::BufferTooSmall(out.Stored(), out.Total());
            }
            return ARC_OK;
        }
    } catch (const lha::Aborted&) {
        throw StoppedByOwner();
    } catch (const lha::Error& error) {
        throw Failure(ResultFor(error), error.what());
    }
    throw common::NoMemberMatches();
}

}  // namespace zembrat::unlha32
