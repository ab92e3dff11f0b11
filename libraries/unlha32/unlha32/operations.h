// The commands of the LHA archiver library. Each returns a result code of archiver_api.h
// and writes its text (and the reason of a failure) into the context's output.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "export/backend.h"
#include "unlha32/request.h"

namespace zembrat::unlha32 {

using exports::Context;
using exports::MemoryResult;
using exports::Outcome;

// Parses and runs one command line (the library's command entry).
int RunCommandLine(std::string_view commandLine, Context& context);
// Runs a parsed request; a Failure becomes its code with the reason as the first line.
int Execute(const Request& request, Context& context);

int Extract(const Request& request, Context& context, bool keepFolders);  // x, e
int Test(const Request& request, Context& context);                       // t
int List(const Request& request, Context& context, bool verbose);         // l, v
int Pack(const Request& request, Context& context);                       // a, u, f
int Delete(const Request& request, Context& context);                     // d
int MakeSelfExtracting(const Request& request, Context& context);         // s

// The first member matching the request's names, into the buffer.
int ExtractToMemory(const Request& request, std::span<std::byte> buffer, MemoryResult& result,
                    Context& context);

// CheckArchive: the depth in the low two bits (0 first header, 1 or 2 every header, 3
// every member's data and CRC), ARC_CHECK_EMBEDDED to accept self-extracting files.
bool CheckArchive(const std::string& path, int mode);

// Where the self-extracting stub program is; empty when it cannot be found.
std::string FindSfxStub();

}  // namespace zembrat::unlha32
