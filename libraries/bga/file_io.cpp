#include "bga/file_io.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "archiver_api.h"
#include "common/failure.h"

namespace zembrat::bga {

std::size_t ReadAt(int fd, std::uint64_t offset, std::span<std::byte> buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got = pread(fd, buffer.data() + done, buffer.size() - done,
                                  static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw common::Failure(ARC_ERROR_CANNOT_READ,
                                  std::string("cannot read the archive: ") + std::strerror(errno));
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void WriteAll(int fd, std::span<const std::byte> data) {
    while (!data.empty()) {
        const ssize_t put = write(fd, data.data(), data.size());
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            throw common::Failure(ARC_ERROR_CANNOT_WRITE,
                                  std::string("cannot write: ") + std::strerror(errno));
        }
        data = data.subspan(static_cast<std::size_t>(put));
    }
}

void CopyBytes(int from, std::uint64_t start, std::uint64_t end, int out) {
    std::vector<std::byte> piece(256 * 1024);
    while (start < end) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), end - start));
        if (ReadAt(from, start, std::span(piece).first(want)) != want) {
            throw common::Failure(ARC_ERROR_CANNOT_READ, "a file ended before it was copied");
        }
        WriteAll(out, std::span(piece).first(want));
        start += want;
    }
}

}  // namespace zembrat::bga
