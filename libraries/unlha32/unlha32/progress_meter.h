// Progress of one member, reported to the owner window in steps of about 64 KiB whatever
// block sizes the codecs use: the streams below cut the data into such steps.
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
    // Records bytes done; sends ARC_PROGRESS_UPDATE every step. Throws lha::Aborted on a stop.
    void Advance(std::size_t bytes);
    // Starts counting again from done bytes (the data is being read a second time).
    void Restart(std::uint64_t done) { done_ = reported_ = done; }
    // Sends ARC_PROGRESS_END. Throws lha::Aborted on a stop.
    void Finish();

  private:
    const common::ProgressReporter& reporter_;
    EXTRACTINGINFOEX record_;
    std::uint64_t done_ = 0;
    std::uint64_t reported_ = 0;
};

// Passes writes on in pieces of at most one step, advancing the meter after each.
class MeteredOutput final : public lha::OutputStream {
  public:
    MeteredOutput(lha::OutputStream& output, ProgressMeter& meter)
        : output_(output), meter_(meter) {}
    void Write(std::span<const std::byte> data) override;

  private:
    lha::OutputStream& output_;
    ProgressMeter& meter_;
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
