// libunrar32.so as the archive component sees it, and the command lines the RAR driver writes.
#pragma once

#include <cstdint>
#include <string>

#include "archiver_library.h"
#include "fixture_files.h"
#include "fixtures_dir.h"
#include "temp_folder.h"

namespace zembrat::unrar32::testing {

using ::zembrat::testing::Quoted;
using ::zembrat::testing::ReadFile;
using ::zembrat::testing::TempFolder;

inline const std::string kFixtures = ::zembrat::testing::FixturesDir().string() + "/rar/";

// The mode the RAR probe opens an archive with, for listings.
constexpr std::uint32_t kProbeMode = 0x00800002;

// The one loaded copy, as the component keeps its binding for the life of the program.
inline const ::zembrat::testing::ArchiverLibrary& Library() {
    static const ::zembrat::testing::ArchiverLibrary library(ZEMBRAT_UNRAR32_PATH, "Unrar");
    return library;
}

// The driver's layout: command switch, the option switches, two blanks (the user options are
// empty), the quoted archive, the quoted folder with its delimiter, the items, a blank.
inline std::string ExtractLine(const std::string& archive, const std::string& folder,
                               const std::string& switches = "-x -u -y",
                               const std::string& items = "") {
    return switches + "  " + Quoted(archive) + " " + Quoted(folder) + " " + items;
}

}  // namespace zembrat::unrar32::testing
