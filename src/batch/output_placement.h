// Where the run's outputs are made and how they take their final names: the run's own
// folders, the check of the output folder before the first file, and the one-step rename
// that never replaces what it must not.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "batch/scratch_folder.h"

namespace zembrat::batch {

// Why no output can be placed in the folder (with its trailing delimiter): it holds a
// character no command line carries, does not exist, is no folder or cannot be written.
// Empty when it can take outputs.
std::string OutputFolderProblem(const std::string& folder);

// The run's own folders, made when first needed and removed with everything left in them
// when the run ends: a private temporary folder for the self-extracting kind's archives,
// and a staging folder inside the output folder where every output is made before it
// takes its final name (a rename within one file system).
class RunFolders {
  public:
    explicit RunFolders(std::string outputFolder) : outputFolder_(std::move(outputFolder)) {}

    const ScratchFolder& Temporary();
    const ScratchFolder& Staging();

  private:
    std::string outputFolder_;
    std::optional<ScratchFolder> temporary_;
    std::optional<ScratchFolder> staging_;
};

enum class Placement { kPlaced, kAppearedMeanwhile, kFailed };

// Gives a finished output its final name in one step. Without overwrite nothing that exists
// there is replaced, also a file another run made meanwhile; with it, the replaced file's
// permissions carry over (a read-only archive stays read-only). error says why it failed.
Placement PlaceOutput(const std::string& made, const std::string& final, bool overwrite,
                      std::string& error);

// The file of the folder whose name is the given one in any letter case.
std::optional<std::string> FindIgnoringCase(const std::string& folder, std::string_view name);

// The name under which an output is made in the staging folder: its own, or, when that holds
// a double quote (which no command line carries), the same with each quote replaced; the
// staging folder holds one output at a time, so nothing else can have that name.
std::string StagedName(std::string_view finalName);

}  // namespace zembrat::batch
