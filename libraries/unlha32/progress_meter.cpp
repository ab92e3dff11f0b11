#include "unlha32/progress_meter.h"

namespace zembrat::unlha32 {

namespace {

void StopIfAsked(bool stop) {
    if (stop) {
        throw lha::Aborted();
    }
}

}  // namespace

ProgressMeter::ProgressMeter(const common::ProgressReporter& reporter,
                             const EXTRACTINGINFOEX& record)
    : progress_(reporter, record) {
    StopIfAsked(progress_.Begin());
}

void ProgressMeter::Reach(std::uint64_t done) {
    StopIfAsked(progress_.Reach(done));
}

void ProgressMeter::Finish() {
    StopIfAsked(progress_.End());
}

}  // namespace zembrat::unlha32
