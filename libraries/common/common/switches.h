// "-" switches of a library command line. Each library declares the switches it knows; a
// token is matched against the longest declared name whose remainder suits its kind.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zembrat::common {

enum class SwitchKind {
    kFlag,    // the name alone: "-+"
    kNumber,  // the name and decimal digits; the name alone means 1: "-m2", "-r"
    kText,    // the name and any text, also none: "-jx*.bak", "-w/tmp/"
};

struct SwitchSpec {
    std::string_view name;  // without the leading '-'
    SwitchKind kind;
};

// The switches given on one command line. A number or flag given twice keeps the last
// value; text switches keep every value in order.
class SwitchSet {
  public:
    explicit SwitchSet(std::span<const SwitchSpec> known) : known_(known) {}

    // Records one token that starts with '-'. On failure returns the reason (one line).
    std::optional<std::string> Parse(std::string_view token);

    bool Has(std::string_view name) const;
    std::int64_t Number(std::string_view name, std::int64_t fallback) const;
    // Every value a text switch was given, in order.
    std::vector<std::string> Texts(std::string_view name) const;

  private:
    std::span<const SwitchSpec> known_;
    std::map<std::string, std::int64_t, std::less<>> numbers_;
    std::map<std::string, std::vector<std::string>, std::less<>> texts_;
};

}  // namespace zembrat::common
