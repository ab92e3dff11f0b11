// Self-extracting programs carry their archive after the program: the first main header
// (id, sane size, CRC-32 correct, type "main") within the first megabyte is where it starts.
// Only programs (MS-DOS and Windows "MZ", ELF) are searched: a tar or any other container
// that merely holds an ARJ file is not an ARJ archive.
#include <algorithm>
#include <string_view>
#include <vector>

#include "headers.h"

namespace zembrat::arj {

namespace {

constexpr std::uint64_t kScanBytes = 1 << 20;

}  // namespace

std::optional<std::uint64_t> FindEmbeddedArchive(SeekableInput& input) {
    const std::uint64_t size = input.Size();
    std::vector<std::byte> window(static_cast<std::size_t>(std::min(size, kScanBytes)));
    input.Seek(0);
    std::size_t filled = 0;
    while (filled < window.size()) {
        const std::size_t got = input.Read(std::span(window).subspan(filled));
        if (got == 0) {
            break;
        }
        filled += got;
    }
    const std::string_view lead(reinterpret_cast<const char*>(window.data()),
                                std::min<std::size_t>(filled, 4));
    if (!lead.starts_with("MZ") && lead !=
                                       "\x7F"
                                       "ELF") {
        return std::nullopt;
    }
    for (std::size_t i = 0; i + 4 <= filled; ++i) {
        if (window[i] != std::byte{0x60} || window[i + 1] != std::byte{0xEA}) {
            continue;
        }
        try {
            std::optional<RawHeader> header = ReadHeader(input, i);
            if (header && header->fileType == kTypeMain) {
                return i;
            }
        } catch (const Error&) {
            // Not a header after all: the program's own bytes.
        }
    }
    return std::nullopt;
}

std::string VolumeName(const std::string& first, std::size_t index) {
    const std::size_t dot = first.find_last_of('.');
    const std::size_t slash = first.find_last_of('/');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    std::string base = hasExtension ? first.substr(0, dot) : first;
    const bool upper =
        hasExtension && dot + 1 < first.size() && first[dot + 1] >= 'A' && first[dot + 1] <= 'Z';
    std::string number = std::to_string(index);
    if (index < 100) {
        number = std::string(upper ? "A" : "a") + (index < 10 ? "0" : "") + number;
    }
    return base + "." + number;
}

}  // namespace zembrat::arj
