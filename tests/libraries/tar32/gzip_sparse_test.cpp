// What the helper inflates itself (gzip, one member or several) and what it passes on as
// holes (sparse members), through libtar32.so.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tar32_library.h"
#include "ustar.h"

namespace zembrat::tar32::testing {
namespace {

namespace fs = std::filesystem;

TEST(Tar32GzipTest, ReadsGzipAsGzipReadersDo) {
    ASSERT_NE(Library().command, nullptr);
    const std::string big(300000, 'b');  // past one read of the inflater's input
    const std::string tar = Ustar({{"a.txt", '0', "alpha"}, {"big.bin", '0', big}});
    const std::string gz = Gzip(tar);
    struct Case {
        const char* name;
        std::string archive;
        bool sound;
    };
    const Case cases[] = {
        {"one member", gz, true},
        {"members one after another", Gzip(tar.substr(0, 1024)) + Gzip(tar.substr(1024)), true},
        {"zeros after the last member", gz + std::string(1000, '\0'), true},
        {"truncated", gz.substr(0, gz.size() / 2), false},
        {"bad crc", gz.substr(0, gz.size() - 8) + "\x01\x02\x03\x04" + gz.substr(gz.size() - 4),
         false},
        {"bad length", gz.substr(0, gz.size() - 4) + std::string("\x09\x09\x09\x09", 4), false},
    };
    const TempFolder scratch;
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const std::string archive = scratch / "t.tgz";
        std::ofstream(archive, std::ios::binary | std::ios::trunc) << test.archive;
        for (const char* command : {"x", "t"}) {
            const std::string out = scratch / (std::string(command) + "-" + test.name + "/");
            const auto result =
                Library().Run(std::string(command) + ExtractLine(archive, out).substr(1));
            EXPECT_EQ(result.code == 0, test.sound) << command << ": " << result.text;
            if (test.sound && command[0] == 'x') {
                EXPECT_EQ(ReadFile(out + "a.txt"), "alpha");
                EXPECT_EQ(ReadFile(out + "big.bin"), big);
            }
        }
    }
}

// An 8 GiB sparse file in a tar.gz of a few KiB: extracted with its holes as holes, past the
// output limit a file of that size would hit, and quickly.
TEST(Tar32SparseTest, HolesStayHoles) {
    ASSERT_NE(Library().command, nullptr);
    if (std::system("tar --version 2>/dev/null | grep -q GNU") != 0) {
        GTEST_SKIP() << "GNU tar is not installed";
    }
    const TempFolder scratch;
    const std::string source = scratch / "sparse.img";
    constexpr std::uintmax_t kSize = 8ull << 30;
    {
        std::ofstream(source, std::ios::binary) << "head";
        fs::resize_file(source, kSize / 2);
        std::ofstream(source, std::ios::binary | std::ios::app) << "middle";
        fs::resize_file(source, kSize);  // a hole at the end too
    }
    struct Case {
        const char* file;
        const char* format;
    };
    const Case cases[] = {{"gnu.tgz", "gnu"}, {"pax.tgz", "pax"}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.file);
        const std::string archive = scratch / test.file;
        ASSERT_EQ(std::system(("tar --sparse --format=" + std::string(test.format) + " -czf '" +
                               archive + "' -C '" + scratch.Folder() + "' sparse.img")
                                  .c_str()),
                  0);
        ASSERT_LT(fs::file_size(archive), 64u * 1024);
        const std::string out = scratch / (std::string("out-") + test.format + "/");
        const auto result = Library().Run(ExtractLine(archive, out));
        ASSERT_EQ(result.code, 0) << result.text;
        const std::string extracted = out + "sparse.img";
        ASSERT_EQ(fs::file_size(extracted), kSize);
        struct stat info {};
        ASSERT_EQ(::stat(extracted.c_str(), &info), 0);
        EXPECT_LT(static_cast<std::uint64_t>(info.st_blocks) * 512, 1u << 20);
        std::ifstream in(extracted, std::ios::binary);
        std::string piece(6, '\0');
        in.read(piece.data(), 4);
        EXPECT_EQ(piece.substr(0, 4), "head");
        in.seekg(static_cast<std::streamoff>(kSize / 2));
        in.read(piece.data(), 6);
        EXPECT_EQ(piece, "middle");
        fs::remove(extracted);
    }
}

