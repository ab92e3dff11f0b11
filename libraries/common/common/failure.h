// A failure that ends an archiver library's command: a result code of archiver_api.h and a
// one-line reason, which becomes the first line of the command's output.
#pragma once

#include <stdexcept>
#include <string>

namespace zembrat::common {

class Failure : public std::runtime_error {
  public:
    Failure(int code, const std::string& reason) : std::runtime_error(reason), code_(code) {}
    int Code() const { return code_; }

  private:
    int code_;
};

}  // namespace zembrat::common
