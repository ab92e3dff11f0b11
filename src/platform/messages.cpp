#include "platform/messages.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace zembrat::platform {

namespace {

constexpr MessageId kFirstRegisteredMessage = 0xC000;
constexpr MessageId kLastRegisteredMessage = 0xFFFF;

struct Registry {
    std::mutex mutex;
    std::map<std::string, MessageId> messages;  // keyed by the upper-case name
    MessageId nextMessage = kFirstRegisteredMessage;
    // Shared so that a procedure being called survives its window's destruction.
    std::map<WindowHandle, std::shared_ptr<const WindowProcedure>> windows;
    WindowHandle nextWindow = 1;
};

// One registry per process: it lives in this shared library, which everything links.
Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

std::string MessageKey(std::string_view name) {
    std::string key(name);
    for (char& c : key) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return key;
}

}  // namespace

MessageId RegisterWindowMessage(std::string_view name) {
    if (name.empty()) {
        return 0;
    }
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    std::string key = MessageKey(name);
    if (const auto found = registry.messages.find(key); found != registry.messages.end()) {
        return found->second;
    }
    if (registry.nextMessage > kLastRegisteredMessage) {
        return 0;
    }
    const MessageId id = registry.nextMessage++;
    registry.messages.emplace(std::move(key), id);
    return id;
}

bool IsWindowMessageRegistered(std::string_view name) {
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    return registry.messages.contains(MessageKey(name));
}

HiddenWindow::HiddenWindow(WindowProcedure procedure) {
    auto shared = std::make_shared<const WindowProcedure>(std::move(procedure));
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    handle_ = registry.nextWindow++;
    registry.windows.emplace(handle_, std::move(shared));
}

HiddenWindow::~HiddenWindow() {
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    registry.windows.erase(handle_);
}

std::size_t HiddenWindowCount() {
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    return registry.windows.size();
}

std::intptr_t SendMessage(WindowHandle window, MessageId message, std::uintptr_t wParam,
                          std::intptr_t lParam) {
    std::shared_ptr<const WindowProcedure> procedure;
    {
        Registry& registry = TheRegistry();
        const std::lock_guard lock(registry.mutex);
        const auto found = registry.windows.find(window);
        if (found == registry.windows.end()) {
            return 0;
        }
        procedure = found->second;
    }
    // Called without the lock, so that the procedure may send messages or open windows.
    if (!*procedure) {
        return DefWindowProc(window, message, wParam, lParam);
    }
    return (*procedure)(message, wParam, lParam);
}

std::intptr_t DefWindowProc(WindowHandle, MessageId, std::uintptr_t, std::intptr_t) {
    return 0;
}

namespace {

struct ProgressOwners {
    std::mutex mutex;
    std::map<std::string, ProgressOwner, std::less<>> owners;
};

ProgressOwners& Owners() {
    static ProgressOwners owners;
    return owners;
}

}  // namespace

void SetProgressOwner(std::string_view family, ProgressOwner owner) {
    ProgressOwners& owners = Owners();
    std::lock_guard lock(owners.mutex);
    owners.owners[std::string(family)] = owner;
}

bool ClearProgressOwner(std::string_view family, WindowHandle window) {
    ProgressOwners& owners = Owners();
    std::lock_guard lock(owners.mutex);
    const auto found = owners.owners.find(family);
    if (found == owners.owners.end() || found->second.window != window) {
        return false;
    }
    owners.owners.erase(found);
    return true;
}

ProgressOwner GetProgressOwner(std::string_view family) {
    ProgressOwners& owners = Owners();
    std::lock_guard lock(owners.mutex);
    const auto found = owners.owners.find(family);
    return found == owners.owners.end() ? ProgressOwner{} : found->second;
}

}  // namespace zembrat::platform
