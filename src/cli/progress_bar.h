// The progress bar on a terminal: the file count of the batch and the bytes of the current
// file, redrawn in place on standard error from the library's progress messages.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "archiver_api.h"
#include "batch/batch_run.h"

namespace zembrat::cli {

// One line of the bar, at most width columns: "[2/5] [#####.....]  50% 1.0 MiB/2.0 MiB name".
std::string FormatProgressLine(int fileNumber, int fileCount, std::string_view name,
                               std::uint64_t done, std::uint64_t size, std::size_t width);

// Also the batch run's progress view: the run's count sets the total, every step moves on
// to the next file. When disabled (quiet, or standard error is no terminal) it draws
// nothing at all.
class ProgressBar : public batch::ProgressView {
  public:
    ProgressBar(std::FILE* stream, bool enabled);
    ~ProgressBar() override;
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // The view the batch run drives.
    void ProgressInitialize(int count) override;
    void Show() override {}
    void SetLabel(const std::string&) override {}
    void StepIt() override;
    void Close() override { Clear(); }

    // A progress message of the library (state ARC_PROGRESS_*; record may be null).
    void Report(int state, const EXTRACTINGINFOEX* record);
    // Takes the bar off the screen, so that other text can be written; the next report
    // draws it again.
    void Clear();

    bool Enabled() const { return enabled_; }

  private:
    using Clock = std::chrono::steady_clock;
    void Draw();

    std::FILE* stream_;
    bool enabled_;
    bool shown_ = false;
    int fileCount_ = 0;
    int filesDone_ = 0;
    std::string name_;
    std::uint64_t done_ = 0;
    std::uint64_t size_ = 0;
    std::string lastLine_;
    Clock::time_point lastDraw_{};
};

// True when the stream is a terminal.
bool IsTerminal(std::FILE* stream);

}  // namespace zembrat::cli
