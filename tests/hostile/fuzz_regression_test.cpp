// Every input a fuzz target once failed on (tests/fuzz/regressions/<target>/) replayed
// through the normal build, with the promise that target checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "archives/archiver_errors.h"
#include "archives/cmd_opt.h"
#include "common/name_encoding.h"
#include "common/safe_path.h"
#include "lha/archive.h"
#include "unlha32/request.h"

namespace zembrat::hostile {
namespace {

namespace fs = std::filesystem;

std::vector<std::pair<std::string, std::string>> Inputs(const std::string& target) {
    std::vector<std::pair<std::string, std::string>> inputs;
    const fs::path folder = fs::path(ZEMBRAT_FUZZ_REGRESSIONS) / target;
    if (!fs::is_directory(folder)) {
        return inputs;
    }
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::ifstream file(entry.path(), std::ios::binary);
        inputs.emplace_back(entry.path().filename().string(),
                            std::string(std::istreambuf_iterator<char>(file), {}));
    }
    return inputs;
}

TEST(FuzzRegression, ArchivesDecodeOrFailCleanly) {
    for (const auto& [name, bytes] : Inputs("archive_fuzzer")) {
        SCOPED_TRACE(name);
        lha::MemoryInput input(std::as_bytes(std::span(bytes.data(), bytes.size())));
        try {
            lha::Reader reader(input);
            while (reader.Next()) {
                try {
                    lha::MemoryOutput out;
                    reader.Extract(out);
                } catch (const lha::Error&) {
                }
            }
        } catch (const lha::Error&) {
        }
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
