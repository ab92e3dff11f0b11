// What the LHA and ARJ extractors share, since both engines decode through the LHA streams
// and errors: a member's data written to a new file that takes its name only when complete,
// the run over an archive's members that the owner's stop or a damaged archive ends, and the
// test of a member.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "common/folder_times.h"
#include "export/backend.h"
#include "export/member_problems.h"
#include "lha/stream.h"

namespace zembrat::unlha32 {

// The file a member makes, as it should stand once written.
struct ExtractedFile {
    std::string path;  // where it goes (its folder exists)
    std::string name;  // the member's name, for the reports
    unsigned mode = 0644;
    std::int64_t writeTimeNanoseconds = 0;
};

// Makes the file from what decode writes into the stream it is given, through a temporary
// file beside it: with its mode and time, under its name only when complete; then the line
// "extracted NAME". Damaged data of this member alone, or a write that fails (a full disk),
// is reported under its name and leaves nothing; any other error propagates.
void WriteExtractedFile(const ExtractedFile& file, exports::MemberProblems& problems,
                        exports::Context& context,
                        const std::function<void(lha::OutputStream&)>& decode);

// Runs extractMembers, which answers whether any member was selected, and applies the folder
// times however it ends: the owner's stop and a damaged archive end the command
// (common::Failure). Names given that selected nothing: ARC_ERROR_NO_FILES. The result.
int RunExtraction(const std::function<bool()>& extractMembers, bool namesGiven,
                  common::FolderTimes& folderTimes, exports::MemberProblems& problems,
                  exports::Context& context);

// t: decodes one member into nothing, then "ok NAME"; damaged data of this member alone is
// noted in outcome with the line "failed NAME: why"; any other error propagates.
void TestMember(const std::string& name, exports::Outcome& outcome, exports::Context& context,
                const std::function<void(lha::OutputStream&)>& decode);
// The end of a test: "the archive has damaged members" as the first line, or "N members
// tested, no errors". The result.
int FinishTest(const exports::Outcome& outcome, std::size_t tested, exports::Context& context);

}  // namespace zembrat::unlha32
