// Where the shared fixture archives are, and skipping a test that needs them when they are not.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace zembrat::testing {

// The shared fixture folder beside the checkout, or $ZEMBRAT_FIXTURES when set (to run the
// suite against another copy of them, or against none).
inline std::filesystem::path FixturesDir() {
    const char* chosen = std::getenv("ZEMBRAT_FIXTURES");
    return chosen != nullptr && *chosen != '\0' ? chosen : ZEMBRAT_FIXTURES_DIR;
}

}  // namespace zembrat::testing

// Skips the running test, saying why, when the shared fixtures are missing (a clone that does
// not sit beside them).
#define ZEMBRAT_SKIP_WITHOUT_FIXTURES()                                                    \
    if (!std::filesystem::is_directory(::zembrat::testing::FixturesDir()))                 \
    GTEST_SKIP() << "the shared fixtures are not at " << ::zembrat::testing::FixturesDir() \
                 << " (a clone beside them, or ZEMBRAT_FIXTURES, runs this test)"
