// Where zembrat-cli writes: results on standard output (not with -q), errors on standard
// error (always), the progress bar taken off the screen before either.
#pragma once

#include <cstdio>
#include <string_view>

#include "progress_bar.h"

namespace zembrat::cli {

class Console {
  public:
    Console(ProgressBar& bar, bool quiet) : bar_(bar), quiet_(quiet) {}

    // Results and notes; nothing with -q.
    void Out(std::string_view text);
    // Failures and the cancelled message; also with -q.
    void Error(std::string_view text);

    ProgressBar& Bar() { return bar_; }
    bool Quiet() const { return quiet_; }

  private:
    void Write(std::FILE* stream, std::string_view text);

    ProgressBar& bar_;
    bool quiet_;
};

}  // namespace zembrat::cli
