// zembrat-zipsfx: the program at the head of a self-extracting ZIP file. It reads the ZIP
// archive that follows its own ELF image with the engine's directory parser and inflates the
// members with zlib; no helper process and no shared library of ours is needed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/failure.h"
#include "common/member_file.h"
#include "common/safe_path.h"
#include "common/sfx_stub.h"
#include "platform/path.h"
#include "zip/zip.h"

namespace {

using zembrat::zip::ExistingArchive;
using zembrat::zip::ExistingMember;

std::string Printable(std::string_view name) {
    return zembrat::common::EscapeControlCharacters(name);
}

// Where the ELF image in the file at path ends; 0 when it cannot be read.
std::uint64_t ImageEnd(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    const std::uint64_t end = zembrat::common::ElfImageEnd(fd);
    close(fd);
    return end;
}

bool IsLink(const ExistingMember& member) {
    return (member.mode & S_IFMT) == S_IFLNK;
}

// A member's data, inflated and checked against its size and CRC, handed to out piece by
// piece. Returns the reason of a failure, or nothing.
std::string Inflate(const ExistingArchive& archive, std::size_t index,
                    const std::function<void(const unsigned char*, std::size_t)>& out) {
    const ExistingMember& member = archive.Members()[index];
    if (member.encrypted) {
        return "encrypted member, not supported";
    }
    if (member.method != 0 && member.method != 8) {
        return "unsupported method " + std::to_string(member.method);
    }
    z_stream stream{};
    if (member.method == 8 && inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        return "out of memory";
    }
    std::vector<unsigned char> buffer(1 << 16);
    std::uint64_t produced = 0;
    uLong crc = crc32(0, nullptr, 0);
    std::string failure;
    bool ended = member.method == 0;
    auto deliver = [&](const unsigned char* data, std::size_t size) {
        produced += size;
        if (produced > member.size) {
            throw std::runtime_error("data runs past its declared size");
        }
        crc = crc32(crc, data, static_cast<uInt>(size));
        out(data, size);
    };
    try {
        archive.ReadData(index, [&](std::span<const std::byte> piece) {
            if (member.method == 0) {
                deliver(reinterpret_cast<const unsigned char*>(piece.data()), piece.size());
                return;
            }
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<std::byte*>(piece.data()));
            stream.avail_in = static_cast<uInt>(piece.size());
            while (stream.avail_in > 0 && !ended) {
                stream.next_out = buffer.data();
                stream.avail_out = static_cast<uInt>(buffer.size());
                const int result = inflate(&stream, Z_NO_FLUSH);
                if (result != Z_OK && result != Z_STREAM_END) {
                    throw std::runtime_error("damaged data");
                }
                deliver(buffer.data(), buffer.size() - stream.avail_out);
                ended = result == Z_STREAM_END;
            }
        });
        // Output still held back by the decoder.
        while (member.method == 8 && !ended) {
            stream.next_out = buffer.data();
            stream.avail_out = static_cast<uInt>(buffer.size());
            const int result = inflate(&stream, Z_FINISH);
            if (result != Z_STREAM_END && (result != Z_BUF_ERROR || stream.avail_out != 0)) {
                throw std::runtime_error("damaged data");
            }
            deliver(buffer.data(), buffer.size() - stream.avail_out);
            ended = result == Z_STREAM_END;
        }
        if (produced != member.size) {
            failure = "data shorter than its declared size";
        } else if (crc != member.crc) {
            failure = "CRC error";
        }
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (member.method == 8) {
        inflateEnd(&stream);
    }
    return failure;
}

class Extractor {
  public:
    Extractor(const ExistingArchive& archive, const std::string& folder, bool overwrite)
        : archive_(archive), target_(folder), overwrite_(overwrite) {}

    int Run() {
        std::string reason;
        if (!target_.CreateFolder(reason)) {
            std::fprintf(stderr, "%s\n", reason.c_str());
            return 1;
        }
        for (std::size_t i = 0; i < archive_.Members().size(); ++i) {
            ExtractOne(i);
        }
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
            const timespec times[2] = {{it->second, 0}, {it->second, 0}};
            utimensat(AT_FDCWD, it->first.c_str(), times, AT_SYMLINK_NOFOLLOW);
        }
        return status_;
    }

  private:
    void Fail(const std::string& name, const std::string& what) {
        std::fprintf(stderr, "%s: %s\n", Printable(name).c_str(), what.c_str());
        status_ = 1;
    }

