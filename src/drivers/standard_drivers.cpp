// The format units linked into the component. A kind that is not registered here is
// refused as an unsupported kind, and content detection does without its recogniser:
// today only the LHA driver exists (ZIP, CAB, ARJ, TAR, RAR and BGA follow).
#include "archives/driver_registry.h"
#include "drivers/lha32.h"

namespace zembrat::archives {

void RegisterStandardDrivers(DriverRegistry& registry) {
    // Probe order: tar (a fallback), rar, arj, zip, bga, cab, lha; a later "yes" wins.
    registry.Register({
        .type = atLha,
        .create = [] { return std::make_unique<drivers::TLha32>(); },
        .recognize =
            [](const std::string& fileName) {
                return drivers::IsLhaArchive(fileName) ? atLha : atNone;
            },
        .probeOrder = 6,
        .fallbackRecognizer = false,
    });
}

}  // namespace zembrat::archives
