#include "platform/system_folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/file_system.h"
#include "platform/path.h"

namespace zembrat::platform {

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

std::string ProgramFileName() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return std::string();
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string GetTempPath() {
    const char* folder = std::getenv("TMPDIR");
    if (folder == nullptr || *folder == '\0') {
        folder = "/tmp";
    }
    return IncludeTrailingDelimiter(folder, PathSyntax::Host());
}

std::string ProgramFolder() {
    return ExtractFilePath(ProgramFileName(), PathSyntax::Host());
}

std::optional<std::string> SearchPath(std::string_view fileName) {
    if (fileName.empty()) {
        return std::nullopt;
    }
    const PathSyntax syntax = PathSyntax::Host();
    if (fileName.find('/') != std::string_view::npos) {
        // A name with a folder is looked for there only.
        const std::string path = ExpandFileName(fileName);
        return IsRegularFile(path) ? std::optional<std::string>(path) : std::nullopt;
    }
    const std::string program = ProgramFolder();
    std::vector<std::string> folders;
    if (!program.empty()) {
        folders.push_back(program);
        folders.push_back(program + "../lib/zembrat/");
    }
    folders.push_back(GetCurrentDirectory());
    if (const char* pathVariable = std::getenv("PATH")) {
        std::string_view entries(pathVariable);
        while (!entries.empty()) {
            const std::size_t colon = entries.find(':');
            const std::string_view entry = entries.substr(0, colon);
            // An empty entry is the current folder, which is already on the list.
            if (!entry.empty()) {
                folders.emplace_back(entry);
            }
            if (colon == std::string_view::npos) {
                break;
            }
            entries.remove_prefix(colon + 1);
        }
    }
    for (const std::string& folder : folders) {
        if (folder.empty()) {
            continue;
        }
        const std::string candidate = ExpandFileName(JoinPath(folder, fileName, syntax));
        if (IsRegularFile(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

}  // namespace zembrat::platform
