// Archives built to hurt a reader, as a library meets them: each ends within seconds, says why
// it failed, and writes nothing beside its destination.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "archiver_library.h"
#include "fixture_files.h"
#include "temp_folder.h"

namespace zembrat::testing {

// Extracts every file of the folder into a fresh destination with the line extractLine makes
// (archive, destination folder ending in '/'), then lists it (in listMode).
inline void ExpectHostileArchivesContained(
    const ArchiverLibrary& library, const std::string& folder, double seconds,
    const std::function<std::string(const std::string&, const std::string&)>& extractLine,
    std::uint32_t listMode = 0) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        SCOPED_TRACE(entry.path().filename().string());
        TempFolder scratch;
        const auto start = std::chrono::steady_clock::now();
        const auto result =
            library.Run(extractLine(entry.path().string(), scratch.Folder() + "out/"));
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took.count(), seconds);
        if (result.code != 0) {
            EXPECT_FALSE(result.text.empty()) << "a failure without its reason";
        }
        for (const std::string& file : FilesBelow(scratch.Folder())) {
            EXPECT_TRUE(file == "out" || file.starts_with("out/")) << file;
        }
        // The listing ends too, one way or the other.
        library.Names(entry.path().string(), "*", listMode);
    }
}

}  // namespace zembrat::testing
