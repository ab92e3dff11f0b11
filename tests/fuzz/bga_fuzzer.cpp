// Opens a GZA/BZA archive from bytes, walks every header and decodes every member: the header
// checks, the self-extracting trailer and the gzip, bzip2 and stored paths. A member that
// decodes without an error must have given exactly the size its header declares, and names
// go through the checks extraction uses.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bga/reader.h"
#include "bga32/bga32.h"
#include "common/failure.h"
#include "common/safe_path.h"

namespace {

using namespace zembrat;

// A member may declare gigabytes that a few bytes of a stream really produce; past 64 MiB the
// input is not worth the fuzzer's time.
constexpr std::uint64_t kOutputLimit = std::uint64_t{64} << 20;

struct LimitReached {};

void CheckName(const bga::MemberHeader& header) {
    const std::string host = bga32::HostName(header);
    std::string reason;
    if (auto relative = common::SafeRelativePath(host, reason)) {
        // "..." is a name like any other; only a ".." part leads out.
        if (relative->empty() || relative->front() == '/' ||
            ("/" + *relative + "/").find("/../") != std::string::npos) {
            std::abort();  // a name that leaves the destination was let through
        }
    }
}

// The bytes with every header's checksum made right, so that mutations reach the codecs
// instead of stopping at the first checksum.
std::string WithChecksumsFixed(std::string bytes) {
    std::size_t at = 0;
    while (bytes.size() - at >= bga::kHeaderSize) {
        const auto fixed = std::as_bytes(std::span(bytes)).subspan(at).first<bga::kHeaderSize>();
        const std::size_t nameLength = bga::NameLength(fixed);
        if (bytes.size() - at - bga::kHeaderSize < nameLength) {
            break;
        }
        const std::uint32_t sum = bga::Checksum(
            fixed.subspan(4), std::string_view(bytes).substr(at + bga::kHeaderSize, nameLength));
        for (int i = 0; i < 4; ++i) {
            bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(sum >> (8 * i));
        }
        const std::uint64_t packed = std::to_integer<std::uint32_t>(fixed[8]) |
                                     std::to_integer<std::uint32_t>(fixed[9]) << 8 |
                                     std::to_integer<std::uint32_t>(fixed[10]) << 16 |
                                     std::to_integer<std::uint32_t>(fixed[11]) << 24;
        at += bga::kHeaderSize + nameLength;
        if (bytes.size() - at < packed) {
            break;
        }
        at += static_cast<std::size_t>(packed);
    }
    return bytes;
}

void ReadAll(std::string_view bytes) {
    const int fd = memfd_create("bga", MFD_CLOEXEC);
    if (fd < 0) {
        return;
    }
    if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        close(fd);
        return;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    try {
        bga::ArchiveReader reader(path);
        while (auto member = reader.Next()) {
            CheckName(member->header);
            std::uint64_t produced = 0;
            try {
                bga::DecodeMember(reader.Fd(), *member, [&](std::span<const std::byte> piece) {
                    produced += piece.size();
                    if (produced > kOutputLimit) {
                        throw LimitReached{};
                    }
                });
                if (produced != member->header.originalSize) {
                    std::abort();  // a member came out at another size than declared
                }
            } catch (const common::Failure&) {
            } catch (const LimitReached&) {
            }
        }
    } catch (const common::Failure&) {
    }
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ReadAll(bytes);
    const std::string fixed = WithChecksumsFixed(std::string(bytes));
    if (fixed != bytes) {
        ReadAll(fixed);
    }
    return 0;
}
