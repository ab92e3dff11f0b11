#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <link.h>

#include <mutex>

#include "platform/path.h"
#include "platform/system_folders.h"

namespace zembrat::platform {

namespace {

struct SearchOverride {
    std::optional<std::vector<std::string>> folders;
    bool systemSearch = true;
};

struct SearchSettings {
    std::mutex mutex;
    SearchOverride current;
};

SearchSettings& Settings() {
    static SearchSettings settings;
    return settings;
}

SearchOverride CurrentSearch() {
    SearchSettings& settings = Settings();
    const std::lock_guard lock(settings.mutex);
    return settings.current;
}

char ToAsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool LooksLikeHostLibrary(std::string_view name) {
    return name.find('/') != std::string_view::npos || name.ends_with(".so") ||
           name.find(".so.") != std::string_view::npos;
}

ModuleHandle Open(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

std::string HostLibraryName(std::string_view windowsName) {
    if (LooksLikeHostLibrary(windowsName)) {
        return std::string(windowsName);
    }
    std::string lower;
    for (char c : windowsName) {
        lower += ToAsciiLower(c);
    }
    if (lower.ends_with(".dll")) {
        lower.resize(lower.size() - 4);
    }
    return "lib" + lower + ".so";
}

std::vector<std::string> LibrarySearchFolders() {
    if (auto folders = CurrentSearch().folders) {
        return *folders;
    }
    const std::string program = ProgramFolder();
    if (program.empty()) {
        return {};
    }
    return {program, program + "../lib/zembrat/"};
}

ModuleHandle LoadLibrary(std::string_view name) {
    if (name.empty()) {
        return nullptr;
    }
    const std::string hostName = HostLibraryName(name);
    if (hostName.find('/') != std::string::npos) {
        return Open(hostName);
    }
    for (const std::string& folder : LibrarySearchFolders()) {
        if (ModuleHandle module = Open(JoinPath(folder, hostName, PathSyntax::Host()))) {
            return module;
        }
    }
    return CurrentSearch().systemSearch ? Open(hostName) : nullptr;
}

void FreeLibrary(ModuleHandle module) {
    if (module != nullptr) {
        dlclose(module);
    }
}

void* GetProcAddress(ModuleHandle module, const char* name) {
    // dlsym with a null handle would search every loaded object.
    if (module == nullptr || name == nullptr) {
        return nullptr;
    }
    return dlsym(module, name);
}

std::string GetModuleFileName(ModuleHandle module) {
    if (module == nullptr) {
        return ProgramFileName();
    }
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) {
        return std::string();
    }
    // The program itself has an empty name in the link map.
    if (map->l_name[0] == '\0') {
        return ProgramFileName();
    }
    return ExpandFileName(map->l_name);
}

void OverrideLibrarySearch(std::optional<std::vector<std::string>> folders, bool systemSearch) {
    SearchSettings& settings = Settings();
    const std::lock_guard lock(settings.mutex);
    settings.current = SearchOverride{std::move(folders), systemSearch};
}

void RestoreLibrarySearch() {
    SearchSettings& settings = Settings();
    const std::lock_guard lock(settings.mutex);
    settings.current = SearchOverride{};
}

}  // namespace zembrat::platform
