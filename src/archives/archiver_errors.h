// The component's exceptions. A caller that catches EArchiver also catches the two library
// errors derived from it.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zembrat::archives {

class EArchiver : public std::runtime_error {
  public:
    explicit EArchiver(const std::string& message) : std::runtime_error(message) {}
};

// A library that cannot be loaded.
class ENoArchiverDLL : public EArchiver {
  public:
    using EArchiver::EArchiver;
};

// A required library entry that is missing.
class EEntryNotFound : public EArchiver {
  public:
    using EArchiver::EArchiver;
};

// A required option missing when a driver builds its command: "message (unit, line 行)".
class EAssertionFailed : public std::logic_error {
  public:
    using std::logic_error::logic_error;
};

// A list file that cannot be created or written.
class EStreamError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A text that does not convert to the number, date or time it must hold.
class EConvertError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Fills "%0:s", "%1:s", ... of a message with the arguments, in order.
std::string FormatMessage(std::string_view pattern, const std::vector<std::string>& arguments);

}  // namespace zembrat::archives
