// libbga32.so as the archive component sees it: loaded at run time by path, entries bound by
// name.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archiver_api.h"
#include "platform/dynamic_library.h"
#include "temp_folder.h"

namespace zembrat::bga32::testing {

using ::zembrat::testing::TempFolder;

class BgaLibrary {
  public:
    BgaLibrary() : module_(platform::LoadLibrary(ZEMBRAT_BGA32_PATH)) {
        command = Bind<ARC_COMMAND>("Bga");
        openArchive = Bind<ARC_OPEN_ARCHIVE>("BgaOpenArchive");
        closeArchive = Bind<ARC_CLOSE_ARCHIVE>("BgaCloseArchive");
        findFirst = Bind<ARC_FIND_FIRST>("BgaFindFirst");
        findNext = Bind<ARC_FIND_NEXT>("BgaFindNext");
        checkArchive = Bind<ARC_CHECK_ARCHIVE>("BgaCheckArchive");
        setOwnerWindow = Bind<ARC_SET_OWNER_WINDOW_EX>("BgaSetOwnerWindowEx");
        killOwnerWindow = Bind<ARC_KILL_OWNER_WINDOW_EX>("BgaKillOwnerWindowEx");
    }
    ~BgaLibrary() { platform::FreeLibrary(module_); }
    BgaLibrary(const BgaLibrary&) = delete;
    BgaLibrary& operator=(const BgaLibrary&) = delete;

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

    std::vector<ARCHIVE_ENTRY_RECORD> Entries(const std::string& archive,
                                              const char* mask = "*") const {
        std::vector<ARCHIVE_ENTRY_RECORD> entries;
        const HARC handle = openArchive(0, archive.c_str(), 0x00800002);
        if (handle == 0) {
            return entries;
        }
        ARCHIVE_ENTRY_RECORD record{};
        for (int found = findFirst(handle, mask, &record); found == 0;
             found = findNext(handle, &record)) {
            entries.push_back(record);
        }
        closeArchive(handle);
        return entries;
    }
    std::vector<std::string> Names(const std::string& archive) const {
        std::vector<std::string> names;
        for (const auto& entry : Entries(archive)) {
            names.emplace_back(entry.file_name);
        }
        return names;
    }

    ARC_COMMAND command = nullptr;
    ARC_OPEN_ARCHIVE openArchive = nullptr;
    ARC_CLOSE_ARCHIVE closeArchive = nullptr;
    ARC_FIND_FIRST findFirst = nullptr;
    ARC_FIND_NEXT findNext = nullptr;
    ARC_CHECK_ARCHIVE checkArchive = nullptr;
    ARC_SET_OWNER_WINDOW_EX setOwnerWindow = nullptr;
    ARC_KILL_OWNER_WINDOW_EX killOwnerWindow = nullptr;

  private:
    template <typename Function>
    Function Bind(const char* name) {
        auto* function = reinterpret_cast<Function>(platform::GetProcAddress(module_, name));
        EXPECT_NE(function, nullptr) << name;
        return function;
    }
    platform::ModuleHandle module_;
};

inline const BgaLibrary& Library() {
    static const BgaLibrary library;
    return library;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

inline std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

inline std::string Text(std::size_t size) {
    std::string text;
    for (int i = 0; text.size() < size; ++i) {
        text += "row " + std::to_string(i % 331) + " of the sample\n";
    }
    text.resize(size);
    return text;
}

}  // namespace zembrat::bga32::testing
