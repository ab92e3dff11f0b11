#include "unlha32/member_extraction.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "archiver_api.h"
#include "common/failure.h"
#include "common/safe_path.h"
#include "platform/path.h"
#include "unlha32/archive_source.h"
#include "unlha32/fd_stream.h"

namespace zembrat::unlha32 {

MemberExtraction::MemberExtraction(const std::string& folder, exports::Context& context,
                                   bool keepFolders)
    : context_(context),
      keepFolders_(keepFolders),
      target_(folder.empty() ? std::string("./") : folder),
      umask_(common::ProcessUmask()),
      problems_(context.output) {}

std::optional<std::string> MemberExtraction::PlaceOf(const std::string& name,
                                                     common::NameRules rules, bool isDirectory) {
    std::string reason;
    auto relative = common::SafeRelativePath(name, reason, rules);
    if (!relative) {
        problems_.Report(ARC_ERROR_UNSAFE_PATH, name, "refused (" + reason + ")");
        return std::nullopt;
    }
    if (!keepFolders_) {
        if (isDirectory) {
            return std::nullopt;
        }
        *relative = platform::ExtractFileName(*relative);
    }
    return relative;
}

void MemberExtraction::NoteFolder(const std::string& path, const std::string& name, bool keep,
                                  std::int64_t writeTimeNanoseconds, unsigned mode) {
    if (!keep) {
        folderTimes_.Add(path, writeTimeNanoseconds, mode & ~umask_);
    }
    context_.output.Line("extracted " + common::EscapeControlCharacters(name));
}

void MemberExtraction::ReportKept(const std::string& name) {
    problems_.Report(ARC_WARNING_SKIPPED, name,
                     "kept the existing file (" + context_.overwriteSwitch + " overwrites)");
}

void MemberExtraction::WriteFile(const ExtractedFile& file,
                                 const std::function<void(lha::OutputStream&)>& decode) {
    try {
        common::MemberFile member(file.path, file.replace);
        MemberStream out(member);
        try {
            decode(out);
        } catch (const lha::Error& error) {
            if (!EndsOnlyTheMember(error)) {
                throw;
            }
            problems_.Report(
                error.Kind() == lha::ErrorKind::kIo ? ARC_ERROR_CANNOT_WRITE : ResultFor(error),
                file.name, error.what());
            return;
        }
        if (member.Place(file.mode, file.writeTimeNanoseconds) == common::Placement::kKept) {
            ReportKept(file.name);
            return;
        }
    } catch (const common::Failure& failure) {
        // A write that failed (a full disk, a file size limit) ends this member only: the
        // staging file is dropped and smaller members may still fit.
        if (failure.Code() != ARC_ERROR_CANNOT_WRITE) {
            throw;
        }
        problems_.Report(failure.Code(), file.name, failure.what());
        return;
    }
    context_.output.Line("extracted " + common::EscapeControlCharacters(file.name));
}

int MemberExtraction::RunOverMembers(const std::function<bool()>& extractMembers, bool namesGiven) {
    std::string reason;
    if (!target_.CreateFolder(reason)) {
        throw common::Failure(ARC_ERROR_CANNOT_WRITE, reason);
    }
    bool any = false;
    try {
        any = extractMembers();
    } catch (const lha::Aborted&) {
        folderTimes_.Apply();
        throw StoppedByOwner();
    } catch (const lha::Error& error) {
        folderTimes_.Apply();
        throw DamagedArchive(error);
    }
    folderTimes_.Apply();
    if (!any && namesGiven) {
        problems_.NoneMatched();
    }
    return problems_.Code();
}

void TestMember(const std::string& name, exports::Outcome& outcome, exports::Context& context,
                const std::function<void(lha::OutputStream&)>& decode) {
    try {
        NullOutput sink;
        decode(sink);
        context.output.Line("ok " + common::EscapeControlCharacters(name));
    } catch (const lha::Error& error) {
        if (!EndsOnlyTheMember(error)) {
            throw;
        }
        outcome.Note(ResultFor(error));
        context.output.Line("failed " + common::EscapeControlCharacters(name) + ": " +
                            error.what());
    }
}

int FinishTest(const exports::Outcome& outcome, std::size_t tested, exports::Context& context) {
    if (outcome.Code() != 0) {
        context.output.FirstLine("the archive has damaged members");
    } else {
        context.output.Line(std::to_string(tested) + " members tested, no errors");
    }
    return outcome.Code();
}

}  // namespace zembrat::unlha32
