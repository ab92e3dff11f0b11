// Frees a library loaded in a test, whatever the test's outcome.
#pragma once

#include <memory>

#include "platform/dynamic_library.h"

namespace zembrat::platform::testing {

struct LibraryFreer {
    void operator()(void* module) const { FreeLibrary(module); }
};
using LoadedLibrary = std::unique_ptr<void, LibraryFreer>;

}  // namespace zembrat::platform::testing
