// Shared pieces of the front end's tests: recording stand-ins for the progress display and
// the message box, file helpers, the LHA library beside the test program, and the lhasa
// tool that reads our archives back.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "component_test_support.h"
#include "drivers/lha32.h"
#include "platform/file_system.h"
#include "platform/system_folders.h"
#include "scoped_environment.h"

namespace zembrat::testing {

class RecordingProgress : public batch::ProgressView {
  public:
    void ProgressInitialize(int count) override {
        calls.push_back("init " + std::to_string(count));
    }
    void Show() override { calls.push_back("show"); }
    void SetLabel(const std::string& text) override { calls.push_back("label " + text); }
    void StepIt() override { calls.push_back("step"); }
    void Close() override { calls.push_back("close"); }
    std::vector<std::string> calls;
};

class RecordingNotifier : public batch::UserNotifier {
  public:
    void Beep() override { ++beeps; }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    int beeps = 0;
    std::vector<std::string> messages;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// Bytes that do not compress to nothing: a little text and a pseudo-random run.
inline std::string SampleContent(int seed, std::size_t size = 20000) {
    std::string content = "sample " + std::to_string(seed) + "\n";
    std::uint32_t state = 2463534242u + static_cast<std::uint32_t>(seed);
    while (content.size() < size) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        content.push_back(static_cast<char>('a' + state % 7));
    }
    return content;
}

// Equal bytes; on a difference, the sizes and the first differing offset rather than the
// whole content.
inline ::testing::AssertionResult SameBytes(const std::string& actual,
                                            const std::string& expected) {
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
        ++at;
    }
    return ::testing::AssertionFailure() << actual.size() << " bytes where " << expected.size()
                                         << " were expected, first difference at " << at;
}

struct CommandResult {
    int status = -1;
    std::string output;
};

inline CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, got);
    }
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

inline std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

inline bool HaveLhasa() {
    return RunCommand("command -v lhasa").status == 0;
}

// What lhasa prints of every member of the archive, concatenated.
inline std::string LhasaContent(const std::string& archive) {
    return RunCommand("lhasa pq " + Quoted(archive)).output;
}

// The names in a folder, sorted.
inline std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The real LHA library sits beside the test program, where the platform layer finds it.
inline bool HaveLhaLibrary() {
    return platform::FileExists(platform::ProgramFolder() + "libunlha32.so");
}

#define REQUIRE_LHA_LIBRARY()                                                         \
    do {                                                                              \
        if (!::zembrat::testing::HaveLhaLibrary()) {                                  \
            GTEST_SKIP() << "libunlha32.so is not built beside the test program yet"; \
        }                                                                             \
    } while (false)

#define REQUIRE_LHASA()                                                      \
    do {                                                                     \
        if (!::zembrat::testing::HaveLhasa()) {                              \
            GTEST_SKIP() << "lhasa (Debian package lhasa) is not installed"; \
        }                                                                    \
    } while (false)

// Libraries are looked for only in the given folder (none there: the library is missing)
// until the object goes; the LHA binding is loaded afresh on both sides.
class ScopedLibraryFolder {
  public:
    explicit ScopedLibraryFolder(const std::string& folder) {
        drivers::TLha32::FreeLibraryBinding();
        platform::OverrideLibrarySearch(std::vector<std::string>{folder}, false);
    }
    ~ScopedLibraryFolder() {
        drivers::TLha32::FreeLibraryBinding();
        platform::RestoreLibrarySearch();
    }
    ScopedLibraryFolder(const ScopedLibraryFolder&) = delete;
    ScopedLibraryFolder& operator=(const ScopedLibraryFolder&) = delete;
};

}  // namespace zembrat::testing
