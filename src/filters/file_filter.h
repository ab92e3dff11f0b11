// The component-side file filter: before a pack, turns the caller's items (files, folders,
// wildcards) into an explicit sorted list of files, applying attributes, recursion, a date
// range and exclusions, so that the library does no selection of its own.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "archiver_api.h"
#include "archives/archiver_options.h"
#include "archives/file_items.h"

namespace zembrat::filters {

// Told about each name added: state ARC_PROGRESS_SELECT (2053), a record whose source name
// holds the name, and the caller's abort flag, which the callback may set.
using FilterProgress = std::function<void(int state, LPEXTRACTINGINFOEX record, bool& abort)>;

// Reads a, r, p, ji, jf, jo, job and jx of the options; afterwards sets r to -1, jo and job
// to NoValue and p to 1, so that the command line carries no selection switches. The
// current folder is restored whatever happens. abort is read, never written.
archives::StringList ExpandFileList(archives::TArchiverOptions& options,
                                    const std::string& baseFolder, const FilterProgress& progress,
                                    archives::FileItems items, bool& abort);

// A date bound "[l]YYMMDD[hhmmss]" or "[l]YYYYMMDD[hhmmss]" as a local time (100 ns units
// since 1601; the first instant of 1601 is 0 and still a bound); none for any other length.
// The time defaults to defaultTime ("hhmmss"). A
// two-digit year is placed in the century window around the current year. Throws
// EConvertError for non-digits or an impossible date or time.
std::optional<std::uint64_t> ParseDateBound(const std::string& text, std::string_view defaultTime,
                                            int currentYear);

}  // namespace zembrat::filters
