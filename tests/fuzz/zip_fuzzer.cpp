// Opens ZIP bytes with the engine's in-process reader (no helper) and decodes every member:
// the end records, the directory, the local headers and the bounds between them, and every
// method's decoder. Names go through the checks extraction uses; what a member decodes to is
// bounded by the size the directory gives.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "common/name_encoding.h"
#include "common/safe_path.h"
#include "fuzz_checks.h"
#include "zip/zip.h"

namespace {

using namespace zembrat;

class CountingSink final : public zip::DataSink {
  public:
    void Write(std::span<const std::byte> data) override { count += data.size(); }
    std::uint64_t count = 0;
};

// The shown name holds no control character, and a path the check lets through stays below
// the destination. A part that only starts with ".." ("..MACOSX") is an ordinary name.
void CheckName(const zip::Member& member) {
    std::string reason;
    const auto rules =
        member.madeOnUnix.value_or(false) ? common::NameRules::kUnix : common::NameRules::kDos;
    testing::AbortUnlessContained(common::EscapeControlCharacters(member.name), std::nullopt);
    const auto relative = common::SafeRelativePath(member.name, reason, rules);
    if (relative && (relative->empty() || relative->front() == '/' ||
                     ("/" + *relative + "/").find("/../") != std::string::npos)) {
        std::abort();  // a name that leaves the destination was let through
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = memfd_create("zip", MFD_CLOEXEC);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size)) {
        std::abort();
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    try {
        zip::ReaderOptions options;
        options.inProcessOnly = true;
        zip::Reader reader(path, options);
        while (auto member = reader.Next()) {
            CheckName(*member);
            if (member->kind != zip::MemberKind::kFile) {
                continue;
            }
            CountingSink sink;
            try {
                reader.Extract(sink);
            } catch (const zip::Error& error) {
                if (error.Kind() != zip::ErrorKind::kMember) {
                    throw;
                }
            }
            if (sink.count > member->size.value_or(0)) {
                std::abort();  // more than the directory allows reached the sink
            }
        }
    } catch (const zip::Error&) {
    }
    close(fd);
    return 0;
}
