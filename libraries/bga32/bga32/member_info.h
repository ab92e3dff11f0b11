// What the listing and the progress reports say about a member.
#pragma once

#include <cstdint>
#include <string>

#include "archiver_api.h"
#include "bga/reader.h"
#include "common/progress.h"
#include "common/record_fields.h"

namespace zembrat::bga32 {

// "GZIP", "BZ2" or "STORE"; the folder attribute as text.
std::string MethodText(const bga::MemberHeader& header);
std::string AttributeText(std::uint8_t attributes);
// The CRC-32 a gzip member carries in its trailer; 0 for other members.
std::uint32_t StoredCrc(int fd, const bga::Member& member);
// Unix time of the member's DOS time stamp (local time).
std::int64_t UnixTime(const bga::MemberHeader& header);

// Progress of one member in steps of about 64 KiB; throws Failure(ARC_ERROR_ABORTED) when
// the owner window answers 1.
class ProgressMeter {
  public:
    ProgressMeter(const common::ProgressReporter& reporter, const bga::MemberHeader& header,
                  const std::string& source, const std::string& destination);
    void Reach(std::uint64_t done);
    void Finish();

  private:
    void Send(unsigned state);

    const common::ProgressReporter& reporter_;
    EXTRACTINGINFOEX record_{};
    std::uint64_t done_ = 0;
    std::uint64_t reported_ = 0;
};

}  // namespace zembrat::bga32
