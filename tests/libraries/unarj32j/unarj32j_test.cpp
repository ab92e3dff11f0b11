// libunarj32j.so over archives Debian's arj makes: every method, folders, volumes, garbled
// members and self-extracting programs, through the entries the archive component binds.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archiver_library.h"
#include "arj_builder.h"
#include "fixture_files.h"
#include "temp_folder.h"

namespace {

using zembrat::testing::ReadFile;
using zembrat::testing::TempFolder;

class UnarjLibrary : public zembrat::testing::ArchiverLibrary {
  public:
    UnarjLibrary() : ArchiverLibrary(ZEMBRAT_UNARJ32J_PATH, "Unarj") {}

    // The names and sizes OpenArchive, FindFirst and FindNext report.
    std::map<std::string, std::uint32_t> Listing(const std::string& archive) const {
        std::map<std::string, std::uint32_t> names;
        for (const ARCHIVE_ENTRY_RECORD& entry : Entries(archive)) {
            names[entry.file_name] = entry.original_size;
        }
        return names;
    }
};

std::string Text(std::size_t size) {
    std::string text;
    for (int line = 0; text.size() < size; ++line) {
        text += "line " + std::to_string(line * 7919 % 100003) + " of the sample text\n";
    }
    text.resize(size);
    return text;
}

std::string Noise(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 2463534242u;
    for (char& c : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state);
    }
    return bytes;
}

const std::map<std::string, std::string>& Files() {
    static const std::map<std::string, std::string> files = {
        {"empty.txt", ""},
        {"text.txt", Text(180000)},
        {"noise.bin", Noise(70000)},
        {"runs.bin", std::string(150000, 'A') + Noise(3000) + std::string(60000, '\0')},
        {"sub/deeper/inner.txt", Text(5000)},
        {"日本語.txt", "utf-8 name"},
    };
    return files;
}

int Shell(const std::string& command) {
    return std::system(command.c_str());
}

// The sample files in src/, and arj run in it with the switches given.
class ArjArchives : public ::testing::Test {
  protected:
    void SetUp() override {
        if (Shell("command -v arj >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "arj is not installed";
        }
        for (const auto& [name, content] : Files()) {
            folder_.Write("src/" + name, content);
        }
    }
    std::string MakeArchive(const std::string& name, const std::string& switches,
                            const std::string& files = "'*'") {
        const std::string archive = folder_ / name;
        EXPECT_EQ(Shell("cd '" + folder_ / "src" + "' && arj a -y " + switches + " '" + archive +
                        "' " + files + " >/dev/null 2>&1"),
                  0);
        return archive;
    }
    void ExpectExtracted(const std::string& folder, bool all = true) {
        for (const auto& [name, content] : Files()) {
            if (all || name.find('/') == std::string::npos) {
                EXPECT_EQ(ReadFile(folder + name), content) << name;
            }
        }
    }

    UnarjLibrary library_;
    TempFolder folder_;
};

TEST_F(ArjArchives, EveryMethodExtractsListsAndTests) {
    for (int method = 0; method <= 4; ++method) {
        SCOPED_TRACE("method " + std::to_string(method));
        const std::string archive =
            MakeArchive("m" + std::to_string(method) + ".arj", "-r -m" + std::to_string(method));
        const std::string out = folder_ / ("out" + std::to_string(method)) + "/";
        // The line the ARJ driver sends for the batch run, as it spaces it.
        const auto extracted =
            library_.Run("x -+ -m2 -n1 -y1 -jse1 -jso1 -gw2  \"" + archive + "\" \"" + out + "\" ");
        EXPECT_EQ(extracted.code, 0) << extracted.text;
        ExpectExtracted(out);
        const auto tested = library_.Run("t \"" + archive + "\"");
        EXPECT_EQ(tested.code, 0) << tested.text;
        const auto listed = library_.Listing(archive);
        EXPECT_EQ(listed.size(), Files().size());
        EXPECT_EQ(listed.at("sub/deeper/inner.txt"), 5000u);
        EXPECT_TRUE(library_.checkArchive(archive.c_str(), ARC_CHECK_FULL));
    }
}

TEST_F(ArjArchives, FoldersAndNamesOnly) {
    // Old times, so that a time not restored shows.
    ASSERT_EQ(Shell("cd '" + folder_ / "src" +
                    "' && touch -d '2011-03-04 05:06:08' text.txt "
                    "sub/deeper/inner.txt sub/deeper sub"),
              0);
    const std::string archive = MakeArchive("dirs.arj", "-r -a1 -m1");
    const auto x = library_.Run("x \"" + archive + "\" \"" + folder_ / "x" + "/\"");
    EXPECT_EQ(x.code, 0) << x.text;
    ExpectExtracted(folder_ / "x/");
    EXPECT_TRUE(std::filesystem::is_directory(folder_ / "x/sub/deeper"));
    // Times come back to the 2 seconds MS-DOS times hold, files and folders alike.
    for (const std::string name : {"text.txt", "sub/deeper/inner.txt", "sub/deeper"}) {
        const auto made = std::filesystem::last_write_time(folder_ / ("src/" + name));
        const auto extracted = std::filesystem::last_write_time(folder_ / ("x/" + name));
        EXPECT_LE(std::chrono::abs(made - extracted), std::chrono::seconds(2)) << name;
    }
    // e drops the folders.
    const auto e = library_.Run("e \"" + archive + "\" \"" + folder_ / "e" + "/\"");
    EXPECT_EQ(e.code, 0) << e.text;
    EXPECT_EQ(ReadFile(folder_ / "e/inner.txt"), Files().at("sub/deeper/inner.txt"));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "e/sub"));
}

