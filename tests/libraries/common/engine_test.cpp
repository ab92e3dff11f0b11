#include "common/engine.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace zembrat::common {
namespace {

enum class Kind { kArchive, kMember, kAborted };
enum class Problem { kUnsafe, kDamaged, kCannotWrite };
using Error = KindedError<Kind>;

struct Member {
    std::string name;
};

class Recorder final : public ExtractEvents<Member, Problem> {
  public:
    void Done(const Member& member) override { done.push_back(member.name); }
    void Failed(Problem problem, const Member& member, const std::string& reason) override {
        failed.push_back({problem, member.name + ": " + reason});
    }
    std::vector<std::string> done;
    std::vector<std::pair<Problem, std::string>> failed;
};

// A member's own failure and a refused write end that member alone; anything else ends the run.
TEST(EngineTest, DecodeOrReportKeepsMemberFailuresToTheMember) {
    struct Case {
        std::function<void()> decode;
        bool succeeds;
        std::optional<Problem> reported;
        bool passesOn;
    };
    const std::vector<Case> cases = {
        {[] {}, true, std::nullopt, false},
        {[] { throw Error(Kind::kMember, "bad CRC"); }, false, Problem::kDamaged, false},
        {[] { throw std::system_error(ENOSPC, std::generic_category(), "cannot write"); }, false,
         Problem::kCannotWrite, false},
        {[] { throw Error(Kind::kArchive, "lost"); }, false, std::nullopt, true},
        {[] { throw Error(Kind::kAborted, "stopped"); }, false, std::nullopt, true},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        Recorder events;
        bool passedOn = false;
        bool result = false;
        try {
            result = DecodeOrReport<Error>(events, Member{"a.txt"}, cases[i].decode);
        } catch (const Error&) {
            passedOn = true;
        }
        EXPECT_EQ(passedOn, cases[i].passesOn);
        EXPECT_EQ(result, cases[i].succeeds);
        ASSERT_EQ(events.failed.size(), cases[i].reported ? 1u : 0u);
        if (cases[i].reported) {
            EXPECT_EQ(events.failed[0].first, *cases[i].reported);
        }
    }
}

TEST(EngineTest, ForEachSelectedCountsSeenAndSelected) {
    struct Reader {
        std::vector<std::string> names;
        std::size_t next = 0;
        std::optional<Member> Next() {
            return next < names.size() ? std::optional<Member>(Member{names[next++]})
                                       : std::nullopt;
        }
    };
    Reader reader{{"a.txt", "b.bin", "c.txt"}};
    std::vector<std::string> handed;
    const std::function<bool(const Member&)> textOnly = [](const Member& member) {
        return member.name.ends_with(".txt");
    };
    const ExtractSummary some = ForEachSelected(
        reader, textOnly, [&](const Member& member) { handed.push_back(member.name); });
    EXPECT_EQ(some.seen, 3u);
    EXPECT_EQ(some.selected, 2u);
    EXPECT_EQ(handed, (std::vector<std::string>{"a.txt", "c.txt"}));

    reader.next = 0;
    const ExtractSummary all =
        ForEachSelected(reader, std::function<bool(const Member&)>{}, [](const Member&) {});
    EXPECT_EQ(all.selected, 3u);
}

}  // namespace
}  // namespace zembrat::common
