// What the LHA and ARJ extractors share, since both engines decode through the LHA streams
// and errors: the run over an archive's members that the owner's stop or a damaged archive
// ends, a member's data written to a new file that takes its name only when complete, and the
// test of a member.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/folder_times.h"
#include "common/safe_path.h"
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
    bool replace = false;  // an existing file (also one that appears meanwhile) is replaced
};

// What an extraction keeps over an archive's members: the destination, the umask, the
// problems met and the times of the folders it made (set at the end, when nothing more is
// written into them).
class MemberExtraction {
  protected:
    MemberExtraction(const std::string& folder, exports::Context& context, bool keepFolders);

    // Makes the destination folder, then runs extractMembers, which answers whether any member
    // was selected, and applies the folder times however it ends: the owner's stop and a
    // damaged archive end the command (common::Failure), as does a destination that cannot
    // be made. Names given that selected nothing: ARC_ERROR_NO_FILES. The result.
    int RunOverMembers(const std::function<bool()>& extractMembers, bool namesGiven);

    // The member's place below the destination by the name rules, flattened when folders are
    // not kept: nothing when the name is refused (reported) or for a folder member that has
    // no place of its own then.
    std::optional<std::string> PlaceOf(const std::string& name, common::NameRules rules,
                                       bool isDirectory);
    // A folder member made or found at path: its time and mode are set at the end (a
    // read-only folder would refuse its own members), unless it was there before and is
    // kept; then the line "extracted NAME".
    void NoteFolder(const std::string& path, const std::string& name, bool keep,
                    std::int64_t writeTimeNanoseconds, unsigned mode);
    // A file already at the member's place and no overwriting: reported as kept.
    void ReportKept(const std::string& name);

    // Makes the file from what decode writes into the stream it is given, through the
    // shared member writer: with its mode and time, under its name only when complete and
    // only over an existing file when file.replace; then the line "extracted NAME" (or the
    // kept report when a file appeared at its name meanwhile). Damaged data of this member alone,
    // or a write that fails (a full disk), is reported under its name and leaves nothing; any other
    // error propagates.
    void WriteFile(const ExtractedFile& file,
                   const std::function<void(lha::OutputStream&)>& decode);

    exports::Context& context_;
    bool keepFolders_;
    common::ExtractionTarget target_;
    unsigned umask_;
    exports::MemberProblems problems_;
    common::FolderTimes folderTimes_;
};

// t: decodes one member into nothing, then "ok NAME"; damaged data of this member alone is
// noted in outcome with the line "failed NAME: why"; any other error propagates.
void TestMember(const std::string& name, exports::Outcome& outcome, exports::Context& context,
                const std::function<void(lha::OutputStream&)>& decode);
// The end of a test: "the archive has damaged members" as the first line, or "N members
// tested, no errors". The result.
int FinishTest(const exports::Outcome& outcome, std::size_t tested, exports::Context& context);

}  // namespace zembrat::unlha32
