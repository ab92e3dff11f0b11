// The names of the volumes that follow one, the end-of-archive headers that say whether
// another follows, and the main headers that tell a later volume from the first.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "fixtures_dir.h"
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
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    const std::string fixtures = ::zembrat::testing::FixturesDir().string() + "/rar/";
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
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    const std::string fixtures = ::zembrat::testing::FixturesDir().string() + "/rar/multivolume/";
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

TEST(Unrar32VolumeNames, ANameTellsItsSetsFirstVolumeAndItsNumber) {
    struct Case {
        const char* volume;
        const char* first;  // nullptr: the name follows no naming
        std::size_t number;
    } const cases[] = {
        {"/in/a.part0010.rar", "/in/a.part0001.rar", 10},
        {"/in/A.PART2.RAR", "/in/A.PART1.RAR", 2},
        {"/in/a.part0.rar", nullptr, 0},
        {"/in/a.part12345678901234567890.rar", nullptr, 0},
        {"/in/A.R05", "/in/A.RAR", 7},
        {"/in/a.003", "/in/a.001", 3},
        {"/in/data_ba", "/in/data_aa", 27},
        {"/in/a.exe", nullptr, 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.volume);
        const auto place = PlaceByName(test.volume);
        ASSERT_EQ(place.has_value(), test.first != nullptr);
        if (place) {
            EXPECT_EQ(place->first, test.first);
            EXPECT_EQ(place->number, test.number);
        }
    }
}

std::uint32_t Crc32(std::string_view data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : data) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

// A volume of the older format whose main header says another thing: its flags' low byte
// changed, with the header's checksum made right again or left wrong.
std::string WithOlderMainFlags(std::string volume, unsigned char flags, bool fixChecksum) {
    constexpr std::size_t kMain = 7;  // after the signature: CRC16, type, flags, size 13
    volume[kMain + 3] = static_cast<char>(flags);
    if (fixChecksum) {
        const std::uint32_t crc = Crc32(std::string_view(volume).substr(kMain + 2, 11));
        volume[kMain] = static_cast<char>(crc & 0xFF);
        volume[kMain + 1] = static_cast<char>((crc >> 8) & 0xFF);
    }
    return volume;
}

TEST(Unrar32LaterVolumes, TheMainHeaderTellsALaterVolumeAndTheNameItsFirst) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    const std::string fixtures = ::zembrat::testing::FixturesDir().string() + "/rar/multivolume/";
    const auto read = [&](const std::string& name) {
        std::ifstream in(fixtures + name, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    };
    const std::string older2 = read("rar_multivolume_multiple_files.part2.rar");
    const std::string newer3 = read("read_format_rar5_multiarchive.part03.rar");
    struct Case {
        const char* name;
        std::string content;
        const char* firstBeside;  // a file written beside it, when not nullptr
        bool later;
        std::size_t number;
        const char* first;  // "" when the name does not tell
        bool firstFound;
    } const cases[] = {
        {"s.part1.rar", read("rar_multivolume_multiple_files.part1.rar"), nullptr, false, 0, "",
         false},
        {"s.part2.rar", older2, "s.part1.rar", true, 2, "s.part1.rar", true},
        {"s.part6.rar", read("rar_multivolume_multiple_files.part6.rar"), nullptr, true, 6,
         "s.part1.rar", false},
        {"s.part01.rar", read("read_format_rar5_multiarchive.part01.rar"), nullptr, false, 0, "",
         false},
        {"s.part03.rar", newer3, "s.part01.rar", true, 3, "s.part01.rar", true},
        {"s.part04.rar", read("read_format_rar5_multiarchive_solid.part04.rar"), nullptr, true, 4,
         "s.part01.rar", false},
        // Renamed: the header still tells; the name may not tell the first volume.
        {"renamed.rar", older2, nullptr, true, 0, "", false},
        {"renamed.rar", newer3, nullptr, true, 3, "", false},
        {"old.r00", older2, "old.rar", true, 2, "old.rar", true},
        // Older sets leave their first volume unmarked: then the name tells which one is.
        {"old.rar", WithOlderMainFlags(older2, 0x01, true), nullptr, false, 0, "", false},
        {"old.r00", WithOlderMainFlags(older2, 0x01, true), nullptr, true, 2, "old.rar", false},
        // A main header whose checksum fails tells nothing (the decoder says what is wrong).
        {"s.part2.rar", WithOlderMainFlags(older2, 0x13, false), nullptr, false, 0, "", false},
        {"s.part03.rar", newer3.substr(0, 20), nullptr, false, 0, "", false},
        {"s_ab", read("read_splitted_rar_ab"), nullptr, false, 0, "", false},
        {"s.rar", std::string(), nullptr, false, 0, "", false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        testing::TempFolder scratch;
        const std::string volume = scratch.Write(test.name, test.content);
        if (test.firstBeside != nullptr) {
            scratch.Write(test.firstBeside);
        }
        const auto later = FindLaterVolume(volume);
        ASSERT_EQ(later.has_value(), test.later);
        if (later) {
            EXPECT_EQ(later->number, test.number);
            EXPECT_EQ(later->first, *test.first == '\0' ? "" : scratch / test.first);
            EXPECT_EQ(later->firstFound, test.firstFound);
        }
    }
}

}  // namespace
}  // namespace zembrat::unrar32
