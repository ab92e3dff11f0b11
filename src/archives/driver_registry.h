// Which archive kinds have a driver, how to create one, and how to recognise a kind from a
// file's content. The component consults only this table, so a format unit plugs in by
// registering itself in RegisterStandardDrivers (src/drivers/standard_drivers.cpp) without
// any change to the component.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archives/archiver.h"
#include "archives/archiver_types.h"

namespace zembrat::archives {

struct DriverKind {
    TArchiverType type = atNone;
    // Creates a driver; may raise (a missing library: ENoArchiverDLL).
    std::function<std::unique_ptr<TArchiver>()> create;
    // Content recognition: the kind the file holds, or atNone. Never raises. May be empty.
    std::function<TArchiverType(const std::string& fileName)> recognize;
    // Recognisers are asked in ascending order; a later "yes" wins over an earlier one.
    int probeOrder = 0;
    // A fallback recogniser's answer counts only when no other recogniser said yes.
    bool fallbackRecognizer = false;
};

class DriverRegistry {
  public:
    // The process-wide table, filled by RegisterStandardDrivers on first use.
    static DriverRegistry& Instance();

    void Register(DriverKind kind);
    // nullptr when the kind has no driver.
    const DriverKind* Find(TArchiverType type) const;
    // Asks every recogniser in probe order.
    TArchiverType DetectByContent(const std::string& fileName) const;

  private:
    std::vector<DriverKind> kinds_;
};

// Registers every format unit linked into the program; defined by src/drivers.
void RegisterStandardDrivers(DriverRegistry& registry);

}  // namespace zembrat::archives
