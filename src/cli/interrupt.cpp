#include "interrupt.h"

#include <csignal>
#include <initializer_list>

namespace zembrat::cli {

namespace {

volatile std::sig_atomic_t noted = 0;

extern "C" void NoteSignal(int signalNumber) {
    noted = signalNumber;
}

}  // namespace

void InstallInterruptHandlers() {
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        action.sa_handler = NoteSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART | SA_RESETHAND;  // a second signal ends the program
        ::sigaction(signalNumber, &action, nullptr);
    }
}

int InterruptSignal() {
    return noted;
}

}  // namespace zembrat::cli
