#include <algorithm>
#include <exception>
#include <optional>
#include <string>

#include "archiver_api.h"
#include "common/output_text.h"
#include "common/record_fields.h"
#include "export/guarded.h"
#include "platform/file_time.h"
#include "zip32/operations.h"

namespace zembrat::zip32 {

namespace {

// The code and reason of an error of the ZIP engine.
const auto DescribeZipError = exports::DescribeEngineError<zip::Error>([](const zip::Error& error) {
    return Failure(ResultFor(error), error.Kind() == zip::ErrorKind::kAborted
                                         ? std::string("stopped at the owner window's request")
                                         : std::string(error.what()));
});

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

void LocalDosTime(std::int64_t unixSeconds, std::uint16_t& date, std::uint16_t& time) {
    platform::FileTimeToDosDateTime(
        platform::FileTimeToLocalFileTime(platform::FileTimeFromUnix(unixSeconds)), date, time);
}

ProgressMeter::ProgressMeter(const common::ProgressReporter& reporter, const std::string& source,
                             const std::string& destination, std::uint64_t size, std::int64_t mtime)
    : reporter_(reporter) {
    record_.file_size = common::Clamp32(size);
    common::CopyToField(record_.source_file_name, sizeof record_.source_file_name, source);
    common::CopyToField(record_.dest_file_name, sizeof record_.dest_file_name, destination);
    LocalDosTime(mtime, record_.dos_date, record_.dos_time);
    Send(ARC_PROGRESS_BEGIN);
}

zip::ProgressFn ProgressMeter::Callback() {
    return [this](std::uint64_t done, std::uint64_t) {
        done_ = done;
        reported_ = std::min(reported_, done_);  // the data is read a second time
        if (done_ - reported_ >= common::kProgressStep) {
            reported_ = done_;
            Send(ARC_PROGRESS_UPDATE);
        }
        return true;
    };
}

void ProgressMeter::Finish() {
    Send(ARC_PROGRESS_END);
}

void ProgressMeter::Send(unsigned state) {
    if (!reporter_.Active()) {
        return;
    }
    record_.write_size = common::Clamp32(done_);
    if (reporter_.Send(state, record_)) {
        throw zip::Error(zip::ErrorKind::kAborted, "stopped at the owner window's request");
    }
}

}  // namespace zembrat::zip32
