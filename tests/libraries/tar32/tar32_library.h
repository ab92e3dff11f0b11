// libtar32.so as the archive component sees it, and the command lines the TAR driver writes.
#pragma once

#include <string>

#include "archiver_library.h"
#include "fixture_files.h"
#include "fixtures_dir.h"
#include "temp_folder.h"

namespace zembrat::tar32::testing {

using ::zembrat::testing::Quoted;
using ::zembrat::testing::ReadFile;
using ::zembrat::testing::TempFolder;

inline const std::string kFixtures = ::zembrat::testing::FixturesDir().string() + "/tar/";

// The one loaded copy, as the component keeps its binding for the life of the program.
inline const ::zembrat::testing::ArchiverLibrary& Library() {
    static const ::zembrat::testing::ArchiverLibrary library(ZEMBRAT_TAR32_PATH, "Tar");
    return library;
}

// The driver's layout: command, switches, -f and -o each with a blank and a quoted value.
inline std::string ExtractLine(const std::string& archive, const std::string& folder,
                               const std::string& switches = "-AH") {
    return "x " + switches + " -f " + Quoted(archive) + " -o " + Quoted(folder) + " ";
}

}  // namespace zembrat::tar32::testing
