// The helper's own gzip reader: a gzip file (one member or several one after another)
// inflated with ISA-L, several times faster than the decoder library's zlib filter, and handed
// to the decoder as the bytes of the archive. Each member's CRC and length are checked; bytes
// after the last member that do not start another one end the data, as gzip readers do.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct inflate_state;

namespace zembrat::archive_host {

class GunzipSource {
  public:
    // True when the file of fd has a gzip header at start.
    static bool Starts(int fd, off_t start = 0);

    // Inflates the file of fd from start on.
    explicit GunzipSource(int fd, off_t start = 0);
    ~GunzipSource();
    GunzipSource(const GunzipSource&) = delete;
    GunzipSource& operator=(const GunzipSource&) = delete;

    // Up to size bytes of the inflated data; 0 at its end; -1 when the data is damaged or
    // cannot be read (Error() says why).
    ssize_t Read(std::byte* data, std::size_t size);
    const std::string& Error() const { return error_; }

  private:
    bool Refill();

    int fd_;
    off_t position_ = 0;
    std::vector<std::uint8_t> input_;
    std::unique_ptr<inflate_state> state_;
    bool betweenMembers_ = false;
    bool ended_ = false;
    std::string error_;
};

}  // namespace zembrat::archive_host
