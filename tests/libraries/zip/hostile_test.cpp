// Crafted, damaged and encrypted archives end promptly with a clear error for the member or
// the archive, the members after a bad one are still read, and a helper that cannot be
// started, stops answering or dies is an error for that archive.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>

#include "temp_folder.h"
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
    {"read_data_into_fd_size_exceeds_declared_stored.zip", "wrong size", 1},
    {"read_format_zip_size_exceeds_declared_stored.zip", "wrong size", 1},
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
    const std::string archive = folder.Write("some.zip", "PK\x05\x06" + std::string(18, '\0'));
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
