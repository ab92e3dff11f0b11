// libunlha32.so as the archive component sees it: loaded at run time, entries bound by name.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "archiver_library.h"
#include "fixture_files.h"
#include "temp_folder.h"

namespace zembrat::unlha32::testing {

using ::zembrat::testing::ReadFile;
using ::zembrat::testing::TempFolder;
using ::zembrat::testing::Tree;

using Unlha32Library = ::zembrat::testing::ArchiverLibrary;

// The one loaded copy, as the component keeps its binding for the life of the program.
inline const Unlha32Library& Library() {
    static const Unlha32Library library(ZEMBRAT_UNLHA32_PATH, "Unlha");
    return library;
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
