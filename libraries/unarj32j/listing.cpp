// l, v, CheckArchive and the command entry.
#include <cinttypes>
#include <cstdio>

#include "archiver_api.h"
#include "common/failure.h"
#include "common/record_fields.h"
#include "common/safe_path.h"
#include "platform/file_time.h"
#include "unarj32j/arj_library.h"
#include "unlha32/archive_source.h"
#include "unlha32/fd_stream.h"
#include "unlha32/guarded.h"

namespace zembrat::unarj32j {

namespace {

using common::Failure;

std::string LocalTimeText(const arj::Member& member) {
    const auto time = platform::FileTimeToSystemTime(
        platform::FileTimeToLocalFileTime(platform::FileTimeFromUnix(member.UnixTime())));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
    return text;
}

constexpr const char* kRule =
    "------------ ------------ ------ ------- -------- ---------- -------- ----";

}  // namespace

int List(const Request& request, Context& context, bool verbose) {
    ArjSource archive(request.archive, true);
    std::uint64_t totalOriginal = 0, totalPacked = 0, count = 0;
    context.output.Line(
        "    Original       Packed  Ratio Method  CRC-32   Date       Time     Name");
    context.output.Line(kRule);
    try {
        while (auto member = archive.Reader().Next()) {
            const std::string name = HostName(*member);
            if (!unlha32::MatchesAny(name, request.names)) {
                continue;
            }
            char line[160];
            std::snprintf(
                line, sizeof line, "%12" PRIu64 " %12" PRIu64 " %s %-7s %08X %s ",
                member->originalSize, member->compressedSize,
                common::CompressionRatioText(member->compressedSize, member->originalSize).c_str(),
                arj::MethodName(member->method).c_str(), member->crc,
                LocalTimeText(*member).c_str());
            std::string text = line + common::EscapeControlCharacters(name);
            if (member->IsGarbled()) {
                text += " (encrypted)";
            }
            if (verbose && member->sections.size() > 1) {
                text += " (" + std::to_string(member->sections.size()) + " volumes)";
            }
            context.output.Line(text);
            totalOriginal += member->originalSize;
            totalPacked += member->compressedSize;
            ++count;
        }
    } catch (const lha::Error& error) {
        throw unlha32::DamagedArchive(error);
    }
    char footer[128];
    std::snprintf(footer, sizeof footer, "%12" PRIu64 " %12" PRIu64 " %s %" PRIu64 " members",
                  totalOriginal, totalPacked,
                  common::CompressionRatioText(totalPacked, totalOriginal).c_str(), count);
    context.output.Line(kRule);
    context.output.Line(footer);
    return ARC_OK;
}

bool CheckArchive(const std::string& path, int mode) {
    const int depth = mode & ARC_CHECK_DEPTH_MASK;
    try {
        ArjSource archive(path, (mode & ARC_CHECK_EMBEDDED) != 0);
        while (auto member = archive.Reader().Next()) {
            if (depth == ARC_CHECK_QUICK) {
                return true;
            }
            if (depth >= ARC_CHECK_FULL && !member->IsGarbled()) {
                unlha32::NullOutput sink;
                archive.Reader().Extract(*member, sink);
            }
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

int RunCommandLine(std::string_view commandLine, Context& context) {
    // A line that does not parse ends as a failed command does: its reason first.
    return unlha32::Guarded(context, [&] {
        return unlha32::RunReadingCommand<Request>(ParseCommandLine(commandLine, true), context,
                                                   {Extract, List, Test});
    });
}

}  // namespace zembrat::unarj32j
