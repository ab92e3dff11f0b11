// Helpers shared by the LHA tests: hashing sinks, peer programs, data.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "lha/archive.h"
#include "sha256.h"

namespace zembrat::lha::test {

// Counts and hashes what is written to it.
class HashingOutput final : public OutputStream {
  public:
    void Write(std::span<const std::byte> data) override {
        count_ += data.size();
        hash_.Update(data);
    }
    std::uint64_t Count() const { return count_; }
    std::string Digest() { return hash_.HexDigest(); }

  private:
    Sha256 hash_;
    std::uint64_t count_ = 0;
};

std::string Sha256Of(std::span<const std::byte> data);

std::filesystem::path FixturesDir();  // .../fixtures/lha
bool HaveCommand(const std::string& name);
// Runs a shell command; returns its exit status, stdout+stderr into output when given.
int RunCommand(const std::string& command, std::string* output = nullptr);
std::string Quote(const std::string& text);

std::vector<std::byte> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, std::span<const std::byte> data);

std::vector<std::byte> RandomBytes(std::size_t size, std::uint32_t seed);
// Text-like data: words from a small vocabulary, so it compresses like prose.
std::vector<std::byte> TextBytes(std::size_t size, std::uint32_t seed);

// Extracts the reader's current member into memory.
std::vector<std::byte> ExtractToMemory(Reader& reader);

}  // namespace zembrat::lha::test
