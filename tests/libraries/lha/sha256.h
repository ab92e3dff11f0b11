// A small SHA-256 for comparing extracted data with the fixture manifest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace zembrat::lha::test {

class Sha256 {
  public:
    Sha256();
    void Update(std::span<const std::byte> data);
    std::string HexDigest();  // finishes the hash

  private:
    void Block(const std::uint8_t* block);
    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingSize_ = 0;
    std::uint64_t totalBytes_ = 0;
};

}  // namespace zembrat::lha::test
