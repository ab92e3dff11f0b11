// Progress reports to the owner window: the registered "wm_arcextract" message, sent
// synchronously through the platform layer with an EXTRACTINGINFOEX record. The answer 1
// asks the library to stop.
#pragma once

#include <cstdint>

#include "archiver_api.h"

namespace zembrat::common {

class ProgressReporter {
  public:
    ProgressReporter() = default;
    ProgressReporter(ARC_HWND window, ARC_PROGRESS_PROC procedure);

    bool Active() const { return window_ != 0 || procedure_ != nullptr; }

    // Sends one report; true when the owner asks to stop.
    bool Send(unsigned state, const EXTRACTINGINFOEX& record) const;

  private:
    ARC_HWND window_ = 0;
    ARC_PROGRESS_PROC procedure_ = nullptr;
    unsigned message_ = 0;
};

// Bytes between two UPDATE reports of one member.
inline constexpr std::uint64_t kProgressStep = 64 * 1024;

}  // namespace zembrat::common
