#include "common/progress.h"

#include "platform/messages.h"

namespace zembrat::common {

ProgressReporter::ProgressReporter(ARC_HWND window, ARC_PROGRESS_PROC procedure)
    : window_(window),
      procedure_(procedure),
      message_(platform::RegisterWindowMessage(ARC_EXTRACT_MESSAGE_NAME)) {}

bool ProgressReporter::Send(unsigned state, const EXTRACTINGINFOEX& record) const {
    // The record is handed over as a pointer to a copy, so that a receiver writing into it
    // cannot disturb the library's own bookkeeping.
    EXTRACTINGINFOEX copy = record;
    bool stop = false;
    if (procedure_) {
        stop = procedure_(window_, message_, state, &copy) == 1;
    }
    if (window_ != 0 && !stop) {
        stop = platform::SendMessage(window_, message_, state,
                                     reinterpret_cast<std::intptr_t>(&copy)) == 1;
    }
    return stop;
}

}  // namespace zembrat::common
