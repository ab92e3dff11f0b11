// l, v and CheckArchive.
#include <cinttypes>
#include <cstdio>

#include "archiver_api.h"
#include "common/record_fields.h"
#include "common/safe_path.h"
#include "platform/file_time.h"
#include "unlha32/archive_source.h"
#include "unlha32/fd_stream.h"
#include "unlha32/operations.h"

namespace zembrat::unlha32 {

namespace {

std::string LocalTimeText(const lha::Member& member) {
    const auto time =
        platform::FileTimeToSystemTime(platform::FileTimeToLocalFileTime(WriteTime(member)));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
    return text;
}

}  // namespace

int List(const Request& request, Context& context, bool verbose) {
    ArchiveSource archive(request.archive, true);
    std::uint64_t totalOriginal = 0, totalPacked = 0, count = 0;
    context.output.Line(
        verbose ? "    Original       Packed  Ratio Method CRC   OS Lv Date       Time     Name"
                : "    Original       Packed  Ratio Method Date       Time     Name");
    context.output.Line(
        verbose ? "------------ ------------ ------ ----- ---- -- -- ---------- -------- ----"
                : "------------ ------------ ------ ----- ---------- -------- ----");
    try {
        while (auto member = archive.Reader().Next()) {
            const std::string name = HostName(*member);
            if (!MatchesAny(name, request.names)) {
                continue;
            }
            char line[160];
            if (verbose) {
                const char os = member->osId >= 0x20 && member->osId < 0x7F
                                    ? static_cast<char>(member->osId)
                                    : '?';
                std::snprintf(
                    line, sizeof line, "%12" PRIu64 " %12" PRIu64 " %s %s %04X  %c %2d %s ",
                    member->originalSize, member->compressedSize,
                    common::CompressionRatioText(member->compressedSize, member->originalSize)
                        .c_str(),
                    member->method.c_str(), member->crc, os, member->headerLevel,
                    LocalTimeText(*member).c_str());
            } else {
                std::snprintf(
                    line, sizeof line, "%12" PRIu64 " %12" PRIu64 " %s %s %s ",
                    member->originalSize, member->compressedSize,
                    common::CompressionRatioText(member->compressedSize, member->originalSize)
                        .c_str(),
                    member->method.c_str(), LocalTimeText(*member).c_str());
            }
            std::string text = line + common::EscapeControlCharacters(name);
            if (member->IsSymlink()) {
                text += " -> " + common::EscapeControlCharacters(member->linkTarget);
            }
            context.output.Line(text);
            totalOriginal += member->originalSize;
            totalPacked += member->compressedSize;
            ++count;
        }
    } catch (const lha::Error& error) {
        throw DamagedArchive(error);
    }
    char footer[128];
    std::snprintf(footer, sizeof footer, "%12" PRIu64 " %12" PRIu64 " %s %" PRIu64 " members",
                  totalOriginal, totalPacked,
                  common::CompressionRatioText(totalPacked, totalOriginal).c_str(), count);
    context.output.Line(
        verbose ? "------------ ------------ ------ ----- ---- -- -- ---------- -------- ----"
                : "------------ ------------ ------ ----- ---------- -------- ----");
    context.output.Line(footer);
    return ARC_OK;
}

bool CheckArchive(const std::string& path, int mode) {
    const int depth = mode & ARC_CHECK_DEPTH_MASK;
    const bool embedded = (mode & ARC_CHECK_EMBEDDED) != 0;
    try {
        ArchiveSource archive(path, embedded);
        const std::uint64_t size = archive.Input().Size();
        bool any = false;
        while (auto member = archive.Reader().Next()) {
            any = true;
            if (member->dataOffset + member->compressedSize > size) {
                return false;
            }
            if (depth == ARC_CHECK_QUICK) {
                return true;
            }
            if (depth >= ARC_CHECK_FULL && member->method != "-lhd-") {
                NullOutput sink;
                archive.Reader().Extract(sink);
            }
        }
        return any || depth != ARC_CHECK_QUICK;
    } catch (const Failure&) {
        return false;
    } catch (const lha::Error&) {
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace zembrat::unlha32
