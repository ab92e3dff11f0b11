#include "test_support.h"
#include "fixtures_dir.h"

#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>

namespace zembrat::lha::test {

std::string Sha256Of(std::span<const std::byte> data) {
    Sha256 hash;
    hash.Update(data);
    return hash.HexDigest();
}

std::filesystem::path FixturesDir() {
    return ::zembrat::testing::FixturesDir() / "lha";
}

bool HaveCommand(const std::string& name) {
    return RunCommand("command -v " + Quote(name) + " >/dev/null 2>&1") == 0;
}

int RunCommand(const std::string& command, std::string* output) {
    std::string full = command + " 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(full.c_str(), "r"), ::pclose);
    if (!pipe) {
        return -1;
    }
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) {
        if (output != nullptr) {
            output->append(buffer, got);
        }
    }
    int status = ::pclose(pipe.release());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out.push_back(c);
        }
    }
    return out + "'";
}

std::vector<std::byte> ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::byte> bytes(chars.size());
    if (!chars.empty()) {
        std::memcpy(bytes.data(), chars.data(), chars.size());
    }
    return bytes;
}

void WriteFileBytes(const std::filesystem::path& path, std::span<const std::byte> data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

std::vector<std::byte> RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::byte> out(size);
    for (auto& b : out) {
        b = static_cast<std::byte>(random() & 0xFF);
    }
    return out;
}

std::vector<std::byte> TextBytes(std::size_t size, std::uint32_t seed) {
    static const char* const kWords[] = {"the ",     "archive ", "member ", "header ", "window ",
                                         "code ",    "length ",  "table ",  "block ",  "data\n",
                                         "Huffman ", "match ",   "of ",     "and ",    "a "};
    std::mt19937 random(seed);
    std::vector<std::byte> out;
    out.reserve(size);
    while (out.size() < size) {
        const char* word = kWords[random() % std::size(kWords)];
        for (const char* p = word; *p != '\0' && out.size() < size; ++p) {
            out.push_back(static_cast<std::byte>(*p));
        }
    }
    return out;
}

std::vector<std::byte> ExtractToMemory(Reader& reader) {
    MemoryOutput out;
    reader.Extract(out);
    return out.Data();
}

}  // namespace zembrat::lha::test
