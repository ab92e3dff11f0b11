// libunlha32.so as the archive component sees it: loaded at run time, entries bound by name.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "archiver_api.h"
#include "platform/dynamic_library.h"
#include "temp_folder.h"

namespace zembrat::unlha32::testing {

using ::zembrat::testing::TempFolder;

class Unlha32Library {
  public:
    Unlha32Library() : module_(platform::LoadLibrary(ZEMBRAT_UNLHA32_PATH)) {
        if (!module_) {
            return;
        }
        command = Bind<ARC_COMMAND>("Unlha");
        openArchive = Bind<ARC_OPEN_ARCHIVE>("UnlhaOpenArchive");
        closeArchive = Bind<ARC_CLOSE_ARCHIVE>("UnlhaCloseArchive");
        findFirst = Bind<ARC_FIND_FIRST>("UnlhaFindFirst");
        findNext = Bind<ARC_FIND_NEXT>("UnlhaFindNext");
        checkArchive = Bind<ARC_CHECK_ARCHIVE>("UnlhaCheckArchive");
        setOwnerWindow = Bind<ARC_SET_OWNER_WINDOW_EX>("UnlhaSetOwnerWindowEx");
        killOwnerWindow = Bind<ARC_KILL_OWNER_WINDOW_EX>("UnlhaKillOwnerWindowEx");
        extractMem = Bind<ARC_EXTRACT_MEM>("UnlhaExtractMem");
        getWriteTime = Bind<ARC_GET_TIME_EX>("UnlhaGetWriteTimeEx");
        getCreateTime = Bind<ARC_GET_TIME_EX>("UnlhaGetCreateTimeEx");
        getAccessTime = Bind<ARC_GET_TIME_EX>("UnlhaGetAccessTimeEx");
        getOriginalSize = Bind<ARC_GET_SIZE_EX>("UnlhaGetOriginalSizeEx");
        getCompressedSize = Bind<ARC_GET_SIZE_EX>("UnlhaGetCompressedSizeEx");
    }
    ~Unlha32Library() { platform::FreeLibrary(module_); }
    Unlha32Library(const Unlha32Library&) = delete;
    Unlha32Library& operator=(const Unlha32Library&) = delete;

    bool Loaded() const { return module_ != nullptr && command != nullptr; }

    struct Result {
        int code;
        std::string text;
    };
    Result Run(const std::string& line, std::uint32_t size = 64 * 1024) const {
        std::string buffer(size, '\0');
        const int code = command(0, line.c_str(), buffer.data(), size);
        buffer.resize(buffer.find('\0') == std::string::npos ? size : buffer.find('\0'));
        return {code, buffer};
    }

    ARC_COMMAND command = nullptr;
    ARC_OPEN_ARCHIVE openArchive = nullptr;
    ARC_CLOSE_ARCHIVE closeArchive = nullptr;
    ARC_FIND_FIRST findFirst = nullptr;
    ARC_FIND_NEXT findNext = nullptr;
    ARC_CHECK_ARCHIVE checkArchive = nullptr;
    ARC_SET_OWNER_WINDOW_EX setOwnerWindow = nullptr;
    ARC_KILL_OWNER_WINDOW_EX killOwnerWindow = nullptr;
    ARC_EXTRACT_MEM extractMem = nullptr;
    ARC_GET_TIME_EX getWriteTime = nullptr, getCreateTime = nullptr, getAccessTime = nullptr;
    ARC_GET_SIZE_EX getOriginalSize = nullptr, getCompressedSize = nullptr;

  private:
    template <typename Function>
    Function Bind(const char* name) {
        return reinterpret_cast<Function>(platform::GetProcAddress(module_, name));
    }

    platform::ModuleHandle module_;
};

// The one loaded copy, as the component keeps its binding for the life of the program.
inline const Unlha32Library& Library() {
    static const Unlha32Library library;
    return library;
}

// The member names of an archive, listed through the library; empty when it cannot be opened.
inline std::vector<std::string> MemberNames(const std::string& archive) {
    std::vector<std::string> names;
    const HARC handle = Library().openArchive(0, archive.c_str(), 0);
    if (handle == 0) {
        return names;
    }
    ARCHIVE_ENTRY_RECORD record{};
    for (int found = Library().findFirst(handle, "*", &record); found == 0;
         found = Library().findNext(handle, &record)) {
        names.emplace_back(record.file_name);
    }
    Library().closeArchive(handle);
    return names;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Every file and folder below a folder, relative, sorted; folders end in '/'.
inline std::vector<std::string> Tree(const std::string& folder) {
    std::vector<std::string> names;
    if (!std::filesystem::exists(folder)) {
        return names;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        std::string name = std::filesystem::relative(entry.path(), folder).string();
        if (entry.is_directory() && !entry.is_symlink()) {
            name += '/';
        }
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

// Compressible text of about the given size.
inline std::string Text(std::size_t size) {
    std::string text;
    for (int line = 0; text.size() < size; ++line) {
        text += "line " + std::to_string(line) + " of some compressible text, again and again\n";
    }
    text.resize(size);
    return text;
}

#define REQUIRE_LIBRARY()                                                      \
    do {                                                                       \
        ASSERT_TRUE(::zembrat::unlha32::testing::Library().Loaded())           \
            << "libunlha32.so could not be loaded from " ZEMBRAT_UNLHA32_PATH; \
    } while (0)

}  // namespace zembrat::unlha32::testing
