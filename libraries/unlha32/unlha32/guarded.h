// Runs one command and turns what it throws into a result code, with the reason as the
// first line of the output.
#pragma once

#include <exception>
#include <optional>

#include "archiver_api.h"
#include "export/guarded.h"
#include "lha/archive.h"
#include "unlha32/archive_source.h"
#include "unlha32/operations.h"

namespace zembrat::unlha32 {

// The code and reason of an error of the LHA format layer.
inline std::optional<Failure> DescribeLhaError(const std::exception& error) {
    if (dynamic_cast<const lha::Aborted*>(&error) != nullptr) {
        return StoppedByOwner();
    }
    if (const auto* lhaError = dynamic_cast<const lha::Error*>(&error)) {
        return Failure(ResultFor(*lhaError), lhaError->what());
    }
    return std::nullopt;
}

template <typename Command>
int Guarded(Context& context, Command command) {
    return exports::Guarded(context, command, DescribeLhaError);
}

}  // namespace zembrat::unlha32
