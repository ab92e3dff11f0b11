#include "archive_host/engine_calls.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/engine.h"

namespace zembrat::archive_host {
namespace {

enum class Kind { kArchive, kMember, kAborted };
using Error = common::KindedError<Kind>;

Kind KindThrown(const std::function<void()>& work) {
    try {
        work();
    } catch (const Error& error) {
        return error.Kind();
    }
    ADD_FAILURE() << "nothing thrown";
    return Kind::kArchive;
}

TEST(EngineCallsTest, HelperFailuresBecomeTheEnginesKinds) {
    EXPECT_EQ(KindThrown([] { CallHost<Error>([] { throw MemberError("bad CRC"); }); }),
              Kind::kMember);
    EXPECT_EQ(KindThrown([] { CallHost<Error>([] { throw HostError("gone"); }); }), Kind::kArchive);
    EXPECT_EQ(CallHost<Error>([] { return 7; }), 7);

    std::optional<std::string> current = "a.txt";
    EXPECT_EQ(TakeCurrent<Error>(current), "a.txt");
    EXPECT_FALSE(current);  // a member's data is read once
    EXPECT_EQ(KindThrown([&] { TakeCurrent<Error>(current); }), Kind::kMember);
}

TEST(EngineCallsTest, DataPastTheDeclaredSizeOrAStopEndsTheRead) {
    MemberDataCount<Error> sized(10, {});
    sized.Add(6);
    sized.Add(4);
    EXPECT_EQ(KindThrown([&] { sized.Add(1); }), Kind::kArchive);

    MemberDataCount<Error> unsized(std::nullopt, {});
    unsized.Add(1ull << 40);  // no size stated: nothing to run past

    std::uint64_t seenDone = 0, seenTotal = 0;
    MemberDataCount<Error> stopping(100, [&](std::uint64_t done, std::uint64_t total) {
        seenDone = done;
        seenTotal = total;
        return done < 50;
    });
    stopping.Add(40);
    stopping.Report();
    stopping.Add(20);
    EXPECT_EQ(KindThrown([&] { stopping.Report(); }), Kind::kAborted);
    EXPECT_EQ(seenDone, 60u);
    EXPECT_EQ(seenTotal, 100u);
}

}  // namespace
}  // namespace zembrat::archive_host
