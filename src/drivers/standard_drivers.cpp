// The format units linked into the component. A kind that is not registered here is
// refused as an unsupported kind, and content detection does without its recogniser.
#include "archives/driver_registry.h"
#include "drivers/arj32.h"
#include "drivers/bga32.h"
#include "drivers/cab32.h"
#include "drivers/lha32.h"
#include "drivers/rar32.h"
#include "drivers/tar32.h"
#include "drivers/zip32.h"

namespace zembrat::archives {

namespace {

// A driver class and its content probe, registered as one kind.
template <class Driver, bool (*IsArchive)(const std::string&)>
DriverKind Kind(TArchiverType type, int probeOrder) {
    return {
        .type = type,
        .create = [] { return std::make_unique<Driver>(); },
        .recognize =
            [type](const std::string& fileName) { return IsArchive(fileName) ? type : atNone; },
        .probeOrder = probeOrder,
        .fallbackRecognizer = false,
    };
}

// A kind that content detection reaches through another kind's recogniser.
template <class Driver>
DriverKind KindWithoutProbe(TArchiverType type) {
    return {
        .type = type,
        .create = [] { return std::make_unique<Driver>(); },
        .recognize = nullptr,
        .probeOrder = 0,
        .fallbackRecognizer = false,
    };
}

}  // namespace

void RegisterStandardDrivers(DriverRegistry& registry) {
    // Probe order: tar (a fallback), rar, arj, zip, bga, cab, lha; a later "yes" wins.
    // The tar library names all three of its kinds; its answer counts only when no other
    // recogniser claims the file.
    DriverKind tar = KindWithoutProbe<drivers::TTar32>(atTar);
    tar.recognize = drivers::TarArchiverType;
    tar.fallbackRecognizer = true;
    registry.Register(std::move(tar));
    registry.Register(KindWithoutProbe<drivers::TTgz32>(atTgz));
    registry.Register(KindWithoutProbe<drivers::TBZ232>(atBZ2));
    registry.Register(Kind<drivers::TRar32, drivers::IsRarArchive>(atRar, 1));
    registry.Register(Kind<drivers::TArj32, drivers::IsArjArchive>(atArj, 2));
    registry.Register(Kind<drivers::TZip32, drivers::IsZipArchive>(atZip, 3));
    registry.Register(Kind<drivers::TBGA32, drivers::IsBgaArchive>(atBga, 4));
    registry.Register(Kind<drivers::TCab32, drivers::IsCabArchive>(atCab, 5));
    registry.Register(Kind<drivers::TLha32, drivers::IsLhaArchive>(atLha, 6));
}

}  // namespace zembrat::archives
