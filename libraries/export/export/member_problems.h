// The problems of the members of a command that goes on after them: each is noted in the
// outcome and written as a line "name: what"; the first error leads the output, warnings
// stay where they happen.
#pragma once

#include <cstddef>
#include <string>

#include "archiver_api.h"
#include "common/output_text.h"
#include "common/safe_path.h"
#include "export/backend.h"

namespace zembrat::exports {

inline constexpr const char* kNoMemberMatches = "no member matches the names given";

// An extraction's result: when names were given and none selected a member,
// ARC_ERROR_NO_FILES, said as the output's first line; else code.
inline int ExtractionResult(common::OutputText& output, std::size_t selected, bool namesGiven,
                            int code) {
    if (selected == 0 && namesGiven) {
        output.FirstLine(kNoMemberMatches);
        return ARC_ERROR_NO_FILES;
    }
    return code;
}

class MemberProblems {
  public:
    explicit MemberProblems(common::OutputText& output) : output_(output) {}

    void Report(int code, const std::string& name, const std::string& what) {
        outcome_.Note(code);
        const std::string line = common::EscapeControlCharacters(name) + ": " + what;
        if (code == ARC_WARNING_SKIPPED || firstErrorWritten_) {
            output_.Line(line);
        } else {
            output_.FirstLine(line);
            firstErrorWritten_ = true;
        }
    }

    // A path ExtractionTarget::Prepare refused: a way out of the destination, or what could
    // not be made on the way.
    void ReportRefusedPath(const common::ExtractionTarget& target, const std::string& name,
                           const std::string& reason) {
        if (target.LastFailureWasUnsafe()) {
            Report(ARC_ERROR_UNSAFE_PATH, name, "refused (" + reason + ")");
        } else {
            Report(ARC_ERROR_CANNOT_WRITE, name, reason);
        }
    }

    // Names were given and no member matched them.
    void NoneMatched() {
        outcome_.Note(ARC_ERROR_NO_FILES);
        output_.FirstLine(kNoMemberMatches);
    }

    // A result that is not a member's problem.
    void Note(int code) { outcome_.Note(code); }
    int Code() const { return outcome_.Code(); }

  private:
    common::OutputText& output_;
    Outcome outcome_;
    bool firstErrorWritten_ = false;
};

}  // namespace zembrat::exports
