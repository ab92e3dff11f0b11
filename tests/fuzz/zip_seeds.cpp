// Writes the seed corpora of the ZIP fuzz targets: for zip_fuzzer, archives our writer makes
// (stored and deflated, a folder, a link, Japanese names); for zip_methods_fuzzer, the raw
// data of every Shrink, Reduce, Implode and Deflate64 member of the archives given, behind the
// selector and size bytes that target reads.
//   zip_seeds OUT_FOLDER [ARCHIVE...]
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "zip/zip.h"

namespace {

using namespace zembrat;

int Selector(std::uint16_t method, std::uint16_t flags) {
    switch (method) {
        case 1:
            return 0;
        case 2:
        case 3:
        case 4:
        case 5:
            return method - 1;
        case 6:
            return 5 + ((flags >> 1) & 3);
        case 9:
            return 9;
        default:
            return -1;
    }
}

void WriteOurArchives(const std::filesystem::path& folder) {
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        text += "line " + std::to_string(i * 7 % 113) + " of the seed\n";
    }
    for (const int level : {0, 1, 6, 9}) {
        const auto path = folder / ("ours_" + std::to_string(level) + ".zip");
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        zip::Writer writer(fd, {level, 1});
        zip::MemoryInput input(std::as_bytes(std::span(text)));
        writer.AddDirectory({"フォルダ", 0, 0755});
        writer.AddFile({"フォルダ/text.txt", 0, 0644}, input, text.size());
        writer.AddSymlink({"link", 0, 0777}, "フォルダ/text.txt");
        writer.Finish();
        ::close(fd);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: zip_seeds OUT_FOLDER [ARCHIVE...]\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out / "zip_fuzzer");
    std::filesystem::create_directories(out / "zip_methods_fuzzer");
    WriteOurArchives(out / "zip_fuzzer");
    int count = 0;
    for (int i = 2; i < argc; ++i) {
        try {
            const zip::ExistingArchive archive(argv[i]);
            for (std::size_t m = 0; m < archive.Members().size(); ++m) {
                const zip::ExistingMember& member = archive.Members()[m];
                // The flags are not in ExistingMember: Implode's four forms are all seeded.
                for (std::uint16_t flags : {0, 2, 4, 6}) {
                    const int selector = Selector(member.method, flags);
                    if (selector < 0 || (member.method != 6 && flags != 0)) {
                        continue;
                    }
                    std::string seed(1, static_cast<char>(selector));
                    for (int b = 0; b < 3; ++b) {
                        seed += static_cast<char>((member.size >> (8 * b)) & 0xFF);
                    }
                    archive.ReadData(m, [&](std::span<const std::byte> data) {
                        seed.append(reinterpret_cast<const char*>(data.data()), data.size());
                    });
                    std::ofstream(out / "zip_methods_fuzzer" / ("seed" + std::to_string(count++)),
                                  std::ios::binary)
                        << seed;
                }
            }
        } catch (const zip::Error& error) {
            std::fprintf(stderr, "zip_seeds: %s: %s\n", argv[i], error.what());
        }
    }
    return 0;
}
