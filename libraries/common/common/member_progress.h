// Progress of one member to the owner window, the same for every library: BEGIN, UPDATE about
// every kProgressStep bytes whatever block sizes the codec uses, END, each with an
// EXTRACTINGINFOEX record. Every call says whether the owner asked to stop; the library turns
// that into its own way of stopping.
#pragma once

#include <cstdint>
#include <string_view>

#include "archiver_api.h"
#include "common/progress.h"

namespace zembrat::common {

// A time in seconds since 1970 UTC as the DOS date and time fields of a record (local time).
void LocalDosTime(std::int64_t unixSeconds, std::uint16_t& date, std::uint16_t& time);

class MemberProgress {
  public:
    // source: the member's name; destination: where it goes; mtime: seconds since 1970 UTC;
    // method: as the listing names it, or empty.
    MemberProgress(const ProgressReporter& reporter, std::string_view source,
                   std::string_view destination, std::uint64_t size, std::int64_t mtime,
                   std::string_view method = {});
    // A record the library filled itself (sizes, CRC, attributes, ...).
    MemberProgress(const ProgressReporter& reporter, const EXTRACTINGINFOEX& record)
        : reporter_(reporter), record_(record) {}

    // Each: true when the owner asked to stop. Nothing is sent while the reporter is inactive.
    [[nodiscard]] bool Begin();
    // done bytes are through (fewer than before when the data is read a second time).
    [[nodiscard]] bool Reach(std::uint64_t done);
    [[nodiscard]] bool End();

  private:
    bool Send(unsigned state);

    const ProgressReporter& reporter_;
    EXTRACTINGINFOEX record_{};
    std::uint64_t done_ = 0;
    std::uint64_t reported_ = 0;
};

}  // namespace zembrat::common
