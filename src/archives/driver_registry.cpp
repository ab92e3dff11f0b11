#include "archives/driver_registry.h"

#include <algorithm>

namespace zembrat::archives {

DriverRegistry& DriverRegistry::Instance() {
    static DriverRegistry registry = [] {
        DriverRegistry filled;
        RegisterStandardDrivers(filled);
        return filled;
    }();
    return registry;
}

void DriverRegistry::Register(DriverKind kind) {
    std::erase_if(kinds_, [&](const DriverKind& known) { return known.type == kind.type; });
    kinds_.push_back(std::move(kind));
    std::stable_sort(kinds_.begin(), kinds_.end(),
                     [](const DriverKind& left, const DriverKind& right) {
                         return left.probeOrder < right.probeOrder;
                     });
}

const DriverKind* DriverRegistry::Find(TArchiverType type) const {
    const auto found = std::find_if(kinds_.begin(), kinds_.end(),
                                    [&](const DriverKind& kind) { return kind.type == type; });
    return found == kinds_.end() ? nullptr : &*found;
}

TArchiverType DriverRegistry::DetectByContent(const std::string& fileName) const {
    TArchiverType fallback = atNone;
    TArchiverType recognised = atNone;
    for (const DriverKind& kind : kinds_) {
        if (!kind.recognize) {
            continue;
        }
        TArchiverType answer = atNone;
        try {
            answer = kind.recognize(fileName);
        } catch (...) {
            answer = atNone;  // a recogniser that fails answers no
        }
        if (kind.fallbackRecognizer) {
            fallback = answer;
        } else if (answer != atNone) {
            recognised = answer;
        }
    }
    return recognised != atNone ? recognised : fallback;
}

}  // namespace zembrat::archives
