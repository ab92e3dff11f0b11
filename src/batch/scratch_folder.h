// A folder of our own for the length of a run: made with a name nobody else uses and
// removed with everything in it when the object goes. A run that is killed cannot remove
// its folders, so each folder is locked while its run lives, and making a new one first
// removes every unlocked folder of the same prefix that its owner left behind.
#pragma once

#include <string>
#include <string_view>

namespace zembrat::batch {

class ScratchFolder {
  public:
    // Makes parent + prefix + six random characters; Valid() tells whether it worked. An
    // empty parent means the current folder.
    ScratchFolder(std::string_view parent, std::string_view prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool Valid() const { return !path_.empty(); }
    // The folder with a trailing delimiter; empty when it could not be made.
    const std::string& Path() const { return path_; }
    // Why it could not be made.
    const std::string& Error() const { return error_; }

    // Removes the folders parent + prefix + six characters of ours that no living run holds.
    // Returns how many went.
    static int RemoveLeftovers(std::string_view parent, std::string_view prefix);

  private:
    std::string path_;
    std::string error_;
    int lock_ = -1;  // the folder itself, opened and locked for the life of the object
};

}  // namespace zembrat::batch
