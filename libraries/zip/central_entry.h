// A member as the central directory describes it: one written here, or one copied unchanged
// from an existing archive.
#pragma once

#include <cstdint>
#include <string>

#include "zip_format.h"

namespace zembrat::zip {

struct CentralEntry {
    std::string storedName;
    std::uint16_t versionMadeBy = format::kMadeByUnix | format::kVersionDeflate;
    std::uint16_t versionNeeded = format::kVersionDeflate;
    std::uint16_t flags = 0;
    std::uint16_t method = format::kMethodStored;
    std::uint16_t dosTime = 0;
    std::uint16_t dosDate = 0;
    std::uint16_t internalAttributes = 0;
    std::uint32_t crc = 0;
    std::uint32_t externalAttributes = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t localOffset = 0;
    std::string extras;  // every central extra field but the ZIP64 one, which is made here
    std::string comment;
    bool zip64Sizes = false;  // the local header holds ZIP64 sizes: the central one does too

    // The central header, with a ZIP64 field for the values that do not fit 32 bits.
    void AppendTo(std::string& out) const {
        using namespace format;
        const bool bigSize = size >= kOverflow32 || zip64Sizes;
        const bool bigCompressed = compressedSize >= kOverflow32 || zip64Sizes;
        const bool bigOffset = localOffset >= kOverflow32;
        std::string zip64;
        if (bigSize) {
            Put64(zip64, size);
        }
        if (bigCompressed) {
            Put64(zip64, compressedSize);
        }
        if (bigOffset) {
            Put64(zip64, localOffset);
        }
        std::string allExtras;
        if (!zip64.empty()) {
            PutExtra(allExtras, kExtraZip64, zip64);
        }
        allExtras += extras;
        const std::uint16_t needed =
            zip64.empty() || versionNeeded >= kVersionZip64 ? versionNeeded : kVersionZip64;
        const std::uint16_t madeBy =
            (versionMadeBy & 0xFF) >= needed ? versionMadeBy : ((versionMadeBy & 0xFF00) | needed);
        Put32(out, kCentralHeader);
        Put16(out, madeBy);
        Put16(out, needed);
        Put16(out, flags);
        Put16(out, method);
        Put16(out, dosTime);
        Put16(out, dosDate);
        Put32(out, crc);
        Put32(out, bigCompressed ? kOverflow32 : static_cast<std::uint32_t>(compressedSize));
        Put32(out, bigSize ? kOverflow32 : static_cast<std::uint32_t>(size));
        Put16(out, static_cast<std::uint16_t>(storedName.size()));
        Put16(out, static_cast<std::uint16_t>(allExtras.size()));
        Put16(out, static_cast<std::uint16_t>(comment.size()));
        Put16(out, 0);  // disk number
        Put16(out, internalAttributes);
        Put32(out, externalAttributes);
        Put32(out, bigOffset ? kOverflow32 : static_cast<std::uint32_t>(localOffset));
        out += storedName;
        out += allExtras;
        out += comment;
    }
};

}  // namespace zembrat::zip
