#include "common/record_fields.h"

#include <gtest/gtest.h>

namespace zembrat::common {
namespace {

// The narrow fields of an entry record: sizes past 4 GiB and ratios past 0xFFFF saturate,
// an empty member has no ratio (and no division by zero).
TEST(RecordFields, SizesAndRatiosFitTheirFields) {
    struct Case {
        std::uint64_t compressed, original;
        std::uint16_t ratio;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, 0, "    -"},
        {5, 0, 0, "    -"},
        {500, 1000, 500, " 50.0%"},
        {1, 3, 333, " 33.3%"},
        {1000, 1000, 1000, "100.0%"},
        {70, 1, 0xFFFF, "7000.0%"},
        {std::uint64_t{1} << 40, std::uint64_t{1} << 41, 500, " 50.0%"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.compressed) + "/" + std::to_string(c.original));
        EXPECT_EQ(CompressionRatio(c.compressed, c.original), c.ratio);
        EXPECT_EQ(CompressionRatioText(c.compressed, c.original), c.text);
    }
    EXPECT_EQ(Clamp32(0), 0u);
    EXPECT_EQ(Clamp32(0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_EQ(Clamp32(std::uint64_t{1} << 32), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace zembrat::common
