// A folder of our own for the length of a run: made with a name nobody else uses and
// removed with everything in it when the object goes.
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

  private:
    std::string path_;
    std::string error_;
};

}  // namespace zembrat::batch
