// The names of the volumes that follow one, and the end-of-archive headers that say whether
// another follows.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "temp_folder.h"
#include "unrar32/volumes.h"

namespace zembrat::unrar32 {
namespace {

TEST(Unrar32VolumeNames, EachNamingGoesOnInItsOwnWay) {
    struct Case {
        const char* volume;
        std::optional<std::string> next;
    } const cases[] = {
        {"/in/a.part1.rar", "/in/a.part2.rar"},
        {"/in/a.part09.rar", "/in/a.part10.rar"},
        {"/in/a.part0999.rar", "/in/a.part1000.rar"},
        {"/in/a.part99.rar", std::nullopt},  // the width is the set's: no 100th of 99
        {"/in/A.PART1.RAR", "/in/A.PART2.RAR"},
        {"/in/a.rar", "/in/a.r00"},
        {"/in/A.RAR", "/in/A.R00"},
        {"/in/a.r00", "/in/a.r01"},
        {"/in/a.r09", "/in/a.r10"},
        {"/in/a.r99", std::nullopt},
        {"/in/a.001", "/in/a.002"},
        {"/in/data_aa", "/in/data_ab"},
        {"/in/data_az", "/in/data_ba"},
        {"/in/data.zz", std::nullopt},
        {"/in/my.part.rar", "/in/my.part.r00"},  // "part" without a number is a name
        {"/in.part1/a.exe", std::nullopt},       // a folder's name counts for nothing
        {"a.part1.rar", "a.part2.rar"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.volume);
        EXPECT_EQ(NextVolumeName(test.volume), test.next);
    }
}

TEST(Unrar32VolumeNames, TheLastHeaderSaysWhetherAVolumeFollows) {
    const std::string fixtures = std::string(ZEMBRAT_FIXTURES_DIR) + "/rar/";
    struct Case {
        std::string file;
        std::optional<bool> continues;
    } const cases[] = {
        {"multivolume/rar_multivolume_single_file.part1.rar", true},
        {"multivolume/rar_multivolume_single_file.part3.rar", false},
        {"multivolume/read_format_rar_multivolume.part0001.rar", true},
        {"multivolume/read_format_rar5_multiarchive.part01.rar", true},  // zeros after it
        {"multivolume/read_format_rar5_multiarchive.part08.rar", false},
        {"read_format_rar5_stored.rar", false},
        {"read_format_rar_noeof.rar", std::nullopt},  // ends without the header
        {"manifest.tsv", std::nullopt},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.file);
        EXPECT_EQ(VolumeContinues(fixtures + test.file), test.continues);
    }
}

TEST(Unrar32VolumeNames, AnEndHeaderWithABadChecksumSaysNothing) {
    const std::string fixtures = std::string(ZEMBRAT_FIXTURES_DIR) + "/rar/multivolume/";
    testing::TempFolder scratch;
    for (const char* name :
         {"rar_multivolume_single_file.part1.rar", "read_format_rar5_multiarchive.part01.rar"}) {
        SCOPED_TRACE(name);
        std::ifstream in(fixtures + name, std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(in)), {});
        // The last non-zero byte of both volumes lies inside the end header.
        const std::size_t flags = data.find_last_not_of('\0');
        ASSERT_NE(flags, std::string::npos);
        data[flags] = static_cast<char>(data[flags] ^ 0x10);
        EXPECT_EQ(VolumeContinues(scratch.Write("changed", data)), std::nullopt);
    }
}

}  // namespace
}  // namespace zembrat::unrar32
