// Runs one command and turns what it throws into a result code, with the reason as the
// first line of the output.
#pragma once

#include <new>
#include <string>

#include "archiver_api.h"
#include "lha/archive.h"
#include "unlha32/archive_source.h"
#include "unlha32/operations.h"

namespace zembrat::unlha32 {

template <typename Command>
int Guarded(Context& context, Command command) {
    try {
        return command();
    } catch (const Failure& failure) {
        context.output.FirstLine(failure.what());
        return failure.Code();
    } catch (const lha::Aborted&) {
        context.output.FirstLine("stopped at the owner window's request");
        return ARC_ERROR_ABORTED;
    } catch (const lha::Error& error) {
        context.output.FirstLine(error.what());
        return ResultFor(error);
    } catch (const std::bad_alloc&) {
        context.output.FirstLine("out of memory");
        return ARC_ERROR_NO_MEMORY;
    } catch (const std::exception& error) {
        context.output.FirstLine(std::string("internal error: ") + error.what());
        return ARC_ERROR_INTERNAL;
    }
}

}  // namespace zembrat::unlha32
