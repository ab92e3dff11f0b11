// Crafted, damaged and encrypted archives end promptly with a clear error for the member or
// the archive, the members after a bad one are still read, and a helper that cannot be
// started, stops answering or dies is an error for that archive.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "fixtures_dir.h"
#include "temp_folder.h"
#include "test_support.h"
#include "zip_test_support.h"

namespace zembrat::zip::test {
namespace {

struct HostileCase {
    const char* file;
    const char* error;        // expected in the member's or the archive's reason
    std::size_t goodMembers;  // members that still extract whole
};

const HostileCase kHostileCases[] = {
    {"read_data_into_fd_size_exceeds_declared_deflate.zip", "past its declared size", 1},
    {"read_data_into_fd_size_exceeds_declared_stored.zip", "past its declared size", 1},
    {"read_format_zip_size_exceeds_declared_stored.zip", "past its declared size", 1},
    {"read_format_zip_bz2_hang.zip", "damaged archive", 0},
    {"read_format_zip_encryption_data.zip", "encrypted member, not supported", 0},
    {"read_format_zip_encryption_header.zip", "damaged archive", 0},
    {"read_format_zip_symlink_unsupported_compression.zip", "damaged member header", 1},
    {"read_format_zip_traditional_encryption_data.zip", "encrypted member, not supported", 0},
    {"read_format_zip_winzip_aes128.zip", "encrypted member, not supported", 0},
    {"read_format_zip_winzip_aes256.zip", "encrypted member, not supported", 0},
    {"read_format_zip_winzip_aes256_large_ppmd.zip", "encrypted member, not supported", 0},
    {"read_format_zip_winzip_aes256_stored.zip", "encrypted member, not supported", 0},
};

TEST(ZipHostile, EveryCraftedArchiveEndsPromptlyWithAClearError) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    std::size_t listed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ZipFixturesDir() / "hostile")) {
        ++listed;
        SCOPED_TRACE(entry.path().filename().string());
        const auto* known =
            std::find_if(std::begin(kHostileCases), std::end(kHostileCases),
                         [&](const HostileCase& c) { return entry.path().filename() == c.file; });
        ASSERT_NE(known, std::end(kHostileCases)) << "a hostile fixture without a case";
        const auto started = std::chrono::steady_clock::now();
        const ReadResult result = ReadArchive(entry.path());
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        std::string errors = result.archiveError;
        std::size_t good = 0;
        for (const auto& member : result.members) {
            errors += member.error + "\n";
            good += member.error.empty() && member.kind == MemberKind::kFile ? 1 : 0;
        }
        EXPECT_NE(errors.find(known->error), std::string::npos) << errors;
        EXPECT_EQ(good, known->goodMembers) << errors;
    }
    EXPECT_EQ(listed, std::size(kHostileCases));
}

// One byte of a member's data changed after writing: its CRC (or its deflate stream) fails
// after the data came, which spoils that member and no other.
TEST(ZipHostile, DamagedDataFailsItsMemberOnly) {
    zembrat::testing::TempFolder folder;
    for (const int level : {0, 6}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const std::string archive = folder / "damaged.zip";
        const auto data = lha::test::TextBytes(100000, 1);
        {
            const int fd = ::open(archive.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            Writer writer(fd, {level, 0});
            for (const char* name : {"first.txt", "second.txt"}) {
                MemoryInput input(data);
                writer.AddFile({name, 0, 0644}, input, data.size());
            }
            writer.Finish();
            ::close(fd);
        }
        auto bytes = lha::test::ReadFileBytes(archive);
        bytes[30 + 9 + 9 + 500] ^= std::byte{0x20};  // inside the first member's data
        lha::test::WriteFileBytes(archive, bytes);
        const ReadResult result = ReadArchive(archive);
        EXPECT_EQ(result.archiveError, "");
        ASSERT_EQ(result.members.size(), 2u);
        EXPECT_NE(result.members[0].error, "");
        EXPECT_EQ(result.members[1].error, "");
        EXPECT_EQ(result.members[1].size, data.size());
    }
}

// Helper programs that misbehave, as scripts standing in for the real one.
struct BadHelperCase {
    const char* name;
    const char* script;  // empty: no such program at all
    const char* error;
};

const BadHelperCase kBadHelpers[] = {
    {"missing", "", "cannot start the helper"},
    {"silent", "#!/bin/sh\nexec sleep 30\n", "without progress"},
    {"killed by a signal", "#!/bin/sh\nkill -SEGV $$\n", "the decoder failed"},
    {"garbage", "#!/bin/sh\nprintf 'X\\377\\377\\377\\377'\nsleep 30\n", "malformed"},
};

TEST(ZipHostile, AMisbehavingHelperIsAnErrorForThatArchive) {
    zembrat::testing::TempFolder folder;
    // No end record: only the helper reads members from their local headers.
    const std::string archive = folder.Write("some.zip", "PK\x03\x04" + std::string(40, '\0'));
    for (const auto& bad : kBadHelpers) {
        SCOPED_TRACE(bad.name);
        ReaderOptions options;
        options.host.helperPath = folder / (std::string(bad.name) + ".sh");
        options.host.answerTimeout = std::chrono::milliseconds(500);
        if (*bad.script != '\0') {
            folder.Write(std::string(bad.name) + ".sh", bad.script);
            ::chmod(options.host.helperPath.c_str(), 0755);
        }
        const auto started = std::chrono::steady_clock::now();
        const ReadResult result = ReadArchive(archive, options);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        EXPECT_NE(result.archiveError.find(bad.error), std::string::npos) << result.archiveError;
    }
}

}  // namespace
}  // namespace zembrat::zip::test
