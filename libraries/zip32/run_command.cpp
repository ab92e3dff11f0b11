#include <algorithm>
#include <exception>
#include <optional>
#include <string>

#include "archiver_api.h"
#include "common/output_text.h"
#include "common/record_fields.h"
#include "export/guarded.h"
#include "zip32/operations.h"

namespace zembrat::zip32 {

namespace {

// The code and reason of an error of the ZIP engine.
const auto DescribeZipError = exports::DescribeEngineError<zip::Error>([](const zip::Error& error) {
    return Failure(ResultFor(error), error.Kind() == zip::ErrorKind::kAborted
                                         ? std::string("stopped at the owner window's request")
                                         : std::string(error.what()));
});

// The owner window answered 1.
void StopWhenAsked(bool asked) {
    if (asked) {
        throw zip::Error(zip::ErrorKind::kAborted, "stopped at the owner window's request");
    }
}

}  // namespace

std::string ProcPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

int ResultFor(const zip::Error& error) {
    switch (error.Kind()) {
        case zip::ErrorKind::kIo:
            return ARC_ERROR_CANNOT_READ;
        case zip::ErrorKind::kChanged:
            return ARC_ERROR_CANNOT_READ;
        case zip::ErrorKind::kArchive:
            return ARC_ERROR_BROKEN_ARCHIVE;
        case zip::ErrorKind::kMember:
            return ARC_ERROR_CRC;
        case zip::ErrorKind::kAborted:
            return ARC_ERROR_ABORTED;
        case zip::ErrorKind::kTooLarge:
            return ARC_ERROR_TOO_LARGE;
    }
    return ARC_ERROR_INTERNAL;
}

int RunUnzipLine(std::string_view line, Context& context) {
    return exports::Guarded(
        context,
        [&] {
            const Request request = ParseUnzipLine(line, false);
            return request.command == Command::kList ? List(request, context)
                                                     : Extract(request, context);
        },
        DescribeZipError);
}

int RunZipLine(std::string_view line, Context& context) {
    return exports::Guarded(
        context,
        [&] {
            const Request request = ParseZipLine(line);
            return request.command == Command::kAdjust ? Adjust(request, context)
                                                       : Pack(request, context);
        },
        DescribeZipError);
}

ProgressMeter::ProgressMeter(const common::ProgressReporter& reporter, const std::string& source,
                             const std::string& destination, std::uint64_t size, std::int64_t mtime)
    : progress_(reporter, source, destination, size, mtime) {
    StopWhenAsked(progress_.Begin());
}

zip::ProgressFn ProgressMeter::Callback() {
    return [this](std::uint64_t done, std::uint64_t) {
        StopWhenAsked(progress_.Reach(done));
        return true;
    };
}

void ProgressMeter::Finish() {
    StopWhenAsked(progress_.End());
}

}  // namespace zembrat::zip32
