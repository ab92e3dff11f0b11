// Registered window messages and hidden windows. The registry lives in the platform shared
// library, which the programs and every archiver library link, so a library and the
// component that loaded it see the same message ids and windows. Messages are delivered
// synchronously on the caller's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace zembrat::platform {

using WindowHandle = std::uintptr_t;  // 0 = none
using MessageId = unsigned;
using WindowProcedure =
    std::function<std::intptr_t(MessageId message, std::uintptr_t wParam, std::intptr_t lParam)>;

// The same name (ASCII case ignored) always gives the same id, in 0xC000..0xFFFF; 0 for an
// empty name or when the range is used up.
MessageId RegisterWindowMessage(std::string_view name);
bool IsWindowMessageRegistered(std::string_view name);

// A window without anything to show: a handle and a procedure that receives messages.
class HiddenWindow {
  public:
    explicit HiddenWindow(WindowProcedure procedure);
    ~HiddenWindow();
    HiddenWindow(const HiddenWindow&) = delete;
    HiddenWindow& operator=(const HiddenWindow&) = delete;

    WindowHandle Handle() const { return handle_; }

  private:
    WindowHandle handle_;
};

// How many hidden windows exist in the process.
std::size_t HiddenWindowCount();

// Calls the window's procedure and returns its answer; 0 when no such window exists.
std::intptr_t SendMessage(WindowHandle window, MessageId message, std::uintptr_t wParam,
                          std::intptr_t lParam);
// What a window procedure answers for a message it does not handle.
std::intptr_t DefWindowProc(WindowHandle window, MessageId message, std::uintptr_t wParam,
                            std::intptr_t lParam);

// The owner window (and progress procedure, as an opaque address) that a family of archiver
// libraries reports progress to. The libraries of one family are separate shared objects
// (the ZIP family unpacks in one and packs in another) and the component gives the owner to
// one of them; the others find it here, since they all link this library.
struct ProgressOwner {
    WindowHandle window = 0;
    void* procedure = nullptr;
};
void SetProgressOwner(std::string_view family, ProgressOwner owner);
// Clears the family's owner when it is that window; false when it is not.
bool ClearProgressOwner(std::string_view family, WindowHandle window);
// The family's owner; window 0 and no procedure when there is none.
ProgressOwner GetProgressOwner(std::string_view family);

}  // namespace zembrat::platform
