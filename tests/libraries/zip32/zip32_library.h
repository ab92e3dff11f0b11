// The three ZIP libraries as the archive component sees them: loaded at run time by path,
// entries bound by name (the listing entries under each library's own spelling).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "archiver_library.h"
#include "fixture_files.h"
#include "temp_folder.h"

namespace zembrat::zip32::testing {

using ::zembrat::testing::Quoted;
using ::zembrat::testing::ReadFile;
using ::zembrat::testing::TempFolder;
using ::zembrat::testing::Tree;

struct Spelling {
    const char* path;
    const char* unzip;  // the unpack command entry; null when the library has none
    const char* zip;    // the pack command entry; null when the library has none
    const char* list;   // prefix of the listing entries: "UnZip" or "Unzip"
};

inline const Spelling kUnzip32{ZEMBRAT_UNZIP32_PATH, "UnZip", nullptr, "UnZip"};
inline const Spelling kZip32j{ZEMBRAT_ZIP32J_PATH, nullptr, "Zip", "UnZip"};
inline const Spelling kLmzip32{ZEMBRAT_LMZIP32_PATH, "Unzip", "Zip", "Unzip"};

class ZipLibrary : public ::zembrat::testing::ArchiverLibrary {
  public:
    explicit ZipLibrary(const Spelling& spelling)
        : ArchiverLibrary(spelling.path, spelling.unzip ? spelling.unzip : "", spelling.list) {
        unzip = command;
        zip = spelling.zip ? Bind<ARC_COMMAND>(spelling.zip) : nullptr;
        // Every one of them spells the write-time getter "Unzip...".
        getWriteTime = Bind<ARC_GET_TIME_EX>("UnzipGetWriteTimeEx");
    }

    Result Unzip(const std::string& line) const { return Run(unzip, line); }
    Result Zip(const std::string& line) const { return Run(zip, line); }

    ARC_COMMAND unzip = nullptr, zip = nullptr;
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