    void ExtractOne(std::size_t index) {
        const ExistingMember& member = archive_.Members()[index];
        std::string reason;
        // A name made on Unix holds '\\' as an ordinary character.
        const auto relative =
            zembrat::common::SafeRelativePath(member.name, reason,
                                              member.mode != 0 ? zembrat::common::NameRules::kUnix
                                                               : zembrat::common::NameRules::kDos);
        if (!relative) {
            return Fail(member.name, "refused (" + reason + ")");
        }
        const auto path = target_.Prepare(*relative, member.isDirectory, reason);
        if (!path) {
            return Fail(member.name, reason);
        }
        if (member.isDirectory) {
            folders_.emplace_back(*path, member.mtime);
            std::printf("extracted %s\n", Printable(member.name).c_str());
            return;
        }
        struct stat existing {};
        if (lstat(path->c_str(), &existing) == 0 && !overwrite_) {
            std::printf("%s: kept the existing file (-f overwrites)\n",
                        Printable(member.name).c_str());
            status_ = status_ == 0 ? 1 : status_;
            return;
        }
        if (IsLink(member)) {
            return MakeLink(index, *relative, *path);
        }
        try {
            zembrat::common::MemberFile file(*path, overwrite_);
            std::string failure =
                Inflate(archive_, index, [&](const unsigned char* data, std::size_t size) {
                    file.Write(std::as_bytes(std::span(data, size)));
                });
            if (!failure.empty()) {
                return Fail(member.name, failure);
            }
            const mode_t mode = (member.mode & 0777) != 0 ? member.mode & 0777 : 0644;
            if (file.Place(mode & ~zembrat::common::ProcessUmask(),
                           std::int64_t{member.mtime} * 1000000000) ==
                zembrat::common::Placement::kKept) {
                std::printf("%s: kept the existing file (-f overwrites)\n",
                            Printable(member.name).c_str());
                status_ = status_ == 0 ? 1 : status_;
                return;
            }
        } catch (const zembrat::common::Failure& failure) {
            return Fail(member.name, failure.what());
        }
        std::printf("extracted %s\n", Printable(member.name).c_str());
    }

    void MakeLink(std::size_t index, const std::string& relative, const std::string& path) {
        const ExistingMember& member = archive_.Members()[index];
        std::string target;
        const std::string failure =
            member.size > 4096
                ? std::string("link target too long")
                : Inflate(archive_, index, [&](const unsigned char* data, std::size_t size) {
                      target.append(reinterpret_cast<const char*>(data), size);
                  });
        if (!failure.empty()) {
            return Fail(member.name, failure);
        }
        if (!zembrat::common::LinkTargetStaysInside(relative, target)) {
            return Fail(member.name, "refused (symbolic link leads outside)");
        }
        unlink(path.c_str());
        if (symlink(target.c_str(), path.c_str()) != 0) {
            return Fail(member.name, std::string("cannot make the link: ") + std::strerror(errno));
        }
        target_.RememberLink(path);
        std::printf("extracted %s\n", Printable(member.name).c_str());
    }

    const ExistingArchive& archive_;
    zembrat::common::ExtractionTarget target_;
    bool overwrite_;
    int status_ = 0;
    std::vector<std::pair<std::string, std::int64_t>> folders_;
};

int List(const ExistingArchive& archive) {
    std::uint64_t total = 0;
    for (const ExistingMember& member : archive.Members()) {
        std::printf("%12" PRIu64 " %12" PRIu64 " %s%s\n", member.size, member.compressedSize,
                    Printable(member.name).c_str(), member.isDirectory ? "/" : "");
        total += member.size;
    }
    std::printf("%zu members, %" PRIu64 " bytes\n", archive.Members().size(), total);
    return 0;
}

int Test(const ExistingArchive& archive) {
    int status = 0;
    for (std::size_t i = 0; i < archive.Members().size(); ++i) {
        const ExistingMember& member = archive.Members()[i];
        if (member.isDirectory) {
            continue;
        }
        const std::string failure = Inflate(archive, i, [](const unsigned char*, std::size_t) {});
        if (failure.empty()) {
            std::printf("ok %s\n", Printable(member.name).c_str());
        } else {
            std::printf("failed %s: %s\n", Printable(member.name).c_str(), failure.c_str());
            status = 1;
        }
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    zembrat::common::StubRequest request;
    if (const auto status =
            zembrat::common::ParseStubArguments(argc, argv, {"-f", "ZIP archive"}, request)) {
        return *status;
    }
    const std::string self = "/proc/self/exe";
    struct stat info {};
    const std::uint64_t imageEnd = ImageEnd(self);
    if (imageEnd == 0 || stat(self.c_str(), &info) != 0 ||
        static_cast<std::uint64_t>(info.st_size) <= imageEnd) {
        std::fprintf(stderr, "no archive is attached to this program\n");
        return 1;
    }
    try {
        const ExistingArchive archive(self);
        if (archive.ArchiveStart() < imageEnd) {
            std::fprintf(stderr, "no archive is attached to this program\n");
            return 1;
        }
        if (request.mode == 'l') {
            return List(archive);
        }
        if (request.mode == 't') {
            return Test(archive);
        }
        return Extractor(archive, request.folder.empty() ? std::string("./") : request.folder,
                         request.overwrite)
            .Run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
