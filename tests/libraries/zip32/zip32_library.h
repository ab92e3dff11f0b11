// The three ZIP libraries as the archive component sees them: loaded at run time by path,
// entries bound by name (the listing entries under each library's own spelling).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archiver_api.h"
#include "platform/dynamic_library.h"
#include "temp_folder.h"

namespace zembrat::zip32::testing {

using ::zembrat::testing::TempFolder;

struct Spelling {
    const char* path;
    const char* unzip;  // the unpack command entry; null when the library has none
    const char* zip;    // the pack command entry; null when the library has none
    const char* list;   // prefix of the listing entries: "UnZip" or "Unzip"
};

inline const Spelling kUnzip32{ZEMBRAT_UNZIP32_PATH, "UnZip", nullptr, "UnZip"};
inline const Spelling kZip32j{ZEMBRAT_ZIP32J_PATH, nullptr, "Zip", "UnZip"};
inline const Spelling kLmzip32{ZEMBRAT_LMZIP32_PATH, "Unzip", "Zip", "Unzip"};

class ZipLibrary {
  public:
    explicit ZipLibrary(const Spelling& spelling) : module_(platform::LoadLibrary(spelling.path)) {
        if (!module_) {
            return;
        }
        const std::string list = spelling.list;
        unzip = spelling.unzip ? Bind<ARC_COMMAND>(spelling.unzip) : nullptr;
        zip = spelling.zip ? Bind<ARC_COMMAND>(spelling.zip) : nullptr;
        openArchive = Bind<ARC_OPEN_ARCHIVE>(list + "OpenArchive");
        closeArchive = Bind<ARC_CLOSE_ARCHIVE>(list + "CloseArchive");
        findFirst = Bind<ARC_FIND_FIRST>(list + "FindFirst");
        findNext = Bind<ARC_FIND_NEXT>(list + "FindNext");
        checkArchive = Bind<ARC_CHECK_ARCHIVE>(list + "CheckArchive");
        extractMem = Bind<ARC_EXTRACT_MEM>(list + "ExtractMem");
        setOwnerWindow = Bind<ARC_SET_OWNER_WINDOW_EX>(list + "SetOwnerWindowEx");
        killOwnerWindow = Bind<ARC_KILL_OWNER_WINDOW_EX>(list + "KillOwnerWindowEx");
        getWriteTime = Bind<ARC_GET_TIME_EX>("UnzipGetWriteTimeEx");
    }
    ~ZipLibrary() { platform::FreeLibrary(module_); }
    ZipLibrary(const ZipLibrary&) = delete;
    ZipLibrary& operator=(const ZipLibrary&) = delete;

    bool Loaded() const { return module_ != nullptr && openArchive != nullptr; }

    struct Result {
        int code;
        std::string text;
    };
    static Result Run(ARC_COMMAND command, const std::string& line) {
        std::string buffer(64 * 1024, '\0');
        const int code =
            command(0, line.c_str(), buffer.data(), static_cast<std::uint32_t>(buffer.size()));
        buffer.resize(buffer.find('\0'));
        return {code, buffer};
    }
    Result Unzip(const std::string& line) const { return Run(unzip, line); }
    Result Zip(const std::string& line) const { return Run(zip, line); }

    // The member names as FindFirst / FindNext report them; empty when it cannot be opened.
    std::vector<std::string> Names(const std::string& archive, const char* mask = "*") const {
        std::vector<std::string> names;
        const HARC handle = openArchive(0, archive.c_str(), 0);
        if (handle == 0) {
            return names;
        }
        ARCHIVE_ENTRY_RECORD record{};
        for (int found = findFirst(handle, mask, &record); found == 0;
             found = findNext(handle, &record)) {
            names.emplace_back(record.file_name);
        }
        closeArchive(handle);
        return names;
    }

    ARC_COMMAND unzip = nullptr, zip = nullptr;
    ARC_OPEN_ARCHIVE openArchive = nullptr;
    ARC_CLOSE_ARCHIVE closeArchive = nullptr;
    ARC_FIND_FIRST findFirst = nullptr;
    ARC_FIND_NEXT findNext = nullptr;
    ARC_CHECK_ARCHIVE checkArchive = nullptr;
    ARC_EXTRACT_MEM extractMem = nullptr;
    ARC_SET_OWNER_WINDOW_EX setOwnerWindow = nullptr;
    ARC_KILL_OWNER_WINDOW_EX killOwnerWindow = nullptr;
    ARC_GET_TIME_EX getWriteTime = nullptr;

  private:
    template <typename Function>
    Function Bind(const std::string& name) {
        return reinterpret_cast<Function>(platform::GetProcAddress(module_, name.c_str()));
    }

    platform::ModuleHandle module_;
};

// One loaded copy of each, as the component keeps its binding for the life of the program.
inline const ZipLibrary& Unzip32() {
    static const ZipLibrary library(kUnzip32);
    return library;
}
inline const ZipLibrary& Zip32j() {
    static const ZipLibrary library(kZip32j);
    return library;
}
inline const ZipLibrary& Lmzip32() {
    static const ZipLibrary library(kLmzip32);
    return library;
}

inline std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Every file and folder below a folder, relative, sorted; folders end in '/'.
inline std::vector<std::string> Tree(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        std::string name = std::filesystem::relative(entry.path(), folder).string();
        if (entry.is_directory()) {
            name += '/';
        }
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A peer program on the PATH, for reading our archives back.
inline bool HavePeer(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command; its exit status.
inline int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace zembrat::zip32::testing
