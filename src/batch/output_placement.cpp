#include "batch/output_placement.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "batch/batch_messages.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/system_folders.h"

namespace zembrat::batch {

namespace fs = std::filesystem;

std::string OutputFolderProblem(const std::string& folder) {
    if (folder.find_first_of("\"\r\n") != std::string::npos) {
        return text::kUnquotableFolder + folder;
    }
    const std::string shown = platform::ExcludeTrailingDelimiter(folder);
    struct stat info {};
    if (::stat(shown.c_str(), &info) != 0) {
        return (errno == ENOENT || errno == ENOTDIR ? text::kNoOutputFolder
                                                    : text::kCannotWriteFolder) +
               shown + (errno == ENOENT ? "" : std::string(": ") + std::strerror(errno));
    }
    if (!S_ISDIR(info.st_mode)) {
        return text::kNotAFolder + shown;
    }
    if (::access(shown.c_str(), W_OK | X_OK) != 0) {
        return text::kCannotWriteFolder + shown + ": " + std::strerror(errno);
    }
    return std::string();
}

const ScratchFolder& RunFolders::Temporary() {
    if (!temporary_) {
        temporary_.emplace(platform::GetTempPath(), "zembrat-");
    }
    return *temporary_;
}

const ScratchFolder& RunFolders::Staging() {
    if (!staging_) {
        staging_.emplace(outputFolder_, ".zembrat-");
    }
    return *staging_;
}

Placement PlaceOutput(const std::string& made, const std::string& final, bool overwrite,
                      std::string& error) {
    if (!overwrite) {
        if (platform::RenameFile(made, final)) {
            return Placement::kPlaced;
        }
        if (errno == EEXIST) {
            return Placement::kAppearedMeanwhile;
        }
    } else {
        // The replaced file's permissions carry over, except that a program stays runnable
        // where it was made so (a self-extracting archive replacing a plain file), and no
        // set-id bit passes to a file it was not set on.
        struct stat old {};
        struct stat now {};
        if (::stat(final.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
            ::stat(made.c_str(), &now) == 0) {
            ::chmod(made.c_str(), (old.st_mode & 0777) | (now.st_mode & 0111));
        }
        if (std::rename(made.c_str(), final.c_str()) == 0) {
            return Placement::kPlaced;
        }
    }
    error = std::strerror(errno);
    return Placement::kFailed;
}

std::optional<std::string> FindIgnoringCase(const std::string& folder, std::string_view name) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string found = entry.path().filename().string();
        if (platform::EqualsIgnoringAsciiCase(found, name, platform::SystemCodePage()) &&
            platform::FileExists(entry.path().string())) {
            return entry.path().string();
        }
    }
    return std::nullopt;
}

std::string StagedName(std::string_view finalName) {
    std::string name(finalName);
    std::replace(name.begin(), name.end(), '"', '_');
    return name;
}

}  // namespace zembrat::batch
