// File and memory streams.
#include "lha/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "lha/archive.h"

namespace zembrat::lha {
namespace {

[[noreturn]] void ThrowIo(const std::string& what) {
    throw Error(ErrorKind::kIo, what + ": " + std::strerror(errno));
}

int OpenForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ThrowIo("cannot open " + path);
    }
    return fd;
}

}  // namespace

FileInput::FileInput(const std::string& path) : FileInput(OpenForReading(path)) {}

FileInput::FileInput(int descriptor) : fd_(descriptor) {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        const int error = errno;
        ::close(fd_);
        errno = error;
        ThrowIo("cannot stat an input file");
    }
    size_ = static_cast<std::uint64_t>(info.st_size);
}

FileInput::~FileInput() {
    ::close(fd_);
}

std::size_t FileInput::Read(std::span<std::byte> buffer) {
    for (;;) {
        ssize_t got = ::pread(fd_, buffer.data(), buffer.size(), static_cast<off_t>(position_));
        if (got >= 0) {
            position_ += static_cast<std::uint64_t>(got);
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            ThrowIo("read failed");
        }
    }
}

void FileInput::Seek(std::uint64_t offset) {
    position_ = offset;
}
std::uint64_t FileInput::Tell() const {
    return position_;
}
std::uint64_t FileInput::Size() const {
    return size_;
}

FileOutput::FileOutput(const std::string& path, unsigned mode)
    : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode)) {
    if (fd_ < 0) {
        ThrowIo("cannot create " + path);
    }
}

FileOutput::~FileOutput() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void FileOutput::Write(std::span<const std::byte> data) {
    if (fd_ < 0) {
        throw Error(ErrorKind::kIo, "write to a closed file");
    }
    while (!data.empty()) {
        ssize_t done = ::pwrite(fd_, data.data(), data.size(), static_cast<off_t>(position_));
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowIo("write failed");
        }
        position_ += static_cast<std::uint64_t>(done);
        data = data.subspan(static_cast<std::size_t>(done));
    }
}

void FileOutput::Seek(std::uint64_t offset) {
    position_ = offset;
}
std::uint64_t FileOutput::Tell() const {
    return position_;
}

void FileOutput::Close() {
    if (fd_ < 0) {
        return;
    }
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        ThrowIo("close failed");
    }
}

std::size_t MemoryInput::Read(std::span<std::byte> buffer) {
    if (position_ >= data_.size()) {
        return 0;
    }
    std::size_t count =
        std::min<std::size_t>(buffer.size(), data_.size() - static_cast<std::size_t>(position_));
    std::memcpy(buffer.data(), data_.data() + position_, count);
    position_ += count;
    return count;
}

void MemoryInput::Seek(std::uint64_t offset) {
    position_ = offset;
}

void MemoryOutput::Write(std::span<const std::byte> data) {
    if (data.empty()) {
        return;
    }
    std::size_t end = static_cast<std::size_t>(position_) + data.size();
    if (end > data_.size()) {
        data_.resize(end);
    }
    std::memcpy(data_.data() + position_, data.data(), data.size());
    position_ = end;
}

}  // namespace zembrat::lha
