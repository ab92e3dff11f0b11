// Runs one command of an archiver library and turns what it throws into a result code, with
// the reason as the first line of the output.
#pragma once

#include <exception>
#include <new>
#include <optional>
#include <string>

#include "archiver_api.h"
#include "common/failure.h"
#include "export/backend.h"

namespace zembrat::exports {

// describeLibraryError: the code and reason of an error of the library's own format layer,
// or nothing for any other exception (which is then an internal error).
template <typename Command, typename DescribeLibraryError>
int Guarded(Context& context, Command command, DescribeLibraryError describeLibraryError) {
    try {
        return command();
    } catch (const common::Failure& failure) {
        context.output.FirstLine(failure.what());
        return failure.Code();
    } catch (const std::bad_alloc&) {
        context.output.FirstLine("out of memory");
        return ARC_ERROR_NO_MEMORY;
    } catch (const std::exception& error) {
        if (const std::optional<common::Failure> known = describeLibraryError(error)) {
            context.output.FirstLine(known->what());
            return known->Code();
        }
        context.output.FirstLine(std::string("internal error: ") + error.what());
        return ARC_ERROR_INTERNAL;
    }
}

// A describeLibraryError for a library over one engine: an EngineError as describe(error)
// says, nothing for any other exception.
template <typename EngineError, typename Describe>
auto DescribeEngineError(Describe describe) {
    return [describe](const std::exception& error) -> std::optional<common::Failure> {
        if (const auto* known = dynamic_cast<const EngineError*>(&error)) {
            return describe(*known);
        }
        return std::nullopt;
    };
}

}  // namespace zembrat::exports
