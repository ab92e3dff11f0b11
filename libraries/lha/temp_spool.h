// An anonymous temporary file: keeps a copy of input that cannot be read twice, so memory
// stays flat however large the member is.
#pragma once

#include <cstdio>
#include <memory>

#include "lha/archive.h"

namespace zembrat::lha {

class TempSpool final : public OutputStream {
  public:
    TempSpool() : file_(std::tmpfile(), &std::fclose) {
        if (!file_) {
            throw Error(ErrorKind::kCannotWrite, "cannot create a temporary file");
        }
    }
    void Write(std::span<const std::byte> data) override {
        if (std::fwrite(data.data(), 1, data.size(), file_.get()) != data.size()) {
            throw Error(ErrorKind::kCannotWrite, "cannot write a temporary file");
        }
    }
    // Reads back what was written, from the start.
    void Rewind() {
        if (std::fflush(file_.get()) != 0) {
            throw Error(ErrorKind::kCannotWrite, "cannot write a temporary file");
        }
        if (std::fseek(file_.get(), 0, SEEK_SET) != 0) {
            throw Error(ErrorKind::kIo, "cannot read a temporary file");
        }
    }
    std::size_t Read(std::span<std::byte> buffer) {
        std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file_.get());
        if (got == 0 && std::ferror(file_.get())) {
            throw Error(ErrorKind::kIo, "cannot read a temporary file");
        }
        return got;
    }

  private:
    std::unique_ptr<FILE, int (*)(FILE*)> file_;
};

}  // namespace zembrat::lha
