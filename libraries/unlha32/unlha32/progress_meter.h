// Progress of one member, reported to the owner window in steps of about 64 KiB whatever
// block sizes the codecs use, always on the thread that called the library: packing reads
// through MeteredInput in such steps; extraction reports from the reader's progress callback.
#pragma once

#include <cstdint>
#include <span>

#include "archiver_api.h"
#include "common/progress.h"
#include "lha/archive.h"
#include "lha/stream.h"

namespace zembrat::unlha32 {

class ProgressMeter {
  public:
    // Sends ARC_PROGRESS_BEGIN (when the reporter is active); throws lha::Aborted on a stop.
    ProgressMeter(const common::ProgressReporter& reporter, const EXTRACTINGINFOEX& record);
    // Records that done bytes are through (fewer than before when the data is read a second
    // time); sends ARC_PROGRESS_UPDATE every step. Throws lha::Aborted on a stop.
    void Reach(std::uint64_t done);
    // Sends ARC_PROGRESS_END. Throws lha::Aborted on a stop.
    void Finish();

  private:
    const common::ProgressReporter& reporter_;
    EXTRACTINGINFOEX record_;
    std::uint64_t done_ = 0;
    std::uint64_t reported_ = 0;
};

// Reads at most one step at a time, advancing the meter after each read. Seekable, so that
// the writer reads a file again for the stored fallback instead of keeping a copy of it; the
// meter follows the position back.
class MeteredInput final : public lha::SeekableInput {
  public:
    MeteredInput(lha::SeekableInput& input, ProgressMeter& meter) : input_(input), meter_(meter) {}
    std::size_t Read(std::span<std::byte> buffer) override;
    void Seek(std::uint64_t offset) override;
    std::uint64_t Tell() const override { return input_.Tell(); }
    std::uint64_t Size() const override { return input_.Size(); }

  private:
    lha::SeekableInput& input_;
    ProgressMeter& meter_;
};

}  // namespace zembrat::unlha32
