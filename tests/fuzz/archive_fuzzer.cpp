// Opens an archive from bytes and extracts every member to memory: the header parser, the
// embedded-archive search and every decoder. Names go through the checks extraction uses.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "common/name_encoding.h"
#include "common/safe_path.h"
#include "lha/archive.h"

namespace {

using namespace zembrat;

// Counts what a member decodes to. A member may declare gigabytes that a few bytes of a
// compressed stream really produce; past 64 MiB the input is not worth the fuzzer's time.
class CountingOutput final : public lha::OutputStream {
  public:
    void Write(std::span<const std::byte> data) override {
        count_ += data.size();
        if (count_ > (std::uint64_t{64} << 20)) {
            throw lha::Error(lha::ErrorKind::kTooLarge, "fuzz output limit");
        }
    }

  private:
    std::uint64_t count_ = 0;
};

void CheckName(const lha::Member& member) {
    const std::string host =
        common::DecodeStoredName(member.path, member.encoding == lha::NameEncoding::kUtf8,
                                 member.osId, platform::kCodePageUtf8);
    const std::string shown = common::EscapeControlCharacters(host);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto c = static_cast<unsigned char>(shown[i]);
        const auto next = i + 1 < shown.size() ? static_cast<unsigned char>(shown[i + 1]) : 0;
        if (c < 0x20 || c == 0x7F || (c == 0xC2 && next >= 0x80 && next <= 0x9F)) {
            std::abort();  // a control character would reach the terminal
        }
    }
    std::string reason;
    if (auto relative = common::SafeRelativePath(host, reason)) {
        if (relative->empty() || relative->front() == '/' || relative->find("..") == 0 ||
            relative->find("/../") != std::string::npos) {
            std::abort();  // a name that leaves the destination was let through
        }
        if (member.IsSymlink()) {
            common::LinkTargetStaysInside(*relative, member.linkTarget);
        }
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
                CountingOutput out;
                reader.Extract(out);
            } catch (const lha::Error&) {
            }
        }
    } catch (const lha::Error&) {
    }
    return 0;
}
