// libbga32.so as the archive component sees it: loaded at run time by path, entries bound by
// name.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "archiver_library.h"
#include "fixture_files.h"
#include "temp_folder.h"

namespace zembrat::bga32::testing {

using ::zembrat::testing::Quoted;
using ::zembrat::testing::ReadFile;
using ::zembrat::testing::TempFolder;

// Listing opens archives with the mode the archive component passes.
class BgaLibrary : public ::zembrat::testing::ArchiverLibrary {
  public:
    static constexpr std::uint32_t kListMode = 0x00800002;

    BgaLibrary() : ArchiverLibrary(ZEMBRAT_BGA32_PATH, "Bga") {
        EXPECT_TRUE(command && openArchive && closeArchive && findFirst && findNext &&
                    checkArchive && setOwnerWindow && killOwnerWindow)
            << "libbga32.so lacks an entry the component binds";
    }

    std::vector<ARCHIVE_ENTRY_RECORD> Entries(const std::string& archive,
                                              const char* mask = "*") const {
        return ArchiverLibrary::Entries(archive, mask, kListMode);
    }
    std::vector<std::string> Names(const std::string& archive) const {
        return ArchiverLibrary::Names(archive, "*", kListMode);
    }
};

inline const BgaLibrary& Library() {
    static const BgaLibrary library;
    return library;
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
