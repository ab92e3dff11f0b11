// Ctrl-C (and a polite kill) during a run: the handler only notes the signal; the run reads
// the note when the library next reports progress, and between files.
#pragma once

namespace zembrat::cli {

// SIGINT, SIGTERM and SIGHUP (the terminal closed) are noted instead of ending the
// program. A second one of them ends it at once, as usual.
void InstallInterruptHandlers();

// The signal noted, 0 when none.
int InterruptSignal();

}  // namespace zembrat::cli
