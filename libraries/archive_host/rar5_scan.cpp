#include "rar5_scan.h"

#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace zembrat::archive_host {

namespace {

constexpr std::string_view kSignature("Rar!\x1a\x07\x01\x00", 8);
constexpr std::size_t kSearched = 4u << 20;     // how far into a file a signature is sought
constexpr std::uint64_t kMaxHeader = 2u << 20;  // a header larger than this is damage
constexpr int kMaxHeaders = 1'000'000;

enum HeaderType : std::uint64_t { kFile = 2, kArchiveEncryption = 4, kEnd = 5 };
enum HeaderFlag : std::uint64_t { kHasExtra = 1, kHasData = 2 };
enum FileFlag : std::uint64_t { kHasTime = 2, kHasCrc = 4 };
constexpr std::uint64_t kCryptRecord = 1;

// Reads little-endian fields and variable-length integers from a block of bytes.
class Fields {
  public:
    explicit Fields(std::string_view data) : data_(data) {}

    std::optional<std::uint64_t> Vint() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64 && !data_.empty(); shift += 7) {
            const auto byte = static_cast<unsigned char>(data_.front());
            data_.remove_prefix(1);
            value |= std::uint64_t{byte & 0x7Fu} << shift;
            if ((byte & 0x80) == 0) {
                return value;
            }
        }
        return std::nullopt;
    }
    bool Skip(std::uint64_t count) {
        if (count > data_.size()) {
            return false;
        }
        data_.remove_prefix(static_cast<std::size_t>(count));
        return true;
    }
    std::optional<std::string_view> Take(std::uint64_t count) {
        if (count > data_.size()) {
            return std::nullopt;
        }
        const std::string_view taken = data_.substr(0, static_cast<std::size_t>(count));
        data_.remove_prefix(static_cast<std::size_t>(count));
        return taken;
    }
    std::size_t Left() const { return data_.size(); }

  private:
    std::string_view data_;
};

std::string ReadAt(int fd, std::uint64_t offset, std::size_t size) {
    std::string data(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        const ssize_t now =
            ::pread(fd, data.data() + got, size - got, static_cast<off_t>(offset + got));
        if (now <= 0) {
            break;
        }
        got += static_cast<std::size_t>(now);
    }
    data.resize(got);
    return data;
}

// Whether the file header's extra area holds a crypt record; its name into name.
bool FileIsEncrypted(Fields fields, std::uint64_t extraSize, std::size_t blockSize,
                     std::string& name) {
    const auto fileFlags = fields.Vint();
    if (!fileFlags || !fields.Vint() || !fields.Vint() ||
        !fields.Skip(((*fileFlags & kHasTime) ? 4 : 0) + ((*fileFlags & kHasCrc) ? 4 : 0)) ||
        !fields.Vint() || !fields.Vint()) {
        return false;
    }
    const auto nameSize = fields.Vint();
    const auto stored = nameSize ? fields.Take(*nameSize) : std::nullopt;
    if (!stored || extraSize > blockSize || fields.Left() < extraSize) {
        return false;
    }
    name = std::string(*stored);
    // The extra area ends the header.
    fields.Skip(fields.Left() - extraSize);
    while (fields.Left() > 0) {
        const auto recordSize = fields.Vint();
        const auto record = recordSize ? fields.Take(*recordSize) : std::nullopt;
        if (!record) {
            return false;
        }
        Fields recordFields(*record);
        if (recordFields.Vint() == kCryptRecord) {
            return true;
        }
    }
    return false;
}

void ScanVolume(int fd, Rar5Encryption& found) {
    const std::string head = ReadAt(fd, 0, kSearched);
    const std::size_t signature = head.find(kSignature);
    if (signature == std::string::npos) {
        return;
    }
    std::uint64_t at = signature + kSignature.size();
    for (int count = 0; count < kMaxHeaders; ++count) {
        // CRC32, then the header's size as a variable-length integer (at most 3 bytes here).
        const std::string lead = ReadAt(fd, at, 4 + 3);
        Fields leadFields(std::string_view(lead).substr(std::min<std::size_t>(4, lead.size())));
        const auto headerSize = leadFields.Vint();
        if (lead.size() < 5 || !headerSize || *headerSize == 0 || *headerSize > kMaxHeader) {
            return;
        }
        const std::uint64_t sizeBytes = (lead.size() - 4) - leadFields.Left();
        const std::string block =
            ReadAt(fd, at + 4 + sizeBytes, static_cast<std::size_t>(*headerSize));
        if (block.size() != *headerSize) {
            return;
        }
        Fields fields(block);
        const auto type = fields.Vint();
        const auto flags = fields.Vint();
        const auto extraSize = flags && (*flags & kHasExtra) ? fields.Vint() : 0;
        const auto dataSize = flags && (*flags & kHasData) ? fields.Vint() : 0;
        if (!type || !flags || !extraSize || !dataSize || *dataSize > (1ull << 62)) {
            return;
        }
        if (*type == kArchiveEncryption) {
            found.headers = true;
            return;
        }
        if (*type == kEnd) {
            return;
        }
        std::string name;
        if (*type == kFile && FileIsEncrypted(fields, *extraSize, block.size(), name)) {
            found.members.insert(name);
        }
        at += 4 + sizeBytes + *headerSize + *dataSize;
    }
}

}  // namespace

Rar5Encryption ScanRar5Encryption(std::span<const int> volumes) {
    Rar5Encryption found;
    for (const int fd : volumes) {
        ScanVolume(fd, found);
    }
    return found;
}

}  // namespace zembrat::archive_host
