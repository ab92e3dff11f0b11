// Writes seeds for lzx_fuzzer into the folder given: folders of every block kind, window and
// the call translation, made by the tests' LZX writer and taken out of its cabinets into the
// fuzzer's input layout (a window byte, then size, frame size and bytes per frame).
#include <filesystem>
#include <fstream>
#include <string>

#include "lzx_cabinet_writer.h"

namespace {

namespace fs = std::filesystem;
using namespace zembrat::testing;

// The frames of the cabinet's one folder, as the fuzzer reads them.
std::string FuzzInput(const std::string& cabinet, unsigned windowBits) {
    std::string input(1, static_cast<char>(windowBits - 15));
    for (const LzxFrame& frame : LzxCabinetFrames(cabinet)) {
        for (const std::size_t value : {frame.packed.size(), frame.size - 1}) {
            input.push_back(static_cast<char>(value & 0xFF));
            input.push_back(static_cast<char>(value >> 8));
        }
        input += frame.packed;
    }
    return input;
}

std::string Sample(std::size_t size) {
    std::string data;
    for (unsigned i = 0; data.size() < size; ++i) {
        data += "call \xE8" + std::string(1, static_cast<char>(i)) + std::string("\0\0\0 r", 5) +
                std::to_string(i * 7919 % 1000) + std::string(i % 9, static_cast<char>(i));
    }
    data.resize(size);
    return data;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    const fs::path folder = argv[1];
    fs::create_directories(folder);
    struct Seed {
        const char* name;
        unsigned windowBits;
        std::uint32_t translationSize;
        std::vector<LzxBlockPlan> blocks;
        std::size_t size;
    };
    const Seed seeds[] = {
        {"verbatim", 15, 0, {{LzxBlockType::kVerbatim, 32768}}, 40000},
        {"aligned-e8", 16, 100000, {{LzxBlockType::kAligned, 20000}}, 40000},
        {"uncompressed", 17, 0, {{LzxBlockType::kUncompressed, 3001}}, 9000},
        {"every-kind",
         21,
         50000,
         {{LzxBlockType::kAligned, 5000},
          {LzxBlockType::kUncompressed, 777},
          {LzxBlockType::kVerbatim, 40000}},
         50000},
        {"tiny", 15, 0, {{LzxBlockType::kVerbatim, 32768}}, 7},
    };
    for (const Seed& seed : seeds) {
        LzxCabinetOptions options;
        options.windowBits = seed.windowBits;
        options.translationSize = seed.translationSize;
        options.blocks = seed.blocks;
        std::ofstream(folder / seed.name, std::ios::binary)
            << FuzzInput(LzxCabinet(Sample(seed.size), "x", options), seed.windowBits);
    }
    return 0;
}
