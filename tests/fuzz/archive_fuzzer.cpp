// Opens an archive from bytes and extracts every member to memory: the header parser, the
// embedded-archive search and every decoder. Names go through the checks extraction uses.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "common/name_encoding.h"
#include "common/safe_path.h"
#include "fuzz_checks.h"
#include "lha/archive.h"

namespace {

using namespace zembrat;

void CheckName(const lha::Member& member) {
    const std::string host =
        common::DecodeStoredName(member.path, member.encoding == lha::NameEncoding::kUtf8,
                                 member.osId, platform::kCodePageUtf8);
    std::string reason;
    const auto relative = common::SafeRelativePath(host, reason);
    testing::AbortUnlessContained(common::EscapeControlCharacters(host), relative);
    if (relative && member.IsSymlink()) {
        common::LinkTargetStaysInside(*relative, member.linkTarget);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lha::MemoryInput input(std::as_bytes(std::span(data, size)));
    try {
        lha::Reader reader(input);
        std::uint64_t previous = 0;
        while (auto member = reader.Next()) {
            // Headers only ever move forward, so that no archive loops.
            if (member->headerOffset < previous || member->dataOffset <= member->headerOffset) {
                std::abort();
            }
            previous = member->dataOffset;
            CheckName(*member);
            try {
                testing::CappedOutput out("fuzz output limit");
                reader.Extract(out);
            } catch (const lha::Error&) {
            }
        }
    } catch (const lha::Error&) {
    }
    return 0;
}
