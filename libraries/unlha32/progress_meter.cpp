#include "unlha32/progress_meter.h"

#include <algorithm>

namespace zembrat::unlha32 {

ProgressMeter::ProgressMeter(const common::ProgressReporter& reporter,
                             const EXTRACTINGINFOEX& record)
    : reporter_(reporter), record_(record) {
    if (reporter_.Active() && reporter_.Send(ARC_PROGRESS_BEGIN, record_)) {
        throw lha::Aborted();
    }
}

void ProgressMeter::Reach(std::uint64_t done) {
    done_ = done;
    reported_ = std::min(reported_, done_);
    if (!reporter_.Active() || done_ - reported_ < common::kProgressStep) {
        return;
    }
    reported_ = done_;
    record_.write_size = static_cast<std::uint32_t>(std::min<std::uint64_t>(done_, 0xFFFFFFFFu));
    if (reporter_.Send(ARC_PROGRESS_UPDATE, record_)) {
        throw lha::Aborted();
    }
}

void ProgressMeter::Finish() {
    if (!reporter_.Active()) {
        return;
    }
    record_.write_size = static_cast<std::uint32_t>(std::min<std::uint64_t>(done_, 0xFFFFFFFFu));
    if (reporter_.Send(ARC_PROGRESS_END, record_)) {
        throw lha::Aborted();
    }
}

}  // namespace zembrat::unlha32
