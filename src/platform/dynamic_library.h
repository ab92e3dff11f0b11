// Run-time loading of archiver libraries. Windows library names map to the host's:
// "UNLHA32.DLL" -> "libunlha32.so", looked for in the program's own folder, then its
// ../lib/zembrat/, then the normal dlopen search.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zembrat::platform {

using ModuleHandle = void*;

// "UNLHA32.DLL" -> "libunlha32.so"; a host name (ending in ".so", holding ".so." or a '/')
// stays as it is.
std::string HostLibraryName(std::string_view windowsName);

// The folders looked in before the normal dlopen search.
std::vector<std::string> LibrarySearchFolders();

// Loads the library (a path with '/' is loaded as given); nullptr when it cannot be loaded.
ModuleHandle LoadLibrary(std::string_view name);
void FreeLibrary(ModuleHandle module);
void* GetProcAddress(ModuleHandle module, const char* name);
// The full path of a loaded library; the program's own path for nullptr.
std::string GetModuleFileName(ModuleHandle module);

// For tests: replace the folders looked in (nullopt keeps the built-in ones), and switch the
// normal dlopen search on or off, until RestoreLibrarySearch brings the built-in search back.
void OverrideLibrarySearch(std::optional<std::vector<std::string>> folders, bool systemSearch);
void RestoreLibrarySearch();

}  // namespace zembrat::platform
