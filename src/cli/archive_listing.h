// list and test: the driver's listing entries and its archive check, archive by archive.
#pragma once

#include <string>
#include <vector>

#include "archives/archiver_dll.h"
#include "cli_arguments.h"
#include "console.h"

namespace zembrat::cli {

// One member line: original, packed, ratio, method, local date and time, name.
std::string FormatEntryLine(const archives::TArchiveEntryInfo& entry);
// The heading, the rule, and the totals line of a listing.
std::string ListingHeading();
std::string ListingRule();
std::string FormatTotalsLine(std::uint64_t original, std::uint64_t packed, std::size_t members);

// Both answer 0, 1 when an archive could not be read or is not sound (the others are still
// handled), 3 when a component error ended the command, 128 + the signal when interrupted.
int RunListCommand(const CliArguments& arguments, Console& console);
int RunTestCommand(const CliArguments& arguments, Console& console);

}  // namespace zembrat::cli
