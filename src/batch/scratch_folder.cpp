#include "batch/scratch_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/path.h"

namespace zembrat::batch {

ScratchFolder::ScratchFolder(std::string_view parent, std::string_view prefix) {
    std::string pattern = platform::IncludeTrailingDelimiter(parent);
    pattern.append(prefix);
    pattern.append("XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) {
        error_ = pattern + ": " + std::strerror(errno);
        return;
    }
    path_ = platform::IncludeTrailingDelimiter(pattern);
}

ScratchFolder::~ScratchFolder() {
    if (Valid()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

}  // namespace zembrat::batch
