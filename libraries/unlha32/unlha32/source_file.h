// A file being packed, as the LHA writer reads it: the shared source reader behind the LHA
// stream interface.
#pragma once

#include <cstdint>
#include <string>

#include "common/source_file.h"
#include "lha/stream.h"

namespace zembrat::unlha32 {

class SourceInput final : public lha::SeekableInput {
  public:
    explicit SourceInput(common::SourceFile& file) : file_(file) {}
    std::size_t Read(std::span<std::byte> buffer) override {
        const std::size_t got = file_.ReadAt(buffer, position_);
        position_ += got;
        return got;
    }
    void Seek(std::uint64_t offset) override { position_ = offset; }
    std::uint64_t Tell() const override { return position_; }
    std::uint64_t Size() const override { return file_.Size(); }

  private:
    common::SourceFile& file_;
    std::uint64_t position_ = 0;
};

}  // namespace zembrat::unlha32