TEST_F(ArjArchives, VolumeSetsReadOnFromTheFirst) {
    for (int method : {0, 1, 4}) {
        SCOPED_TRACE("method " + std::to_string(method));
        const std::string set = "vol" + std::to_string(method);
        const std::string archive =
            MakeArchive(set + ".arj", "-r -v40K -m" + std::to_string(method));
        ASSERT_TRUE(std::filesystem::exists(folder_ / (set + ".a01")));
        const std::string out = folder_ / ("out" + set) + "/";
        const auto x = library_.Run("x \"" + archive + "\" \"" + out + "\"");
        EXPECT_EQ(x.code, 0) << x.text;
        ExpectExtracted(out);
        EXPECT_EQ(library_.Listing(archive).at("text.txt"), Files().at("text.txt").size());
    }
    // A missing volume is a broken archive, and nothing is left half-written.
    std::filesystem::remove(folder_ / "vol1.a02");
    const std::string out = folder_ / "missing/";
    const auto x = library_.Run("x \"" + (folder_ / "vol1.arj") + "\" \"" + out + "\"");
    EXPECT_EQ(x.code, ARC_ERROR_BROKEN_ARCHIVE) << x.text;
    EXPECT_NE(x.text.find("volume 2"), std::string::npos) << x.text;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(out)) {
        if (entry.is_regular_file()) {
            const std::string name = entry.path().lexically_relative(out).string();
            EXPECT_EQ(ReadFile(entry.path().string()), Files().at(name)) << name;
        }
    }
}

TEST_F(ArjArchives, GarbledMembersAreRefusedClearly) {
    const std::string archive = MakeArchive("g.arj", "-gsecret", "text.txt noise.bin");
    const auto x = library_.Run("x \"" + archive + "\" \"" + folder_ / "g" + "/\"");
    EXPECT_EQ(x.code, ARC_ERROR_UNKNOWN_METHOD);
    EXPECT_NE(x.text.find("text.txt: encrypted, not supported"), std::string::npos) << x.text;
    EXPECT_FALSE(std::filesystem::exists(folder_ / "g/text.txt"));
    EXPECT_EQ(library_.Listing(archive).size(), 2u);
    std::string buffer(10, '\0');
    std::uint32_t written = 0;
    const std::string line = "\"" + archive + "\" text.txt";
    EXPECT_EQ(library_.extractMem(0, line.c_str(), reinterpret_cast<unsigned char*>(buffer.data()),
                                  10, nullptr, nullptr, &written),
              ARC_ERROR_UNKNOWN_METHOD);
}

TEST_F(ArjArchives, SelfExtractingProgramsAndMemory) {
    const std::string archive = MakeArchive("sfx.arj", "-je -m1", "text.txt runs.bin");
    const auto x = library_.Run("x \"" + archive + "\" \"" + folder_ / "s" + "/\"");
    EXPECT_EQ(x.code, 0) << x.text;
    EXPECT_EQ(ReadFile(folder_ / "s/runs.bin"), Files().at("runs.bin"));
    EXPECT_TRUE(library_.checkArchive(archive.c_str(), ARC_CHECK_FULL | ARC_CHECK_EMBEDDED));
    const HARC handle = library_.openArchive(0, archive.c_str(), 0x00800002);
    EXPECT_NE(handle, HARC{});
    library_.closeArchive(handle);

    std::string buffer(Files().at("text.txt").size(), '\0');
    std::uint32_t written = 0;
    const std::string line = "\"" + archive + "\" text.txt";
    EXPECT_EQ(
        library_.extractMem(0, line.c_str(), reinterpret_cast<unsigned char*>(buffer.data()),
                            static_cast<std::uint32_t>(buffer.size()), nullptr, nullptr, &written),
        0);
    EXPECT_EQ(buffer, Files().at("text.txt"));
}

