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

namespace {

using namespace zembrat;

// Counts what a member decodes to; past 64 MiB the input is not worth the fuzzer's time.
class CountingOutput final : public arj::OutputStream {
  public:
    void Write(std::span<const std::byte> data) override {
        count_ += data.size();
        if (count_ > (std::uint64_t{64} << 20)) {
            throw arj::Error(arj::ErrorKind::kTooLarge, "fuzz output limit");
        }
    }

  private:
    std::uint64_t count_ = 0;
};

void CheckName(const arj::Member& member) {
    const std::string host = common::DecodeStoredName(
        member.name, false, member.HasUnixNames() ? 'U' : 'M', platform::kCodePageUtf8);
    const std::string shown = common::EscapeControlCharacters(host);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto c = static_cast<unsigned char>(shown[i]);
        const auto next = i + 1 < shown.size() ? static_cast<unsigned char>(shown[i + 1]) : 0;
        if (c < 0x20 || c == 0x7F || (c == 0xC2 && next >= 0x80 && next <= 0x9F)) {
            std::abort();  // a control character would reach the terminal
        }
    }
    std::string reason;
    const auto rules = member.HasUnixNames() ? common::NameRules::kUnix : common::NameRules::kDos;
    if (auto relative = common::SafeRelativePath(host, reason, rules)) {
        if (relative->empty() || relative->front() == '/' || relative->find("..") == 0 ||
            relative->find("/../") != std::string::npos) {
            std::abort();  // a name that leaves the destination was let through
        }
    }
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
                CountingOutput out;
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
