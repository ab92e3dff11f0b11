// Progress of one member, reported to the owner window in steps of about 64 KiB whatever
// block sizes the codecs use, always on the thread that called the library: the LHA reader
// and writer call Callback() that often, on that thread.
#pragma once

#include <cstdint>

#include "archiver_api.h"
#include "common/member_progress.h"
#include "lha/archive.h"

namespace zembrat::unlha32 {

class ProgressMeter {
  public:
    // Sends ARC_PROGRESS_BEGIN (when the reporter is active); throws lha::Aborted on a stop.
    ProgressMeter(const common::ProgressReporter& reporter, const EXTRACTINGINFOEX& record);
    // Records that done bytes are through (fewer than before when the data is read a second
    // time); sends ARC_PROGRESS_UPDATE every step. Throws lha::Aborted on a stop.
    void Reach(std::uint64_t done);
    // Reach() as the LHA reader's and writer's progress callback.
    lha::ProgressFn Callback() {
        return [this](std::uint64_t done, std::uint64_t) {
            Reach(done);
            return true;
        };
    }
    // Sends ARC_PROGRESS_END. Throws lha::Aborted on a stop.
    void Finish();

  private:
    common::MemberProgress progress_;
};

}  // namespace zembrat::unlha32