// The owner's answers: the states seen, and 1 (stop) at the report numbered stopAt.
std::vector<unsigned> progressStates;
int stopAt = -1;
int Answer(ARC_HWND, unsigned, unsigned state, LPEXTRACTINGINFOEX) {
    progressStates.push_back(state);
    return static_cast<int>(progressStates.size()) - 1 == stopAt ? 1 : 0;
}

TEST_F(ArjArchives, ProgressAcrossVolumesAndStopping) {
    const std::string archive = MakeArchive("p.arj", "-m0 -v60K", "text.txt");
    ASSERT_TRUE(std::filesystem::exists(folder_ / "p.a02"));
    ASSERT_NE(library_.setOwnerWindow(1, Answer), 0);
    progressStates.clear();
    stopAt = -1;
    EXPECT_EQ(library_.Run("x \"" + archive + "\" \"" + folder_ / "all" + "/\"").code, 0);
    // One member over three volumes: one begin, updates as the whole passes 64 KiB steps
    // (not once per part), one end.
    ASSERT_GE(progressStates.size(), 3u);
    EXPECT_EQ(progressStates.front(), static_cast<unsigned>(ARC_PROGRESS_BEGIN));
    EXPECT_EQ(progressStates.back(), static_cast<unsigned>(ARC_PROGRESS_END));
    EXPECT_EQ(std::count(progressStates.begin(), progressStates.end(),
                         static_cast<unsigned>(ARC_PROGRESS_BEGIN)),
              1);

    progressStates.clear();
    stopAt = 2;
    EXPECT_EQ(library_.Run("x \"" + archive + "\" \"" + folder_ / "stopped" + "/\"").code,
              ARC_ERROR_ABORTED);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "stopped/text.txt"));
    library_.killOwnerWindow(1);
}

// The ARJ driver's content probe: OpenArchive with 0x00800002, yes when a handle comes back.
TEST_F(ArjArchives, ContentProbeAnswersOnlyForArjArchivesAndPrograms) {
    const std::string plain = MakeArchive("probe.arj", "-m1", "text.txt");
    const std::string program = MakeArchive("probe.exe", "-je -m1", "text.txt");
    ASSERT_EQ(Shell("cd '" + folder_.Folder() +
                    "' && tar cf held.tar probe.arj && 7zz a -tzip "
                    "-mx0 held.zip probe.arj >/dev/null"),
              0);
    const struct {
        std::string file;
        bool arj;
    } cases[] = {
        {plain, true},
        {program, true},
        {folder_ / "held.tar", false},
        {folder_ / "held.zip", false},
        {folder_.Write("text.bin", Text(5000)), false},
        {folder_ / "missing.arj", false},
    };
    for (const auto& c : cases) {
        const HARC handle = library_.openArchive(0, c.file.c_str(), 0x00800002);
        EXPECT_EQ(handle != HARC{}, c.arj) << c.file;
        library_.closeArchive(handle);
    }
}

TEST_F(ArjArchives, RefusesWhatItCannotDo) {
    const std::string archive = MakeArchive("r.arj", "-m1", "text.txt");
    const struct {
        std::string line;
        int code;
    } cases[] = {
        {"a \"" + archive + "\" x.txt", ARC_ERROR_BAD_COMMAND},
        {"d \"" + archive + "\" text.txt", ARC_ERROR_BAD_COMMAND},
        {"x -q9 \"" + archive + "\"", ARC_ERROR_BAD_COMMAND},
        {"x \"" + (folder_ / "none.arj") + "\"", ARC_ERROR_CANNOT_READ},
        {"x \"" + folder_.Write("plain.txt", "not an archive") + "\"", ARC_ERROR_NOT_ARCHIVE},
        {"x \"" + archive + "\" \"" + folder_ / "n" + "/\" nothing.txt", ARC_ERROR_NO_FILES},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(library_.Run(c.line).code, c.code) << c.line;
    }
    // An existing file is kept without -m1.
    folder_.Write("k/text.txt", "mine");
    EXPECT_EQ(library_.Run("x \"" + archive + "\" \"" + folder_ / "k" + "/\"").code,
              ARC_WARNING_SKIPPED);
    EXPECT_EQ(ReadFile(folder_ / "k/text.txt"), "mine");
}

