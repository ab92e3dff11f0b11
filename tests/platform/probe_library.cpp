// Loaded by the platform tests at run time.
#include <cstdint>

#include "platform/messages.h"

extern "C" {

int ProbeAnswer() {
    return 42;
}

// Registers the progress message on its own and sends it to the given window, the way an
// archiver library reports to its owner.
std::intptr_t ProbeSendExtractMessage(std::uintptr_t window, std::uintptr_t wParam) {
    using namespace zembrat::platform;
    const MessageId message = RegisterWindowMessage("wm_arcextract");
    return SendMessage(window, message, wParam, 0);
}
}
