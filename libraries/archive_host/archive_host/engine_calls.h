// What the engines reading through the helper do alike around its calls: its failures turned
// into the engine's own errors, the current member taken for reading, and its data counted
// against the declared size and reported as progress. Error is the engine's error type, with
// kinds kMember, kArchive and kAborted.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include "archive_host/client.h"

namespace zembrat::archive_host {

// Runs call into the helper: a failure of the current member alone becomes Error(kMember),
// any other failure of the helper Error(kArchive).
template <typename Error, typename Call>
decltype(auto) CallHost(Call&& call) {
    try {
        return std::forward<Call>(call)();
    } catch (const MemberError& error) {
        throw Error(Error::KindType::kMember, error.what());
    } catch (const HostError& error) {
        throw Error(Error::KindType::kArchive, error.what());
    }
}

// The member Next() last gave, taken: its data can be asked for once. Throws Error(kMember)
// when there is none.
template <typename Error, typename Member>
Member TakeCurrent(std::optional<Member>& current) {
    if (!current) {
        throw Error(Error::KindType::kMember, "no member to extract");
    }
    Member member = std::move(*current);
    current.reset();
    return member;
}

// Counts what arrives of one member's data, holes as much as data.
template <typename Error>
class MemberDataCount {
  public:
    using ProgressFn = std::function<bool(std::uint64_t done, std::uint64_t total)>;

    // declared: the member's stated size, when it has one.
    MemberDataCount(std::optional<std::uint64_t> declared, ProgressFn progress)
        : declared_(declared), progress_(std::move(progress)) {}

    // Throws Error(kArchive) when the data runs past the declared size.
    void Add(std::uint64_t size) {
        done_ += size;
        if (declared_ && done_ > *declared_) {
            throw Error(Error::KindType::kArchive, "member data runs past its declared size");
        }
    }

    // Throws Error(kAborted) when the progress callback asks to stop.
    void Report() const {
        if (progress_ && !progress_(done_, declared_.value_or(0))) {
            throw Error(Error::KindType::kAborted, "stopped");
        }
    }

  private:
    std::optional<std::uint64_t> declared_;
    ProgressFn progress_;
    std::uint64_t done_ = 0;
};

}  // namespace zembrat::archive_host