TEST(HandMadeArchives, NothingLeavesTheDestinationOrStaysHalfWritten) {
    using zembrat::arj::kHostMsdos;
    using zembrat::arj::testing::Archive;
    using zembrat::arj::testing::Entry;
    TempFolder folder;
    UnarjLibrary library;
    const struct {
        const char* what;
        Entry entry;
        int code;
    } cases[] = {
        {"parent folder", {.name = "../evil.txt", .data = "x"}, ARC_ERROR_UNSAFE_PATH},
        {"absolute", {.name = "/tmp/evil.txt", .data = "x"}, ARC_ERROR_UNSAFE_PATH},
        {"DOS parent folder",
         {.name = "..\\evil.txt", .data = "x", .hostOs = kHostMsdos},
         ARC_ERROR_UNSAFE_PATH},
        {"drive letter",
         {.name = "C:\\evil.txt", .data = "x", .hostOs = kHostMsdos},
         ARC_ERROR_UNSAFE_PATH},
        {"CRC", {.name = "bad.txt", .data = "payload", .crc = 7}, ARC_ERROR_CRC},
        {"method 4 cut short",
         {.name = "bad.txt", .data = "\x01", .method = 4, .originalSize = 5000},
         ARC_ERROR_BROKEN_ARCHIVE},
        {"garbled", {.name = "bad.txt", .data = "x", .flags = 0x11}, ARC_ERROR_UNKNOWN_METHOD},
        {"DOS folders", {.name = "DIR\\OK.TXT", .data = "fine", .hostOs = kHostMsdos}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Entry good{.name = "ok.txt", .data = "fine"};
        const std::string bytes = Archive({c.entry, good});
        const std::string archive = folder.Write("case.arj", bytes);
        const std::string out = folder / "deep/out/";
        std::filesystem::remove_all(folder / "deep");
        const auto x = library.Run("x -+ -m1 \"" + archive + "\" \"" + out + "\"");
        EXPECT_EQ(x.code, c.code) << x.text;
        EXPECT_EQ(ReadFile(out + "ok.txt"), "fine");
        EXPECT_FALSE(std::filesystem::exists(out + "bad.txt"));
        EXPECT_FALSE(std::filesystem::exists(folder / "deep/evil.txt"));
        EXPECT_FALSE(std::filesystem::exists(folder / "evil.txt"));
        std::size_t files = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder / "deep")) {
            files += entry.is_regular_file() ? 1 : 0;
        }
        EXPECT_EQ(files, c.code == 0 ? 2u : 1u);
    }
}

TEST(HandMadeArchives, NamesComeOutInTheHostCodePage) {
    using zembrat::arj::kHostMsdos;
    using zembrat::arj::kHostUnix;
    TempFolder folder;
    UnarjLibrary library;
    const struct {
        std::string stored;
        std::uint8_t host;
        std::string extracted;
    } cases[] = {
        {"\x93\xFA\x96\x7B.TXT", kHostMsdos, "日本.TXT"},
        // The second byte of this CP932 character is '\\': no folder.
        {"\x83\x5C.txt", kHostMsdos, "ソ.txt"},
        {"DIR\\\x83\x5C\\IN.TXT", kHostMsdos, "DIR/ソ/IN.TXT"},
        {"日本語.txt", kHostUnix, "日本語.txt"},
        {"\x93\xFA\x96\x7B.txt", kHostUnix, "日本.txt"},
        {"back\\slash.txt", kHostUnix, "back\\slash.txt"},
    };
    for (const auto& c : cases) {
        const std::string archive =
            folder.Write("names.arj", zembrat::arj::testing::Archive(
                                          {{.name = c.stored, .data = "named", .hostOs = c.host}}));
        const std::string out = folder / "names/";
        std::filesystem::remove_all(out);
        const auto x = library.Run("x \"" + archive + "\" \"" + out + "\"");
        EXPECT_EQ(x.code, 0) << x.text;
        EXPECT_EQ(ReadFile(out + c.extracted), "named") << c.extracted;
        EXPECT_EQ(library.Listing(archive).count(c.extracted), 1u) << c.extracted;
    }
}

}  // namespace
