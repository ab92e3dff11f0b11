#include "platform/messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <thread>
#include <vector>

#include "loaded_library.h"
#include "platform/dynamic_library.h"

namespace zembrat::platform {
namespace {

struct Received {
    MessageId message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

TEST(Messages, SameNameGivesTheSameIdIgnoringCase) {
    const MessageId id = RegisterWindowMessage("zembrat_test_message");
    EXPECT_GE(id, 0xC000u);
    EXPECT_LE(id, 0xFFFFu);
    EXPECT_EQ(RegisterWindowMessage("ZEMBRAT_Test_Message"), id);
    EXPECT_NE(RegisterWindowMessage("zembrat_other_message"), id);
    EXPECT_TRUE(IsWindowMessageRegistered("Zembrat_Test_Message"));
    EXPECT_FALSE(IsWindowMessageRegistered("zembrat_never_registered"));
    EXPECT_EQ(RegisterWindowMessage(""), 0u);
}

TEST(Messages, ConcurrentRegistrationsAgree) {
    std::vector<MessageId> ids(8);
    {
        std::vector<std::jthread> threads;
        for (MessageId& id : ids) {
            threads.emplace_back([&id] { id = RegisterWindowMessage("zembrat_threaded"); });
        }
    }
    EXPECT_EQ(std::count(ids.begin(), ids.end(), ids.front()), 8);
}

TEST(Messages, HiddenWindowsReceiveWhatIsSent) {
    const std::size_t before = HiddenWindowCount();
    Received received;
    WindowHandle handle = 0;
    {
        const HiddenWindow window(
            [&](MessageId message, std::uintptr_t wParam, std::intptr_t lParam) -> std::intptr_t {
                received = {message, wParam, lParam};
                return 1;
            });
        const HiddenWindow other([](MessageId, std::uintptr_t, std::intptr_t) { return 0; });
        handle = window.Handle();
        EXPECT_NE(handle, 0u);
        EXPECT_NE(other.Handle(), handle);
        EXPECT_EQ(HiddenWindowCount(), before + 2);

        EXPECT_EQ(SendMessage(handle, 0xC123, 7, -5), 1);
        EXPECT_EQ(received.message, 0xC123u);
        EXPECT_EQ(received.wParam, 7u);
        EXPECT_EQ(received.lParam, -5);
    }
    EXPECT_EQ(HiddenWindowCount(), before);
    EXPECT_EQ(SendMessage(handle, 0xC123, 0, 0), 0);  // gone
    EXPECT_EQ(SendMessage(0, 0xC123, 0, 0), 0);
}

TEST(Messages, AProcedureMaySendAndCloseWindowsItself) {
    std::optional<HiddenWindow> inner;
    inner.emplace([](MessageId, std::uintptr_t wParam, std::intptr_t) {
        return static_cast<std::intptr_t>(wParam * 2);
    });
    std::optional<HiddenWindow> outer;
    outer.emplace([&](MessageId, std::uintptr_t wParam, std::intptr_t) {
        const std::intptr_t answer = SendMessage(inner->Handle(), 1, wParam, 0);
        // Closing the window whose procedure is running must not pull it away mid-call.
        outer.reset();
        return answer + static_cast<std::intptr_t>(wParam);
    });
    EXPECT_EQ(SendMessage(outer->Handle(), 1, 10, 0), 30);
    EXPECT_FALSE(outer.has_value());
}

TEST(Messages, ALoadedLibrarySharesTheRegistry) {
    Received received;
    const HiddenWindow window(
        [&](MessageId message, std::uintptr_t wParam, std::intptr_t lParam) -> std::intptr_t {
            received = {message, wParam, lParam};
            return 1;
        });
    const testing::LoadedLibrary probe(LoadLibrary("PROBE32.DLL"));
    ASSERT_NE(probe, nullptr);
    using SendFunction = std::intptr_t (*)(std::uintptr_t, std::uintptr_t);
    const auto send =
        reinterpret_cast<SendFunction>(GetProcAddress(probe.get(), "ProbeSendExtractMessage"));
    ASSERT_NE(send, nullptr);

    EXPECT_EQ(send(window.Handle(), 3), 1);
    EXPECT_EQ(received.message, RegisterWindowMessage("WM_ARCEXTRACT"));
    EXPECT_EQ(received.wParam, 3u);
}

}  // namespace
}  // namespace zembrat::platform
