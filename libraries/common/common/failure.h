// A failure that ends an archiver library's command: a result code of archiver_api.h and a
// one-line reason, which becomes the first line of the command's output.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "archiver_api.h"

namespace zembrat::common {

class Failure : public std::runtime_error {
  public:
    Failure(int code, const std::string& reason) : std::runtime_error(reason), code_(code) {}
    int Code() const { return code_; }

  private:
    int code_;
};

// ExtractMem: the caller's buffer took only the first stored of the member's total bytes.
inline Failure BufferTooSmall(std::uint64_t stored, std::uint64_t total) {
    return Failure(ARC_ERROR_BUFFER_TOO_SMALL, "the buffer holds " + std::to_string(stored) +
                                                   " of " + std::to_string(total) + " bytes");
}

// ExtractMem: no member has the name given.
inline Failure NoMemberMatches() {
    return Failure(ARC_ERROR_NO_FILES, "no member matches the name given");
}

}  // namespace zembrat::common
