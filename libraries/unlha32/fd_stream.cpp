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

void BoundedOutput::Write(std::span<const std::byte> data) {
    const std::size_t room = buffer_.size() - stored_;
    const std::size_t take = std::min(room, data.size());
    std::copy_n(data.begin(), take, buffer_.begin() + static_cast<std::ptrdiff_t>(stored_));
    stored_ += take;
    total_ += data.size();
}

}  // namespace zembrat::unlha32
