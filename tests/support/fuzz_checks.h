// What the archive fuzz targets and their regression test check alike: a member's output is
// counted and capped, a name as shown holds no control character, and a name that passes the
// extraction check stays below the destination (the fuzz targets abort when one does not).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "lha/archive.h"

namespace zembrat::testing {

// Counts what a member decodes to. A member may declare gigabytes that a few bytes of a
// compressed stream really produce; past 64 MiB the input is not worth the time.
class CappedOutput final : public lha::OutputStream {
  public:
    explicit CappedOutput(const char* limitMessage) : limitMessage_(limitMessage) {}

    void Write(std::span<const std::byte> data) override {
        count_ += data.size();
        if (count_ > (std::uint64_t{64} << 20)) {
            throw lha::Error(lha::ErrorKind::kTooLarge, limitMessage_);
        }
    }

  private:
    const char* limitMessage_;
    std::uint64_t count_ = 0;
};

// Aborts when the name as shown holds a control character (C0, DEL or C1), which would reach
// the terminal, or when the checked relative path (if the check let it through) leaves the
// destination.
inline void AbortUnlessContained(std::string_view shown,
                                 const std::optional<std::string>& relative) {
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto c = static_cast<unsigned char>(shown[i]);
        const auto next = i + 1 < shown.size() ? static_cast<unsigned char>(shown[i + 1]) : 0;
        if (c < 0x20 || c == 0x7F || (c == 0xC2 && next >= 0x80 && next <= 0x9F)) {
            std::abort();  // a control character would reach the terminal
        }
    }
    if (relative && (relative->empty() || relative->front() == '/' || relative->find("..") == 0 ||
                     relative->find("/../") != std::string::npos)) {
        std::abort();  // a name that leaves the destination was let through
    }
}

}  // namespace zembrat::testing
