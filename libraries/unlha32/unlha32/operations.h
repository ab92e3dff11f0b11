// The commands of the LHA archiver library. Each returns a result code of archiver_api.h
// and writes its text (and the reason of a failure) into the context's output.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "common/output_text.h"
#include "common/progress.h"
#include "unlha32/request.h"

namespace zembrat::unlha32 {

struct Context {
    common::ProgressReporter progress;
    common::OutputText output;
    // Named in the line about a kept file: how the caller asks to overwrite.
    std::string overwriteSwitch = "-m1";
};

// The result of a command that goes on after a member's failure: the first error wins
// over warnings.
class Outcome {
  public:
    void Note(int code) {
        if (code == 0) {
            return;
        }
        if (code_ == 0 || (code_ == kWarning && code != kWarning)) {
            code_ = code;
        }
    }
    int Code() const { return code_; }

  private:
    static constexpr int kWarning = 0x8001;
    int code_ = 0;
};

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

struct MemoryResult {
    std::uint32_t written = 0;
    std::int64_t unixTime = 0;
    std::uint16_t attributes = 0;
};
// The first member matching the request's names, into the buffer.
int ExtractToMemory(const Request& request, std::span<std::byte> buffer, MemoryResult& result,
                    Context& context);

// CheckArchive: the depth in the low nibble (0 first header, 1 or 2 every header, 3 and more
// every member's data and CRC), ARC_CHECK_EMBEDDED to accept self-extracting files.
bool CheckArchive(const std::string& path, int mode);

// Where the self-extracting stub program is; empty when it cannot be found.
std::string FindSfxStub();

}  // namespace zembrat::unlha32
