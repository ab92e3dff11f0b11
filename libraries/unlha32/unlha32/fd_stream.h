// Streams over the files the library writes (through the shared archive and member writers)
// and over caller memory.
#pragma once

#include <cstdint>
#include <span>
#include <utility>

#include "common/archive_output.h"
#include "common/member_file.h"
#include "common/unique_fd.h"
#include "lha/stream.h"

namespace zembrat::unlha32 {

// The archive file being written (headers are patched after their data, hence the seek).
class ArchiveStream final : public lha::SeekableOutput {
  public:
    explicit ArchiveStream(common::ArchiveOutput& file) : file_(file) {}
    void Write(std::span<const std::byte> data) override {
        file_.WriteAt(data, position_);
        position_ += data.size();
    }
    void Seek(std::uint64_t offset) override { position_ = offset; }
    std::uint64_t Tell() const override { return position_; }

  private:
    common::ArchiveOutput& file_;
    std::uint64_t position_ = 0;
};

// An extracted member's file.
class MemberStream final : public lha::OutputStream {
  public:
    explicit MemberStream(common::MemberFile& file) : file_(file) {}
    void Write(std::span<const std::byte> data) override { file_.Write(data); }

  private:
    common::MemberFile& file_;
};

// Writes into a caller's buffer; bytes beyond its end are counted and dropped.
class BoundedOutput final : public lha::OutputStream {
  public:
    explicit BoundedOutput(std::span<std::byte> buffer) : buffer_(buffer) {}
    void Write(std::span<const std::byte> data) override;
    std::uint64_t Total() const { return total_; }
    std::size_t Stored() const { return stored_; }

  private:
    std::span<std::byte> buffer_;
    std::size_t stored_ = 0;
    std::uint64_t total_ = 0;
};

class NullOutput final : public lha::OutputStream {
  public:
    void Write(std::span<const std::byte>) override {}
};

using common::UniqueFd;

}  // namespace zembrat::unlha32
