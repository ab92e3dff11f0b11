// An archiver library as the archive component sees it: loaded at run time by path, its C
// entries bound by name under the library's own prefix ("Cab", "CabOpenArchive", ...).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archiver_api.h"
#include "platform/dynamic_library.h"

namespace zembrat::testing {

class ArchiverLibrary {
  public:
    // prefix names the command entry and starts every other entry; listPrefix, when given,
    // starts the listing and query entries instead (the ZIP libraries spell them apart).
    ArchiverLibrary(const char* path, std::string_view prefix, std::string_view listPrefix = {})
        : module_(platform::LoadLibrary(path)) {
        if (!module_) {
            return;
        }
        const std::string list(listPrefix.empty() ? prefix : listPrefix);
        command = prefix.empty() ? nullptr : Bind<ARC_COMMAND>(std::string(prefix));
        openArchive = Bind<ARC_OPEN_ARCHIVE>(list + "OpenArchive");
        closeArchive = Bind<ARC_CLOSE_ARCHIVE>(list + "CloseArchive");
        findFirst = Bind<ARC_FIND_FIRST>(list + "FindFirst");
        findNext = Bind<ARC_FIND_NEXT>(list + "FindNext");
        checkArchive = Bind<ARC_CHECK_ARCHIVE>(list + "CheckArchive");
        extractMem = Bind<ARC_EXTRACT_MEM>(list + "ExtractMem");
        setOwnerWindow = Bind<ARC_SET_OWNER_WINDOW_EX>(list + "SetOwnerWindowEx");
        killOwnerWindow = Bind<ARC_KILL_OWNER_WINDOW_EX>(list + "KillOwnerWindowEx");
        getWriteTime = Bind<ARC_GET_TIME_EX>(list + "GetWriteTimeEx");
        getCreateTime = Bind<ARC_GET_TIME_EX>(list + "GetCreateTimeEx");
        getAccessTime = Bind<ARC_GET_TIME_EX>(list + "GetAccessTimeEx");
        getOriginalSize = Bind<ARC_GET_SIZE_EX>(list + "GetOriginalSizeEx");
        getCompressedSize = Bind<ARC_GET_SIZE_EX>(list + "GetCompressedSizeEx");
        getArchiveType = Bind<ARC_GET_ARCHIVE_TYPE>(list + "GetArchiveType");
    }
    ~ArchiverLibrary() { platform::FreeLibrary(module_); }
    ArchiverLibrary(const ArchiverLibrary&) = delete;
    ArchiverLibrary& operator=(const ArchiverLibrary&) = delete;

    bool Loaded() const { return module_ != nullptr && openArchive != nullptr; }

    // Any other entry, by its full name; null when the library has none.
    template <typename Function>
    Function Bind(const std::string& name) const {
        return reinterpret_cast<Function>(platform::GetProcAddress(module_, name.c_str()));
    }

    struct Result {
        int code;
        std::string text;
    };
    // One command line through the given command entry, with an output buffer of size bytes
    // (the text ends at the first NUL, or fills the buffer when the library wrote none).
    static Result Run(ARC_COMMAND entry, const std::string& line, std::uint32_t size = 64 * 1024) {
        std::string buffer(size, '\0');
        const int code = entry(0, line.c_str(), buffer.data(), size);
        buffer.resize(std::min<std::size_t>(buffer.find('\0'), size));
        return {code, buffer};
    }
    Result Run(const std::string& line, std::uint32_t size = 64 * 1024) const {
        return Run(command, line, size);
    }

    // The records FindFirst / FindNext report; empty when the archive cannot be opened.
    std::vector<ARCHIVE_ENTRY_RECORD> Entries(const std::string& archive, const char* mask = "*",
                                              std::uint32_t mode = 0) const {
        std::vector<ARCHIVE_ENTRY_RECORD> entries;
        const HARC handle = openArchive(0, archive.c_str(), mode);
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
    // The member names, in the same order.
    std::vector<std::string> Names(const std::string& archive, const char* mask = "*",
                                   std::uint32_t mode = 0) const {
        std::vector<std::string> names;
        for (const ARCHIVE_ENTRY_RECORD& entry : Entries(archive, mask, mode)) {
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
    ARC_EXTRACT_MEM extractMem = nullptr;
    ARC_SET_OWNER_WINDOW_EX setOwnerWindow = nullptr;
    ARC_KILL_OWNER_WINDOW_EX killOwnerWindow = nullptr;
    ARC_GET_TIME_EX getWriteTime = nullptr, getCreateTime = nullptr, getAccessTime = nullptr;
    ARC_GET_SIZE_EX getOriginalSize = nullptr, getCompressedSize = nullptr;
    ARC_GET_ARCHIVE_TYPE getArchiveType = nullptr;  // the TAR library's alone

  private:
    platform::ModuleHandle module_;
};

}  // namespace zembrat::testing
