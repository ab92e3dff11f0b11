// x, t and l: members out of an archive, never outside the destination and never
// half-written under a final name (common::MemberFile). A member whose data is damaged is reported
// and the next one is still read: every header says where the next one starts.
#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "archiver_api.h"
#include "bga32/bga32.h"
#include "bga32/member_info.h"
#include "common/folder_times.h"
#include "common/member_file.h"
#include "common/safe_path.h"
#include "export/member_problems.h"

namespace zembrat::bga32 {

namespace {

// Decodes the member into the sink with progress reports.
void DecodeWithProgress(int fd, const bga::Member& member, const std::string& name,
                        const std::string& destination, Context& context,
                        const bga::DataSink& sink) {
    ProgressMeter meter(context.progress, member.header, name, destination);
    std::uint64_t done = 0;
    bga::DecodeMember(fd, member, [&](std::span<const std::byte> data) {
        sink(data);
        done += data.size();
        meter.Reach(done);
    });
    meter.Finish();
}

// Failures of one member's data; anything else (a stop, a header) ends the command.
bool IsMemberFailure(const Failure& failure) {
    return failure.Code() == ARC_ERROR_CRC || failure.Code() == ARC_ERROR_BROKEN_ARCHIVE ||
           failure.Code() == ARC_ERROR_CANNOT_WRITE;
}

class Extractor {
  public:
    Extractor(const Request& request, Context& context)
        : request_(request),
          context_(context),
          target_(request.folder.empty() ? std::string("./") : request.folder),
          umask_(common::ProcessUmask()),
          problems_(context.output) {}

    int Run() {
        bga::ArchiveReader archive(request_.archive);
        std::string reason;
        if (!target_.CreateFolder(reason)) {
            throw Failure(ARC_ERROR_CANNOT_WRITE, reason);
        }
        bool any = false;
        while (auto member = archive.Next()) {
            const std::string name = HostName(member->header);
            if (!Selected(name, request_.names)) {
                continue;
            }
            any = true;
            ExtractOne(archive.Fd(), *member, name);
        }
        if (!any && !request_.names.empty()) {
            problems_.NoneMatched();
        }
        return problems_.Code();
    }

  private:
    void ExtractOne(int fd, const bga::Member& member, const std::string& name) {
        std::string reason;
        auto relative = common::SafeRelativePath(name, reason);
        if (!relative) {
            problems_.Report(ARC_ERROR_UNSAFE_PATH, name, "refused (" + reason + ")");
            return;
        }
        const bool folder = member.header.IsFolder();
        auto path = target_.Prepare(*relative, folder, reason);
        if (!path) {
            problems_.ReportRefusedPath(target_, name, reason);
            return;
        }
        if (folder) {
            context_.output.Line("extracted " + common::EscapeControlCharacters(name));
            return;
        }
        const std::string kept =
            "kept the existing file (" + context_.overwriteSwitch + " overwrites)";
        if (!request_.overwrite && common::PathExists(*path)) {
            problems_.Report(ARC_WARNING_SKIPPED, name, kept);
            return;
        }
        // Placed without replacing a file that appeared meanwhile (another run) unless asked.
        common::Placement placed{};
        try {
            common::MemberFile file(*path, request_.overwrite);
            DecodeWithProgress(fd, member, name, *path, context_,
                               [&file](std::span<const std::byte> data) { file.Write(data); });
            const bool readOnly = (member.header.attributes & 0x01) != 0;
            placed = file.Place((readOnly ? 0444u : 0666u) & ~umask_,
                                UnixTime(member.header) * common::kNanosecondsPerSecond);
        } catch (const Failure& failure) {
            if (!IsMemberFailure(failure)) {
                throw;
            }
            problems_.Report(failure.Code(), name, failure.what());
            return;
        }
        if (placed == common::Placement::kKept) {
            problems_.Report(ARC_WARNING_SKIPPED, name, kept);
            return;
        }
        context_.output.Line("extracted " + common::EscapeControlCharacters(name));
    }

    const Request& request_;
    Context& context_;
    common::ExtractionTarget target_;
    unsigned umask_;
    exports::MemberProblems problems_;
};

std::string LocalTimeText(const bga::MemberHeader& header) {
    const std::uint32_t date = header.dosDate;
    const std::uint32_t time = header.dosTime;
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (date >> 9),
                  (date >> 5) & 0x0F, date & 0x1F, time >> 11, (time >> 5) & 0x3F,
                  (time & 0x1F) * 2);
    return text;
}

}  // namespace

int Extract(const Request& request, Context& context) {
    Extractor extractor(request, context);
    return extractor.Run();
}

int Test(const Request& request, Context& context) {
    bga::ArchiveReader archive(request.archive);
    exports::MemberProblems problems(context.output);
    std::size_t tested = 0;
    while (auto member = archive.Next()) {
        const std::string name = HostName(member->header);
        if (!Selected(name, request.names)) {
            continue;
        }
        ++tested;
        try {
            DecodeWithProgress(archive.Fd(), *member, name, name, context,
                               [](std::span<const std::byte>) {});
            context.output.Line("ok " + common::EscapeControlCharacters(name));
        } catch (const Failure& failure) {
            if (!IsMemberFailure(failure)) {
                throw;
            }
            problems.Report(failure.Code(), name, failure.what());
        }
    }
    if (problems.Code() == ARC_OK) {
        context.output.Line(std::to_string(tested) + " members tested, no errors");
    }
    return problems.Code();
}

int List(const Request& request, Context& context) {
    bga::ArchiveReader archive(request.archive);
    std::uint64_t totalOriginal = 0, totalPacked = 0, count = 0;
    static constexpr const char* kRule =
        "------------ ------------ ------ ----- ---- ------------------- ----";
    context.output.Line("    Original       Packed  Ratio Method Attr Date       Time     Name");
    context.output.Line(kRule);
    while (auto member = archive.Next()) {
        const bga::MemberHeader& header = member->header;
        const std::string name = HostName(header);
        if (!Selected(name, request.names)) {
            continue;
        }
        char line[160];
        std::snprintf(line, sizeof line, "%12" PRIu32 " %12" PRIu32 " %5.1f%% %-5s %s %s ",
                      header.originalSize, header.compressedSize,
                      common::CompressionRatio(header.compressedSize, header.originalSize) / 10.0,
                      MethodText(header).c_str(), AttributeText(header.attributes).c_str(),
                      LocalTimeText(header).c_str());
        context.output.Line(line + common::EscapeControlCharacters(name));
        totalOriginal += header.originalSize;
        totalPacked += header.compressedSize;
        ++count;
    }
    context.output.Line(kRule);
    char footer[128];
    std::snprintf(footer, sizeof footer, "%12" PRIu64 " %12" PRIu64 " %5.1f%% %" PRIu64 " members",
                  totalOriginal, totalPacked,
                  common::CompressionRatio(totalPacked, totalOriginal) / 10.0, count);
    context.output.Line(footer);
    return ARC_OK;
}

bool CheckArchive(const std::string& path, int mode) {
    const int depth = mode & ARC_CHECK_DEPTH_MASK;
    try {
        bga::ArchiveReader archive(path);
        bool any = false;
        while (auto member = archive.Next()) {
            any = true;
            if (depth == ARC_CHECK_QUICK) {
                return true;
            }
            if (depth >= ARC_CHECK_FULL) {
                bga::DecodeMember(archive.Fd(), *member, [](std::span<const std::byte>) {});
            }
        }
        return any;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace zembrat::bga32
