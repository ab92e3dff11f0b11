// Stream adapters the reader and writer share: bounded input, checked output.
#pragma once

#include <algorithm>
#include <cstdint>

#include "lha/archive.h"

namespace zembrat::lha {

// At most limit bytes of another input; the end of the underlying input ends it early.
class BoundedInput final : public InputStream {
  public:
    BoundedInput(InputStream& input, std::uint64_t limit) : input_(input), left_(limit) {}
    std::size_t Read(std::span<std::byte> buffer) override {
        if (left_ == 0) {
            return 0;
        }
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), left_));
        std::size_t got = input_.Read(buffer.first(want));
        left_ -= got;
        return got;
    }

  private:
    InputStream& input_;
    std::uint64_t left_;
};

// Passes data on while counting it, computing its CRC-16 and reporting progress.
class CheckedOutput final : public OutputStream {
  public:
    CheckedOutput(OutputStream& output, std::uint64_t total, const ProgressFn& progress)
        : output_(output), total_(total), progress_(progress) {}
    void Write(std::span<const std::byte> data) override {
        if (data.empty()) {
            return;
        }
        if (data.size() > total_ - std::min(total_, count_)) {
            throw Error(ErrorKind::kCorruptData, "decoded data longer than the member");
        }
        crc_ = Crc16(data, crc_);
        count_ += data.size();
        output_.Write(data);
        if (progress_ && !progress_(count_, total_)) {
            throw Aborted();
        }
    }
    std::uint64_t Count() const { return count_; }
    std::uint16_t Crc() const { return crc_; }

  private:
    OutputStream& output_;
    std::uint64_t total_;
    const ProgressFn& progress_;
    std::uint64_t count_ = 0;
    std::uint16_t crc_ = 0;
};

}  // namespace zembrat::lha
