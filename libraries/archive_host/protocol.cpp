#include "archive_host/protocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zembrat::archive_host {

namespace {

void PutU64(std::string& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

void PutText(std::string& out, std::string_view text) {
    PutU64(out, text.size());
    out.append(text);
}

class Cursor {
  public:
    explicit Cursor(std::string_view data) : data_(data) {}

    std::optional<std::uint64_t> U64() {
        if (data_.size() < 8) {
            return std::nullopt;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value |= static_cast<std::uint64_t>(static_cast<unsigned char>(data_[i])) << (8 * i);
        }
        data_.remove_prefix(8);
        return value;
    }

    std::optional<std::string> Text() {
        const auto size = U64();
        if (!size || *size > data_.size()) {
            return std::nullopt;
        }
        std::string text(data_.substr(0, *size));
        data_.remove_prefix(*size);
        return text;
    }

    bool AtEnd() const { return data_.empty(); }

  private:
    std::string_view data_;
};

// Presence bits of the optional fields.
constexpr std::uint64_t kHasSize = 1;
constexpr std::uint64_t kHasTime = 2;
constexpr std::uint64_t kEncrypted = 4;

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        // send() where the descriptor is a socket, so that a vanished peer is an error rather
        // than SIGPIPE; write() for anything else.
        ssize_t done = ::send(fd, data, size, MSG_NOSIGNAL);
        if (done < 0 && errno == ENOTSOCK) {
            done = ::write(fd, data, size);
        }
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

}  // namespace

std::string EncodeMember(const HostMember& member) {
    std::string out;
    PutText(out, member.path);
    PutText(out, member.linkTarget);
    PutText(out, member.formatName);
    PutText(out, member.error);
    PutU64(out, static_cast<std::uint64_t>(member.kind));
    PutU64(out, member.mode);
    PutU64(out, (member.size ? kHasSize : 0) | (member.mtime ? kHasTime : 0) |
                    (member.encrypted ? kEncrypted : 0));
    PutU64(out, member.size.value_or(0));
    PutU64(out, static_cast<std::uint64_t>(member.mtime.value_or(0)));
    return out;
}

std::optional<HostMember> DecodeMember(std::string_view payload) {
    Cursor in(payload);
    HostMember member;
    auto path = in.Text();
    auto link = in.Text();
    auto format = in.Text();
    auto error = in.Text();
    const auto kind = in.U64();
    const auto mode = in.U64();
    const auto flags = in.U64();
    const auto size = in.U64();
    const auto mtime = in.U64();
    if (!path || !link || !format || !error || !kind || !mode || !flags || !size || !mtime ||
        !in.AtEnd() || *kind > static_cast<std::uint64_t>(MemberKind::kHardlink)) {
        return std::nullopt;
    }
    member.path = std::move(*path);
    member.linkTarget = std::move(*link);
    member.formatName = std::move(*format);
    member.error = std::move(*error);
    member.kind = static_cast<MemberKind>(*kind);
    member.mode = static_cast<std::uint32_t>(*mode & 07777);
    if (*flags & kHasSize) {
        member.size = *size;
    }
    if (*flags & kHasTime) {
        member.mtime = static_cast<std::int64_t>(*mtime);
    }
    member.encrypted = (*flags & kEncrypted) != 0;
    return member;
}

bool WriteFrame(int fd, FrameType type, std::span<const std::byte> payload) {
    char header[5];
    header[0] = static_cast<char>(type);
    const auto size = static_cast<std::uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i) {
        header[1 + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    }
    return WriteAll(fd, header, sizeof header) &&
           WriteAll(fd, reinterpret_cast<const char*>(payload.data()), payload.size());
}

bool WriteFrame(int fd, FrameType type, std::string_view payload) {
    return WriteFrame(fd, type, std::as_bytes(std::span(payload.data(), payload.size())));
}

std::string EncodeHole(std::uint64_t size) {
    std::string out;
    PutU64(out, size);
    return out;
}

std::optional<std::uint64_t> DecodeHole(std::string_view payload) {
    Cursor in(payload);
    const auto size = in.U64();
    return size && in.AtEnd() ? size : std::nullopt;
}

}  // namespace zembrat::archive_host
