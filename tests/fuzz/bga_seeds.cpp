// Writes seed archives for bga_fuzzer into the folder given: GZIP, BZ2 and stored members,
// folders, a CP932 name, and the damaged kinds the reader must refuse.
#include <filesystem>
#include <fstream>
#include <string>

#include "bga/format.h"
#include "compressed_streams.h"

namespace {

using namespace zembrat;
namespace fs = std::filesystem;

using zembrat::testing::Bzip2;
using zembrat::testing::Gzip;

std::string Member(bga::Codec codec, const std::string& name, const std::string& data,
                   bool stored) {
    bga::MemberHeader header;
    header.codec = codec;
    header.name = name;
    const std::string packed =
        stored ? data : (codec == bga::Codec::kGzip ? Gzip(data) : Bzip2(data));
    header.kind = stored ? bga::kKindStored : bga::kKindCompressed;
    header.compressedSize = static_cast<std::uint32_t>(packed.size());
    header.originalSize = static_cast<std::uint32_t>(data.size());
    header.dosDate = 0x5A21;
    header.dosTime = 0x6000;
    header.attributes = name.back() == '\\' ? bga::kFolderAttribute : 0x20;
    return bga::EncodeHeader(header) + packed;
}

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    const fs::path root = argv[1];
    fs::create_directories(root);
    std::string text;
    for (int i = 0; text.size() < 20000; ++i) {
        text += "member " + std::to_string(i * 7 % 113) + " of the archive\n";
    }
    const std::string gza = Member(bga::Codec::kGzip, "docs\\", "", true) +
                            Member(bga::Codec::kGzip, "docs\\read.txt", text, false) +
                            Member(bga::Codec::kGzip, "\x83\x65\x83\x4c.txt", "short", true);
    Write(root / "gzip.gza", gza);
    Write(root / "bzip2.bza", Member(bga::Codec::kBzip2, "a\\b\\c.txt", text, false) +
                                  Member(bga::Codec::kBzip2, "z.zip", "PK\x03\x04", false));
    // Blocks of 100 kB: a stream of several blocks, decoded on two threads.
    std::string long_text;
    while (long_text.size() < 250000) {
        long_text += text;
    }
    bga::MemberHeader blocks;
    blocks.codec = bga::Codec::kBzip2;
    blocks.name = "blocks.txt";
    const std::string packed = Bzip2(long_text, 1);
    blocks.compressedSize = static_cast<std::uint32_t>(packed.size());
    blocks.originalSize = static_cast<std::uint32_t>(long_text.size());
    Write(root / "blocks.bza", bga::EncodeHeader(blocks) + packed);
    std::string bad = gza;
    bad[0] = static_cast<char>(bad[0] + 1);
    Write(root / "checksum.gza", bad);
    Write(root / "truncated.gza", gza.substr(0, gza.size() - 40));
    Write(root / "dotdot.gza", Member(bga::Codec::kGzip, "..\\..\\evil.txt", "x", true) +
                                   Member(bga::Codec::kGzip, "\\etc\\passwd", "y", true));
    return 0;
}
