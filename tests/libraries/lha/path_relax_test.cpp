// The vector builds of the cheapest-path relaxation give the archives the plain build gives.
#include <gtest/gtest.h>

#include <random>

#include "encoder.h"
#include "path_relax.h"
#include "test_support.h"

namespace zembrat::lha::test {
namespace {

// Copies of earlier stretches, 3 to 300 bytes long and near and far back, between noise: every
// match length and distance class, and matches long enough to reach past two lines.
std::vector<std::byte> Quotations(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::byte> data = RandomBytes(1000, seed);
    while (data.size() < size) {
        if (random() % 4 == 0) {
            data.push_back(static_cast<std::byte>(random()));
            continue;
        }
        const std::size_t length = random() % 5 == 0 ? 3 + random() % 298 : 3 + random() % 12;
        const std::size_t back = 1 + random() % std::min<std::size_t>(data.size(), 60000);
        for (std::size_t k = 0; k < length; ++k) {
            data.push_back(data[data.size() - back]);
        }
    }
    data.resize(size);
    return data;
}

std::vector<std::byte> Compress(EncodeFunction encode, std::span<const std::byte> data, int level) {
    MemoryInput in(data);
    MemoryOutput out;
    encode(in, data.size(), out, {.level = level, .threads = 1});
    return out.Data();
}

// Restores the kernel chosen at start-up, whatever the test does.
class KernelChoice {
  public:
    ~KernelChoice() { UseRelaxKernel(before_); }

  private:
    RelaxKernel before_ = CurrentRelaxKernel();
};

TEST(LhaPathRelax, EveryBuildGivesThePlainBuildsArchives) {
    KernelChoice restore;
    // Sizes off the region's multiples, so that matches are cut at a region's end.
    const std::vector<std::pair<std::string, std::vector<std::byte>>> inputs = {
        {"text", TextBytes(300007, 21)},
        {"quotations", Quotations(400009, 22)},
        {"noise", RandomBytes(70001, 23)},  // long stretches without a match
    };
    const std::vector<std::pair<std::string, EncodeFunction>> methods = {{"-lh5-", EncodeLh5},
                                                                         {"-lh7-", EncodeLh7}};
    int compared = 0;
    for (RelaxKernel kernel : {RelaxKernel::kAvx2, RelaxKernel::kAvx512}) {
        if (!RelaxKernelRuns(kernel)) {
            continue;
        }
        for (const auto& [name, data] : inputs) {
            for (const auto& [method, encode] : methods) {
                for (int level : {0, 1}) {
                    SCOPED_TRACE(name + " " + method + " level " + std::to_string(level) +
                                 " kernel " + std::to_string(static_cast<int>(kernel)));
                    UseRelaxKernel(RelaxKernel::kPortable);
                    const auto plain = Compress(encode, data, level);
                    UseRelaxKernel(kernel);
                    EXPECT_EQ(Compress(encode, data, level), plain);
                    ++compared;
                }
            }
        }
    }
    if (compared == 0) {
        GTEST_SKIP() << "this processor runs no vector build";
    }
}

}  // namespace
}  // namespace zembrat::lha::test
