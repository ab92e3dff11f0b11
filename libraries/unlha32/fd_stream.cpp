#include "unlha32/fd_stream.h"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "archiver_api.h"
#include "lha/archive.h"
#include "unlha32/request.h"

namespace zembrat::unlha32 {

void FdOutput::Write(std::span<const std::byte> data) {
    while (!data.empty()) {
        const ssize_t written =
            pwrite(fd_, data.data(), data.size(), static_cast<off_t>(position_));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            // Not an lha::Error: a full disk ends the whole command, not just one member.
            throw Failure(ARC_ERROR_CANNOT_WRITE,
                          std::string("cannot write: ") + std::strerror(errno));
        }
        position_ += static_cast<std::uint64_t>(written);
        data = data.subspan(static_cast<std::size_t>(written));
    }
}

void FdOutput::Seek(std::uint64_t offset) {
    position_ = offset;
}

void BoundedOutput::Write(std::span<const std::byte> data) {
    const std::size_t room = buffer_.size() - stored_;
    const std::size_t take = std::min(room, data.size());
    std::copy_n(data.begin(), take, buffer_.begin() + static_cast<std::ptrdiff_t>(stored_));
    stored_ += take;
    total_ += data.size();
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

}  // namespace zembrat::unlha32
