// Opens ARJ bytes as an archive (searching inside a program when the bytes do not start with
// a header) and as the first of a set of volumes that are all the same bytes, and decodes
// every member: the header reader, the volume chaining and every decoder. Names go through
// the checks extraction uses.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "arj/archive.h"
#include "common/name_encoding.h"
#include "common/safe_path.h"
#include "fuzz_checks.h"

namespace {

using namespace zembrat;

void CheckName(const arj::Member& member) {
    const std::string host = common::DecodeStoredName(
        member.name, false, member.HasUnixNames() ? 'U' : 'M', platform::kCodePageUtf8);
    std::string reason;
    const auto rules = member.HasUnixNames() ? common::NameRules::kUnix : common::NameRules::kDos;
    testing::AbortUnlessContained(common::EscapeControlCharacters(host),
                                  common::SafeRelativePath(host, reason, rules));
}

void ReadAll(std::span<const std::byte> bytes, bool asVolumes) {
    lha::MemoryInput input(bytes);
    try {
        const std::uint64_t start = arj::FindEmbeddedArchive(input).value_or(0);
        // Volumes are the same bytes again, at most four of them.
        arj::VolumeOpener openVolume = [bytes](std::size_t index) {
            return index <= 4 ? std::make_unique<lha::MemoryInput>(bytes) : nullptr;
        };
        arj::Reader reader(input, start, asVolumes ? openVolume : arj::VolumeOpener());
        for (int count = 0; auto member = reader.Next(); ++count) {
            if (count > 100000) {
                std::abort();  // headers move forward, so a small input has few members
            }
            CheckName(*member);
            try {
                testing::CappedOutput out("fuzz output limit");
                reader.Extract(*member, out);
            } catch (const arj::Error&) {
            }
        }
    } catch (const arj::Error&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto bytes = std::as_bytes(std::span(data, size));
    ReadAll(bytes, false);
    ReadAll(bytes, true);
    return 0;
}
