// Writes the seed corpora of the ZIP fuzz targets: for zip_fuzzer, archives our writer makes
// (stored and deflated, a folder, a link, Japanese names); for the old methods' targets, the
// raw data of every Shrink, Reduce, Implode and Deflate64 member of the archives given, behind
// the selector and size bytes those targets read.
//   zip_seeds OUT_FOLDER [ARCHIVE...]
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "zip/zip.h"
#include "zip_method_families.h"

namespace {

using namespace zembrat;

// The family and the form within it that decode a member, or nullptr.
const zip_fuzz::MethodFamily* FamilyOf(std::uint16_t method, std::uint16_t flags, int& form) {
    for (const zip_fuzz::MethodFamily& family : zip_fuzz::kMethodFamilies) {
        for (std::size_t i = 0; i < family.choices.size(); ++i) {
            if (family.choices[i].method == method && family.choices[i].flags == flags) {
                form = static_cast<int>(i);
                return &family;
            }
        }
    }
    return nullptr;
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
    for (const zip_fuzz::MethodFamily& family : zip_fuzz::kMethodFamilies) {
        std::filesystem::create_directories(out / family.target);
    }
    WriteOurArchives(out / "zip_fuzzer");
    int count = 0;
    for (int i = 2; i < argc; ++i) {
        try {
            const zip::ExistingArchive archive(argv[i]);
            for (std::size_t m = 0; m < archive.Members().size(); ++m) {
                const zip::ExistingMember& member = archive.Members()[m];
                // The flags are not in ExistingMember: Implode's four forms are all seeded.
                for (std::uint16_t flags : {0, 2, 4, 6}) {
                    int form = 0;
                    const zip_fuzz::MethodFamily* family = FamilyOf(member.method, flags, form);
                    if (family == nullptr) {
                        continue;
                    }
                    std::string seed(1, static_cast<char>(form));
                    for (int b = 0; b < 3; ++b) {
                        seed += static_cast<char>((member.size >> (8 * b)) & 0xFF);
                    }
                    archive.ReadData(m, [&](std::span<const std::byte> data) {
                        seed.append(reinterpret_cast<const char*>(data.data()), data.size());
                    });
                    std::ofstream(out / family->target / ("seed" + std::to_string(count++)),
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
