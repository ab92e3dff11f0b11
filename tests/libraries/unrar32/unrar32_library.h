// libunrar32.so as the archive component sees it: loaded at run time by path, entries bound
// by name; and the command lines the RAR driver writes.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archiver_api.h"
#include "platform/dynamic_library.h"
#include "temp_folder.h"

namespace zembrat::unrar32::testing {

using ::zembrat::testing::TempFolder;

inline const std::string kFixtures = std::string(ZEMBRAT_FIXTURES_DIR) + "/rar/";

class UnrarLibrary {
  public:
    UnrarLibrary() : module_(platform::LoadLibrary(ZEMBRAT_UNRAR32_PATH)) {
        if (module_) {
            command = Bind<ARC_COMMAND>("Unrar");
            openArchive = Bind<ARC_OPEN_ARCHIVE>("UnrarOpenArchive");
            closeArchive = Bind<ARC_CLOSE_ARCHIVE>("UnrarCloseArchive");
            findFirst = Bind<ARC_FIND_FIRST>("UnrarFindFirst");
            findNext = Bind<ARC_FIND_NEXT>("UnrarFindNext");
            checkArchive = Bind<ARC_CHECK_ARCHIVE>("UnrarCheckArchive");
            extractMem = Bind<ARC_EXTRACT_MEM>("UnrarExtractMem");
        }
    }
    ~UnrarLibrary() { platform::FreeLibrary(module_); }
    UnrarLibrary(const UnrarLibrary&) = delete;
    UnrarLibrary& operator=(const UnrarLibrary&) = delete;

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

    // The names FindFirst and FindNext report; the mode is what the RAR probe passes.
    std::vector<std::string> Names(const std::string& archive, const char* mask = "*") const {
        std::vector<std::string> names;
        const HARC handle = openArchive(0, archive.c_str(), 0x00800002);
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

    ARC_COMMAND command = nullptr;
    ARC_OPEN_ARCHIVE openArchive = nullptr;
    ARC_CLOSE_ARCHIVE closeArchive = nullptr;
    ARC_FIND_FIRST findFirst = nullptr;
    ARC_FIND_NEXT findNext = nullptr;
    ARC_CHECK_ARCHIVE checkArchive = nullptr;
    ARC_EXTRACT_MEM extractMem = nullptr;

  private:
    template <typename Function>
    Function Bind(const char* name) {
        return reinterpret_cast<Function>(platform::GetProcAddress(module_, name));
    }
    platform::ModuleHandle module_;
};

inline const UnrarLibrary& Library() {
    static const UnrarLibrary library;
    return library;
}

inline std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// The driver's layout: command switch, the option switches, two blanks (the user options are
// empty), the quoted archive, the quoted folder with its delimiter, the items, a blank.
inline std::string ExtractLine(const std::string& archive, const std::string& folder,
                               const std::string& switches = "-x -u -y",
                               const std::string& items = "") {
    return switches + "  " + Quoted(archive) + " " + Quoted(folder) + " " + items;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace zembrat::unrar32::testing
