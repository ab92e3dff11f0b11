// The C entries of an archiver library, written once for all of them. A library defines its
// Backend and names its entries with the macros below (one line per group), so that the
// family is the same everywhere: the command entry under the library's prefix alone, the
// listing group (OpenArchive, CloseArchive, FindFirst, FindNext, CheckArchive), the owner
// window pair, ExtractMem, and the 64-bit getters. A library leaves out a group it lacks,
// and the CMake function zembrat_archiver_library exports exactly the names it lists.
// No exception ever leaves an entry.
#pragma once

#include <cstdint>

#include "archiver_api.h"
#include "export/backend.h"

namespace zembrat::exports {

int Command(Backend& backend, const char* commandLine, char* output, std::uint32_t outputSize);
HARC OpenArchive(Backend& backend, const char* archive, std::uint32_t mode);
int CloseArchive(HARC archive);
int FindFirst(HARC archive, const char* wildcard, ARCHIVE_ENTRY_RECORD* entry);
int FindNext(HARC archive, ARCHIVE_ENTRY_RECORD* entry);
int CheckArchive(Backend& backend, const char* archive, int mode);
// The owner belongs to the backend's family, so that every library of the family reports
// to it (platform::SetProgressOwner).
int SetOwnerWindowEx(const Backend& backend, ARC_HWND window, ARC_PROGRESS_PROC procedure);
int KillOwnerWindowEx(const Backend& backend, ARC_HWND window);
int ExtractMem(Backend& backend, const char* commandLine, unsigned char* buffer,
               std::uint32_t bufferSize, std::int64_t* timeStamp, std::uint16_t* attributes,
               std::uint32_t* written);

enum class Value { kWriteTime, kCreateTime, kAccessTime, kOriginalSize, kCompressedSize };
// Of the member FindFirst or FindNext reported last: 1 and the value, or 0.
int GetValue(HARC archive, Value value, std::uint64_t* result);

// Where the owner window set by SetOwnerWindowEx wants progress; inactive when none.
common::ProgressReporter CurrentReporter(const Backend& backend);

}  // namespace zembrat::exports

#define ZEMBRAT_ARCHIVER_ENTRY extern "C" __attribute__((visibility("default")))

// The command entry, named Name, over backend() (a function returning the Backend).
#define ZEMBRAT_EXPORT_COMMAND(Name, backend)                                           \
    ZEMBRAT_ARCHIVER_ENTRY int Name(ARC_HWND, const char* commandLine, char* output,    \
                                    uint32_t outputSize) {                              \
        return ::zembrat::exports::Command(backend(), commandLine, output, outputSize); \
    }

// Prefix##OpenArchive, CloseArchive, FindFirst, FindNext and CheckArchive.
#define ZEMBRAT_EXPORT_LISTING(Prefix, backend)                                              \
    ZEMBRAT_ARCHIVER_ENTRY HARC Prefix##OpenArchive(ARC_HWND, const char* archive,           \
                                                    uint32_t mode) {                         \
        return ::zembrat::exports::OpenArchive(backend(), archive, mode);                    \
    }                                                                                        \
    ZEMBRAT_ARCHIVER_ENTRY int Prefix##CloseArchive(HARC archive) {                          \
        return ::zembrat::exports::CloseArchive(archive);                                    \
    }                                                                                        \
    ZEMBRAT_ARCHIVER_ENTRY int Prefix##FindFirst(HARC archive, const char* wildcard,         \
                                                 ARCHIVE_ENTRY_RECORD* entry) {              \
        return ::zembrat::exports::FindFirst(archive, wildcard, entry);                      \
    }                                                                                        \
    ZEMBRAT_ARCHIVER_ENTRY int Prefix##FindNext(HARC archive, ARCHIVE_ENTRY_RECORD* entry) { \
        return ::zembrat::exports::FindNext(archive, entry);                                 \
    }                                                                                        \
    ZEMBRAT_ARCHIVER_ENTRY int Prefix##CheckArchive(const char* archive, int mode) {         \
        return ::zembrat::exports::CheckArchive(backend(), archive, mode);                   \
    }

// Prefix##SetOwnerWindowEx and Prefix##KillOwnerWindowEx.
#define ZEMBRAT_EXPORT_OWNER_WINDOW(Prefix, backend)                                   \
    ZEMBRAT_ARCHIVER_ENTRY int Prefix##SetOwnerWindowEx(ARC_HWND window,               \
                                                        ARC_PROGRESS_PROC procedure) { \
        return ::zembrat::exports::SetOwnerWindowEx(backend(), window, procedure);     \
    }                                                                                  \
    ZEMBRAT_ARCHIVER_ENTRY int Prefix##KillOwnerWindowEx(ARC_HWND window) {            \
        return ::zembrat::exports::KillOwnerWindowEx(backend(), window);               \
    }

#define ZEMBRAT_EXPORT_EXTRACT_MEM(Name, backend)                                                  \
    ZEMBRAT_ARCHIVER_ENTRY int Name(ARC_HWND, const char* commandLine, unsigned char* buffer,      \
                                    uint32_t bufferSize, int64_t* timeStamp, uint16_t* attributes, \
                                    uint32_t* written) {                                           \
        return ::zembrat::exports::ExtractMem(backend(), commandLine, buffer, bufferSize,          \
                                              timeStamp, attributes, written);                     \
    }

// One 64-bit getter under the name given (some libraries spell one of them differently).
#define ZEMBRAT_EXPORT_GETTER(Name, value)                                                      \
    ZEMBRAT_ARCHIVER_ENTRY int Name(HARC archive, uint64_t* result) {                           \
        return ::zembrat::exports::GetValue(archive, ::zembrat::exports::Value::value, result); \
    }

// Prefix##GetWriteTimeEx, GetCreateTimeEx, GetAccessTimeEx, GetOriginalSizeEx and
// GetCompressedSizeEx.
#define ZEMBRAT_EXPORT_GETTERS(Prefix)                              \
    ZEMBRAT_EXPORT_GETTER(Prefix##GetWriteTimeEx, kWriteTime)       \
    ZEMBRAT_EXPORT_GETTER(Prefix##GetCreateTimeEx, kCreateTime)     \
    ZEMBRAT_EXPORT_GETTER(Prefix##GetAccessTimeEx, kAccessTime)     \
    ZEMBRAT_EXPORT_GETTER(Prefix##GetOriginalSizeEx, kOriginalSize) \
    ZEMBRAT_EXPORT_GETTER(Prefix##GetCompressedSizeEx, kCompressedSize)