// A file with holes is written sparse: an 8 GiB file makes an archive of a few KiB that we,
// GNU tar, bsdtar and our self-extracting stub ("cat": the stub with the archive appended)
// read back with the same bytes and the holes kept. (7zz reads no pax
// sparse member, GNU tar's own included.)
TEST(Tar32SparseTest, WrittenSparseAndReadBack) {
    ASSERT_NE(Library().command, nullptr);
    const TempFolder scratch;
    constexpr std::uintmax_t kSize = 8ull << 30;
    const std::string source = scratch.Write("src/sparse.img", "head");
    fs::resize_file(source, kSize / 2);
    std::ofstream(source, std::ios::binary | std::ios::app) << "middle";
    fs::resize_file(source, kSize);
    const std::string empty = scratch.Write("src/holes.img", "");
    fs::resize_file(empty, 3u << 30);                        // nothing but a hole
    scratch.Write("src/small.txt", std::string(5000, 's'));  // no holes: stored whole
    for (const char* file : {"s.tar", "s.tgz"}) {
        SCOPED_TRACE(file);
        const std::string archive = scratch / file;
        const auto packed = Library().Run(
            std::string("c ") + (file[2] == 'g' ? "-z " : "") + "-f " + Quoted(archive) + " -o " +
            Quoted(scratch / "src/") + " \"sparse.img\" \"holes.img\" \"small.txt\" ");
        ASSERT_EQ(packed.code, 0) << packed.text;
        EXPECT_LT(fs::file_size(archive), 64u * 1024);
        const struct {
            const char* name;
            std::string command;  // run in the folder to extract into
        } readers[] = {{"ours", ""},
                       {"tar", "tar -xf '" + archive + "'"},
                       {"bsdtar", "bsdtar -xf '" + archive + "'"},
                       {"cat", "cat '" + std::string(ZEMBRAT_TARSFX_PATH) + "' '" + archive +
                                   "' > ../x.exe && chmod +x ../x.exe && ../x.exe >/dev/null"}};
        for (const auto& reader : readers) {
            SCOPED_TRACE(reader.name);
            const std::string out = scratch / (std::string(file) + "-" + reader.name + "/");
            fs::create_directories(out);
            if (reader.command.empty()) {
                const auto result = Library().Run(ExtractLine(archive, out));
                ASSERT_EQ(result.code, 0) << result.text;
            } else if (std::system(
                           ("command -v " + std::string(reader.name) + " >/dev/null").c_str()) !=
                           0 ||
                       std::system(("cd '" + out + "' && " + reader.command).c_str()) != 0) {
                ADD_FAILURE() << "cannot read it";
                continue;
            }
            EXPECT_EQ(fs::file_size(out + "sparse.img"), kSize);
            EXPECT_EQ(fs::file_size(out + "holes.img"), 3u << 30);
            EXPECT_EQ(ReadFile(out + "small.txt"), std::string(5000, 's'));
            struct stat info {};
            ASSERT_EQ(::stat((out + "sparse.img").c_str(), &info), 0);
            EXPECT_LT(static_cast<std::uint64_t>(info.st_blocks) * 512, 1u << 20);
            std::ifstream in(out + "sparse.img", std::ios::binary);
            std::string piece(6, '\0');
            in.seekg(static_cast<std::streamoff>(kSize / 2));
            in.read(piece.data(), 6);
            EXPECT_EQ(piece, "middle");
            fs::remove_all(out);
        }
    }
}

}  // namespace
}  // namespace zembrat::tar32::testing
