#include "common/member_progress.h"

#include <algorithm>

#include "common/output_text.h"
#include "common/record_fields.h"
#include "platform/file_time.h"

namespace zembrat::common {

void LocalDosTime(std::int64_t unixSeconds, std::uint16_t& date, std::uint16_t& time) {
    platform::FileTimeToDosDateTime(
        platform::FileTimeToLocalFileTime(platform::FileTimeFromUnix(unixSeconds)), date, time);
}

MemberProgress::MemberProgress(const ProgressReporter& reporter, std::string_view source,
                               std::string_view destination, std::uint64_t size, std::int64_t mtime,
                               std::string_view method)
    : reporter_(reporter) {
    record_.file_size = Clamp32(size);
    CopyToField(record_.source_file_name, sizeof record_.source_file_name, source);
    CopyToField(record_.dest_file_name, sizeof record_.dest_file_name, destination);
    CopyToField(record_.method, sizeof record_.method, method);
    LocalDosTime(mtime, record_.dos_date, record_.dos_time);
}

bool MemberProgress::Begin() {
    return Send(ARC_PROGRESS_BEGIN);
}

bool MemberProgress::Reach(std::uint64_t done) {
    done_ = done;
    reported_ = std::min(reported_, done_);
    if (done_ - reported_ < kProgressStep) {
        return false;
    }
    reported_ = done_;
    return Send(ARC_PROGRESS_UPDATE);
}

bool MemberProgress::End() {
    return Send(ARC_PROGRESS_END);
}

bool MemberProgress::Send(unsigned state) {
    if (!reporter_.Active()) {
        return false;
    }
    record_.write_size = Clamp32(done_);
    return reporter_.Send(state, record_);
}

}  // namespace zembrat::common
