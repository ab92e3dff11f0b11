// The RAR reader of versions 1.5 to 4.x, one build per method family (RAR_FUZZ_FAMILY):
//   0   the bytes as an archive (and as every volume of a set of the same bytes): headers,
//       volume chaining, self-extracting search, then every member decoded;
//   15, 20, 29  the bytes as one method's packed data, in a member built around them;
//   36  the same with the first byte marking a PPMd block (version 2.9's PPMd).
// A method target takes a five-byte prefix: the member's size (four bytes) and
// a flag byte (bit 0: the data is cut in two members of one solid stream); sizes are taken
// modulo 256 KiB.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "common/safe_path.h"
#include "rar/archive.h"

#ifndef RAR_FUZZ_FAMILY
#error "RAR_FUZZ_FAMILY names the method family"
#endif

namespace {

using namespace zembrat;

// Decodes with a cap on what a member may give, so that a crafted size cannot stall the run.
void DecodeEvery(rar::Reader& reader) {
    for (int count = 0; auto member = reader.Next(); ++count) {
        if (count > 100000) {
            std::abort();  // headers move forward, so a small input has few members
        }
        std::string reason;
        const std::string shown = common::EscapeControlCharacters(member->name);
        static_cast<void>(common::SafeRelativePath(member->name, reason, common::NameRules::kUnix));
        if (shown.find('\x1b') != std::string::npos) {
            std::abort();
        }
        std::uint64_t total = 0;
        try {
            reader.Extract(*member, [&](std::span<const std::byte> data) {
                total += data.size();
                if (total > member->size) {
                    std::abort();  // a member never gives more than its size
                }
            });
        } catch (const rar::Error&) {
        }
    }
}

void Put16(std::string& out, unsigned value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// A block: CRC-16, then the rest.
void AddBlock(std::string& archive, const std::string& rest) {
    const std::uint32_t crc = rar::Crc32(std::as_bytes(std::span(rest.data(), rest.size())));
    Put16(archive, crc & 0xFFFF);
    archive += rest;
}

std::string FileBlock(const std::string& name, std::span<const std::uint8_t> packed,
                      std::uint32_t size, unsigned version, bool solid) {
    std::string rest;
    rest += '\x74';
    Put16(rest, 0x8000 | (solid ? 0x10 : 0) | 0x40);  // data follows; 256 KB dictionary
    Put16(rest, static_cast<unsigned>(32 + name.size()));
    Put32(rest, static_cast<std::uint32_t>(packed.size()));
    Put32(rest, size);
    rest += '\x03';           // made on Unix
    Put32(rest, 0);           // CRC: the member fails its check, after decoding whole
    Put32(rest, 0x5A210000);  // a time
    rest += static_cast<char>(version);
    rest += '\x33';
    Put16(rest, static_cast<unsigned>(name.size()));
    Put32(rest, 0x81A4);
    rest += name;
    return rest;
}

// A file block and its packed data.
[[maybe_unused]] void AddMember(std::string& archive, const std::string& name,
                                std::span<const std::uint8_t> packed, std::uint32_t size,
                                unsigned version, bool solid) {
    AddBlock(archive, FileBlock(name, packed, size, version, solid));
    archive.append(reinterpret_cast<const char*>(packed.data()), packed.size());
}

void ReadArchive(const std::string& bytes, bool asVolumes) {
    try {
        const auto view = std::as_bytes(std::span(bytes.data(), bytes.size()));
        rar::VolumeOpener openVolume = [view](std::size_t index) {
            return index <= 4 ? rar::MemoryInput(view) : nullptr;
        };
        rar::Reader reader(rar::MemoryInput(view), asVolumes ? openVolume : rar::VolumeOpener());
        DecodeEvery(reader);
    } catch (const rar::Error&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if constexpr (RAR_FUZZ_FAMILY == 0) {
        const std::string bytes(reinterpret_cast<const char*>(data), size);
        ReadArchive(bytes, false);
        ReadArchive(bytes, true);
        return 0;
    }
    if (size < 6) {
        return 0;
    }
    std::uint32_t memberSize = 0;
    std::memcpy(&memberSize, data, 4);
    memberSize &= 0x3FFFF;  // 256 KiB: long outputs only slow the search down
    const bool twoMembers = (data[4] & 1) != 0;
    std::string packed(reinterpret_cast<const char*>(data + 5), size - 5);
    unsigned version = RAR_FUZZ_FAMILY;
    if (RAR_FUZZ_FAMILY == 29) {
        packed[0] = static_cast<char>(packed[0] & 0x7F);  // an LZ block
    } else if (RAR_FUZZ_FAMILY == 36) {
        // A PPMd block that starts a model of at most 16 MB.
        packed[0] = static_cast<char>(packed[0] | 0x80);
        if ((packed[0] & 0x20) != 0 && packed.size() > 1) {
            packed[1] = static_cast<char>(packed[1] & 0x0F);
        }
        version = 29;
    }
    std::string archive("Rar!\x1a\x07\x00", 7);
    std::string main;
    main += '\x73';
    Put16(main, 0x0008);  // solid
    Put16(main, 13);
    Put16(main, 0);
    Put32(main, 0);
    AddBlock(archive, main);
    const auto all = std::span(reinterpret_cast<const std::uint8_t*>(packed.data()), packed.size());
    if (twoMembers) {
        const std::size_t half = all.size() / 2;
        AddBlock(archive, FileBlock("a", all.first(half), memberSize / 2, version, false));
        AddBlock(archive,
                 FileBlock("b", all.subspan(half), memberSize - memberSize / 2, version, true));
    } else {
        AddBlock(archive, FileBlock("a", all, memberSize, version, false));
    }
    ReadArchive(archive, false);
    return 0;
}
