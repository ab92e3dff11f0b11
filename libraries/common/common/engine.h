// What the archive engines say alike: an error of the engine's own kinds, the progress
// callback, and an extraction run's events, summary and per-member decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "common/failure.h"
#include "common/safe_path.h"

namespace zembrat::common {

// An engine's error: a reason and one of the engine's own kinds (each engine has its enum).
template <typename KindEnum>
class KindedError : public std::runtime_error {
  public:
    using KindType = KindEnum;

    KindedError(KindType kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
    KindType Kind() const { return kind_; }

  private:
    KindType kind_;
};

// Called with the bytes done so far of the current member; answering false stops the work.
using EngineProgressFn = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// How many members an archive had, and how many were selected.
struct ExtractSummary {
    std::size_t seen = 0;
    std::size_t selected = 0;
};

// What every engine's extraction is asked.
template <typename Member>
struct ExtractOptionsOf {
    std::string folder = "./";
    bool testOnly = false;                      // decode everything, write nothing
    bool overwrite = false;                     // replace existing files
    bool useFolders = true;                     // false: every file straight into the folder
    std::function<bool(const Member&)> select;  // empty: every member
};

// What an extraction run tells about each member.
template <typename Member, typename Problem>
class ExtractEvents {
  public:
    virtual ~ExtractEvents() = default;
    virtual void Done(const Member& member) = 0;
    virtual void Failed(Problem problem, const Member& member, const std::string& reason) = 0;
    // The progress of one member's data, written to destination.
    virtual EngineProgressFn Progress(const Member&, const std::string& /*destination*/) {
        return {};
    }
};

// What creating an archive tells about each name it was given.
class CreateEvents {
  public:
    virtual ~CreateEvents() = default;
    virtual void Added(const std::string& memberName) = 0;
    // A name that could not be read or stored; the archive is made without it.
    virtual void Failed(const std::string& name, const std::string& reason) = 0;
};

// Every member the reader gives, in order.
template <typename Reader>
auto AllMembers(Reader& reader) {
    std::vector<typename decltype(reader.Next())::value_type> members;
    while (auto member = reader.Next()) {
        members.push_back(std::move(*member));
    }
    return members;
}

// Hands each member that select takes (every member when select is empty) to each, counting
// what was seen and what was selected.
template <typename Reader, typename Select, typename Each>
ExtractSummary ForEachSelected(Reader& reader, const Select& select, Each&& each) {
    ExtractSummary summary;
    while (auto member = reader.Next()) {
        ++summary.seen;
        if (select && !select(*member)) {
            continue;
        }
        ++summary.selected;
        each(*member);
    }
    return summary;
}

// Runs decode, which brings one member's data to its destination; false, reported, when that
// member alone fails: its data is bad (an Error of kind kMember) or the file system refused a
// write (std::system_error). Anything else, the archive lost or a stop asked for, passes on.
template <typename Error, typename Member, typename Problem, typename Decode>
bool DecodeOrReport(ExtractEvents<Member, Problem>& events, const Member& member, Decode&& decode) {
    try {
        std::forward<Decode>(decode)();
    } catch (const Error& error) {
        if (error.Kind() != Error::KindType::kMember) {
            throw;
        }
        events.Failed(Problem::kDamaged, member, error.what());
        return false;
    } catch (const std::system_error& error) {
        events.Failed(Problem::kCannotWrite, member, error.what());
        return false;
    } catch (const Failure& failure) {
        // The member writer's: a full disk ends this member only.
        events.Failed(Problem::kCannotWrite, member, failure.what());
        return false;
    }
    return true;
}

// Reports a member whose path the target could not prepare: refused when the path would lead
// outside the destination, else not writable.
template <typename Member, typename Problem>
void ReportUnprepared(ExtractEvents<Member, Problem>& events, const Member& member,
                      const ExtractionTarget& target, const std::string& reason) {
    if (target.LastFailureWasUnsafe()) {
        events.Failed(Problem::kUnsafe, member, "refused (" + reason + ")");
    } else {
        events.Failed(Problem::kCannotWrite, member, reason);
    }
}

}  // namespace zembrat::common
