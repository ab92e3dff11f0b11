// Stream adapters the reader and writer share: bounded input, checked output.
#pragma once

#include <algorithm>
#include <cstdint>
#include <future>
#include <vector>

#include "lha/archive.h"

namespace zembrat::lha {

inline constexpr std::size_t kProgressPiece = std::size_t{64} << 10;

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

// Passes data on while counting it, computing its CRC-16 (unless the output after it does) and
// reporting progress at least every kProgressPiece bytes, whatever pieces the decoder writes,
// so that a stop answered there takes effect soon.
class CheckedOutput final : public OutputStream {
  public:
    CheckedOutput(OutputStream& output, std::uint64_t total, const ProgressFn& progress,
                  bool computeCrc = true)
        : output_(output), total_(total), progress_(progress), computeCrc_(computeCrc) {}
    void Write(std::span<const std::byte> data) override {
        if (data.empty()) {
            return;
        }
        if (data.size() > total_ - std::min(total_, count_)) {
            throw Error(ErrorKind::kCorruptData, "decoded data longer than the member");
        }
        while (!data.empty()) {
            auto piece = progress_ ? data.first(std::min(data.size(), kProgressPiece)) : data;
            if (computeCrc_) {
                crc_ = Crc16(piece, crc_);
            }
            count_ += piece.size();
            output_.Write(piece);
            if (progress_ && !progress_(count_, total_)) {
                throw Aborted();
            }
            data = data.subspan(piece.size());
        }
    }
    std::uint64_t Count() const { return count_; }
    std::uint16_t Crc() const { return crc_; }

  private:
    OutputStream& output_;
    std::uint64_t total_;
    const ProgressFn& progress_;
    bool computeCrc_;
    std::uint64_t count_ = 0;
    std::uint16_t crc_ = 0;
};

// Computes the CRC-16 of what is written and passes it on, a megabyte at a time, on a thread
// of its own: the decoder goes on while the last megabyte is checked and written.
class BackgroundCrcOutput final : public OutputStream {
  public:
    explicit BackgroundCrcOutput(OutputStream& output);
    ~BackgroundCrcOutput() override;  // waits for the thread; errors are Finish()'s to report
    BackgroundCrcOutput(const BackgroundCrcOutput&) = delete;
    BackgroundCrcOutput& operator=(const BackgroundCrcOutput&) = delete;
    void Write(std::span<const std::byte> data) override;
    // Writes what is left, waits, and reports the first error of the thread.
    void Finish();
    std::uint16_t Crc() const { return crc_; }

  private:
    void Dispatch();

    OutputStream& output_;
    std::vector<std::byte> filling_;
    std::vector<std::byte> writing_;
    std::future<void> pending_;
    std::uint16_t crc_ = 0;
};

}  // namespace zembrat::lha
