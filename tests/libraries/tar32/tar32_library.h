// libtar32.so as the archive component sees it: loaded at run time by path, entries bound
// by name; and the command lines the TAR driver writes.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archiver_api.h"
#include "platform/dynamic_library.h"
#include "temp_folder.h"

namespace zembrat::tar32::testing {

using ::zembrat::testing::TempFolder;

inline const std::string kFixtures = std::string(ZEMBRAT_FIXTURES_DIR) + "/tar/";

class TarLibrary {
  public:
    TarLibrary() : module_(platform::LoadLibrary(ZEMBRAT_TAR32_PATH)) {
        if (module_) {
            command = Bind<ARC_COMMAND>("Tar");
            openArchive = Bind<ARC_OPEN_ARCHIVE>("TarOpenArchive");
            closeArchive = Bind<ARC_CLOSE_ARCHIVE>("TarCloseArchive");
            findFirst = Bind<ARC_FIND_FIRST>("TarFindFirst");
            findNext = Bind<ARC_FIND_NEXT>("TarFindNext");
            archiveType = Bind<ARC_GET_ARCHIVE_TYPE>("TarGetArchiveType");
            extractMem = Bind<ARC_EXTRACT_MEM>("TarExtractMem");
            checkArchive = Bind<ARC_CHECK_ARCHIVE>("TarCheckArchive");
        }
    }
    ~TarLibrary() { platform::FreeLibrary(module_); }
    TarLibrary(const TarLibrary&) = delete;
    TarLibrary& operator=(const TarLibrary&) = delete;

    struct Result {
        int code;
        std::string text;
    };
    Result Run(const std::string& line) const {
        std::string buffer(64 * 1024, '\0');
        const int code =
            command(0, line.c_str(), buffer.data(), static_cast<std::uint32_t>(buffer.size()));
        buffer.resize(buffer.find('\0'));
        return {code, buffer};
    }

    std::vector<std::string> Names(const std::string& archive) const {
        std::vector<std::string> names;
        const HARC handle = openArchive(0, archive.c_str(), 0);
        if (handle == 0) {
            return names;
        }
        ARCHIVE_ENTRY_RECORD record{};
        for (int found = findFirst(handle, "*", &record); found == 0;
             found = findNext(handle, &record)) {
            names.emplace_back(record.file_name);
        }
        closeArchive(handle);
        return names;
    }

    ARC_COMMAND command = nullptr;
    ARC_OPEN_ARCHIVE openArchive = nullptr;
    ARC_CLOSE_ARCHIVE closeArchive = nullptr;
    ARC_FIND_FIRST findFirst = nullptr;
    ARC_FIND_NEXT findNext = nullptr;
    ARC_GET_ARCHIVE_TYPE archiveType = nullptr;
    ARC_EXTRACT_MEM extractMem = nullptr;
    ARC_CHECK_ARCHIVE checkArchive = nullptr;

  private:
    template <typename Function>
    Function Bind(const char* name) {
        return reinterpret_cast<Function>(platform::GetProcAddress(module_, name));
    }
    platform::ModuleHandle module_;
};

inline const TarLibrary& Library() {
    static const TarLibrary library;
    return library;
}

inline std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// The driver's layout: command, switches, -f and -o each with a blank and a quoted value.
inline std::string ExtractLine(const std::string& archive, const std::string& folder,
                               const std::string& switches = "-AH") {
    return "x " + switches + " -f " + Quoted(archive) + " -o " + Quoted(folder) + " ";
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace zembrat::tar32::testing
