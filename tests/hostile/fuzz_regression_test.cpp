// Every input a fuzz target once failed on (tests/fuzz/regressions/<target>/) replayed
// through the normal build, with the promise that target checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "archives/archiver_errors.h"
#include "archives/cmd_opt.h"
#include "common/name_encoding.h"
#include "common/safe_path.h"
#include "crafted_archive.h"
#include "fuzz_checks.h"
#include "lha/archive.h"
#include "unlha32/request.h"

namespace zembrat::hostile {
namespace {

namespace fs = std::filesystem;

// The inputs kept for a fuzz target; a folder that is missing or empty fails, so that the
// replay can never pass by running nothing.
std::vector<std::pair<std::string, std::string>> Inputs(const std::string& target) {
    std::vector<std::pair<std::string, std::string>> inputs;
    const fs::path folder = fs::path(ZEMBRAT_FUZZ_REGRESSIONS) / target;
    if (fs::is_directory(folder)) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            std::ifstream file(entry.path(), std::ios::binary);
            inputs.emplace_back(entry.path().filename().string(),
                                std::string(std::istreambuf_iterator<char>(file), {}));
        }
    }
    EXPECT_FALSE(inputs.empty()) << "no regression inputs in " << folder;
    return inputs;
}

// What archive_fuzzer promises for any bytes: headers only move forward, every member
// decodes or fails with an lha::Error, a name prints without control characters, and a
// name that passes the check extraction makes (by the rules of the writer's system) stays
// below the destination.
void ExpectReadCleanly(std::span<const std::byte> bytes) {
    lha::MemoryInput input(bytes);
    try {
        lha::Reader reader(input);
        std::uint64_t previous = 0;
        while (auto member = reader.Next()) {
            EXPECT_GE(member->headerOffset, previous);
            EXPECT_GT(member->dataOffset, member->headerOffset);
            previous = member->dataOffset;
            const std::string host =
                common::DecodeStoredName(member->path, member->encoding == lha::NameEncoding::kUtf8,
                                         member->osId, platform::kCodePageUtf8);
            const std::string shown = common::EscapeControlCharacters(host);
            EXPECT_TRUE(std::none_of(shown.begin(), shown.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
            })) << shown;
            std::string reason;
            const auto rules =
                member->osId == 'U' ? common::NameRules::kUnix : common::NameRules::kDos;
            if (auto relative = common::SafeRelativePath(host, reason, rules)) {
                EXPECT_NE(relative->front(), '/') << *relative;
                EXPECT_EQ(("/" + *relative + "/").find("/../"), std::string::npos) << *relative;
            }
            try {
                ::zembrat::testing::CappedOutput out("output limit");
                reader.Extract(out);
            } catch (const lha::Error&) {
            }
        }
    } catch (const lha::Error&) {
    }
}

TEST(FuzzRegression, ArchivesDecodeOrFailCleanly) {
    for (const auto& [name, bytes] : Inputs("archive_fuzzer")) {
        SCOPED_TRACE(name);
        ExpectReadCleanly(std::as_bytes(std::span(bytes.data(), bytes.size())));
    }
    // And the crafted archives the fuzz target starts from.
    for (const auto& [name, bytes] : CraftedSeeds()) {
        SCOPED_TRACE(name);
        ExpectReadCleanly(bytes);
    }
}

TEST(FuzzRegression, NamesComeBackAsStored) {
    for (const auto& [name, bytes] : Inputs("path_text_fuzzer")) {
        SCOPED_TRACE(name);
        const std::string_view text = std::string_view(bytes).substr(1);
        const std::string_view path = text.substr(0, text.find('\0'));
        if (!common::IsValidUtf8(path)) {
            continue;
        }
        const auto stored = common::EncodeStoredName(path, platform::kCodePageUtf8);
        EXPECT_EQ(
            common::DecodeStoredName(stored.bytes, stored.unicode, 'U', platform::kCodePageUtf8),
            path);
    }
}

TEST(FuzzRegression, CommandLinesParseOrFailCleanly) {
    for (const auto& [name, bytes] : Inputs("command_line_fuzzer")) {
        SCOPED_TRACE(name);
        const std::string line = bytes.substr(0, bytes.find('\0'));
        try {
            unlha32::ParseCommandLine(line, true);
        } catch (const unlha32::Failure&) {
        }
    }
}

// A file name the library would read as a list file is refused by the builder.
TEST(FuzzRegression, ListFileLikeNamesNeverReachTheLibraryInline) {
    archives::TCmdOpt builder;
    const archives::FileItem items[] = {std::string("plain.txt"), std::string("@/")};
    EXPECT_THROW(builder.AddFiles("", items), archives::EArchiver);
    EXPECT_EQ(builder.Text, "");
    // Through the list file the same name is just a name.
    const archives::FileItem masks[] = {std::string("@*.txt")};
    builder.AddFiles("jx", masks);
    EXPECT_EQ(builder.Text, " \"-jx@*.txt\"");
}

}  // namespace
}  // namespace zembrat::hostile
