// The helper's own walk over the newer format's headers: which members carry a crypt record,
// whether the headers are encrypted, and that damaged or foreign files give nothing.
#include "rar5_scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "fixtures_dir.h"
#include "temp_folder.h"

namespace zembrat::archive_host {
namespace {

Rar5Encryption Scan(const std::vector<std::string>& paths) {
    std::vector<int> fds;
    for (const std::string& path : paths) {
        fds.push_back(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    }
    Rar5Encryption found = ScanRar5Encryption(fds);
    for (const int fd : fds) {
        ::close(fd);
    }
    return found;
}

std::string Fixture(const std::string& name) {
    return ::zembrat::testing::FixturesDir().string() + "/rar/" + name;
}

TEST(Rar5Scan, FindsTheMembersWithACryptRecord) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    const struct {
        std::vector<std::string> files;
        std::set<std::string> encrypted;
    } cases[] = {
        {{Fixture("hostile/read_format_rar5_encrypted.rar")}, {"b.txt", "d.txt"}},
        {{Fixture("read_format_rar5_only_crypt_exfld.rar")}, {"file.txt"}},
        {{Fixture("read_format_rar5_multiple_files_solid.rar")}, {}},
        {{Fixture("read_format_rar5_sfx.exe")}, {}},
        {{Fixture("read_format_rar.rar")}, {}},  // the older format
        {{Fixture("manifest.tsv")}, {}},
        {{Fixture("multivolume/read_format_rar5_multiarchive.part01.rar"),
          Fixture("multivolume/read_format_rar5_multiarchive.part02.rar")},
         {}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.files.front());
        const Rar5Encryption found = Scan(test.files);
        EXPECT_EQ(found.members, test.encrypted);
        EXPECT_FALSE(found.headers);
    }
}

TEST(Rar5Scan, EveryCutOfAnArchiveEndsTheWalkQuietly) {
    std::ifstream in(Fixture("hostile/read_format_rar5_encrypted.rar"), std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(in)), {});
    testing::TempFolder scratch;
    for (std::size_t size = 0; size < whole.size(); size += 7) {
        std::string cut = whole.substr(0, size);
        if (size > 20) {
            cut[size / 2] = static_cast<char>(cut[size / 2] ^ 0xFF);  // and one byte spoiled
        }
        const Rar5Encryption found = Scan({scratch.Write("cut.rar", cut)});
        EXPECT_LE(found.members.size(), 2u);
    }
}

TEST(Rar5Scan, AnArchiveEncryptionHeaderMarksTheHeaders) {
    // Signature, then a header: CRC32 (not checked by the walk), size 2, type 4, flags 0.
    const std::string archive = std::string("Rar!\x1a\x07\x01\x00", 8) + std::string(4, '\0') +
                                std::string("\x02\x04\x00", 3);
    testing::TempFolder scratch;
    EXPECT_TRUE(Scan({scratch.Write("headers.rar", archive)}).headers);
}

}  // namespace
}  // namespace zembrat::archive_host
