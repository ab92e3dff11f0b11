#include "archive_host/gunzip_source.h"

#include <isa-l/igzip_lib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zembrat::archive_host {

bool GunzipSource::Starts(int fd, off_t start) {
    unsigned char magic[2] = {};
    return ::pread(fd, magic, sizeof magic, start) == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
}

GunzipSource::GunzipSource(int fd, off_t start)
    : fd_(fd), position_(start), input_(256 * 1024), state_(std::make_unique<inflate_state>()) {
    isal_inflate_init(state_.get());
    state_->crc_flag = ISAL_GZIP;
}

GunzipSource::~GunzipSource() = default;

bool GunzipSource::Refill() {
    ssize_t got;
    while ((got = ::pread(fd_, input_.data(), input_.size(), position_)) < 0 && errno == EINTR) {
    }
    if (got < 0) {
        error_ = std::string("cannot read the archive: ") + std::strerror(errno);
        return false;
    }
    position_ += got;
    state_->next_in = input_.data();
    state_->avail_in = static_cast<std::uint32_t>(got);
    return true;
}

ssize_t GunzipSource::Read(std::byte* data, std::size_t size) {
    state_->next_out = reinterpret_cast<std::uint8_t*>(data);
    state_->avail_out = static_cast<std::uint32_t>(std::min<std::size_t>(size, 1u << 30));
    const std::uint32_t asked = state_->avail_out;
    while (state_->avail_out > 0 && !ended_) {
        if (state_->avail_in == 0) {
            if (!Refill()) {
                return -1;
            }
            if (state_->avail_in == 0) {
                if (!betweenMembers_) {
                    error_ = "truncated gzip data";
                    return -1;
                }
                ended_ = true;
                break;
            }
        }
        if (betweenMembers_) {
            if (*state_->next_in != 0x1f) {
                ended_ = true;  // not another member: what follows is not ours to read
                break;
            }
            std::uint8_t* const next = state_->next_in;
            const std::uint32_t left = state_->avail_in;
            std::uint8_t* const out = state_->next_out;
            const std::uint32_t room = state_->avail_out;
            isal_inflate_reset(state_.get());
            state_->crc_flag = ISAL_GZIP;
            state_->next_in = next;
            state_->avail_in = left;
            state_->next_out = out;
            state_->avail_out = room;
            betweenMembers_ = false;
        }
        const int result = isal_inflate(state_.get());
        if (result < 0) {
            error_ = result == ISAL_INCORRECT_CHECKSUM ? "gzip data fails its CRC check"
                                                       : "damaged gzip data";
            return -1;
        }
        if (state_->block_state == ISAL_BLOCK_FINISH) {
            betweenMembers_ = true;
        }
    }
    return static_cast<ssize_t>(asked - state_->avail_out);
}

}  // namespace zembrat::archive_host
