// Cabinets libcab32.so writes: other readers (cabextract, 7zz, bsdtar) get back exactly what
// went in, Japanese names and folders and empty files included; the 2 GiB limit is refused
// before anything is written; the self-extracting file runs on its own.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "cab32_library.h"

namespace zembrat::cab32::testing {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

// "1\n2\n..." up to size bytes: text of few distinct letters, where a deflate compressor may
// well find no match worth taking in a whole block.
std::string CountingText(std::size_t size) {
    std::string text;
    for (unsigned n = 1; text.size() < size; ++n) {
        text += std::to_string(n) + '\n';
    }
    return text.substr(0, size);
}

std::string RandomBytes(std::size_t size, std::uint32_t seed) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

// The files every written cabinet holds: name below the source folder, content. Text and data
// of several sizes, across block boundaries (32 KiB), besides runs of one byte.
const std::map<std::string, std::string> kTree = {
    {"readme.txt", "plain ASCII\n"},
    {"empty.dat", ""},
    {"日本語フォルダ/表示.txt", "表示\n"},
    {"日本語フォルダ/下/深い.bin", std::string(70000, '\x5c')},
    {"data/mixed.bin", std::string("\0\1\2\xff", 4) + std::string(100000, 'z')},
    {"text/seq1000.txt", CountingText(1000)},
    {"text/seq65536.txt", CountingText(65536)},
    {"text/seq.txt", CountingText(588895)},  // what seq 1 100000 prints
    {"text/random.bin", RandomBytes(100000, 7)},
    {"text/blend.bin", CountingText(40000) + RandomBytes(30000, 9) + std::string(20000, '\0') +
                           CountingText(50000).substr(10000)},
};
const char* const kTreeNames = "readme.txt empty.dat 日本語フォルダ data text";

std::string MakeTree(const TempFolder& scratch) {
    for (const auto& [name, content] : kTree) {
        scratch.Write("src/" + name, content);
    }
    return scratch.Folder() + "src";
}

// Every regular file below folder with its content.
std::map<std::string, std::string> TreeBelow(const std::string& folder) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            tree[fs::relative(entry.path(), folder).string()] = ReadFile(entry.path().string());
        }
    }
    return tree;
}

int Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

TEST(Cab32Create, OtherReadersGetBackWhatWentIn) {
    ASSERT_NE(Library().command, nullptr);
    struct Reader {
        const char* name;
        const char* command;  // %a the cabinet, %o the folder
    };
    // cabextract and our self-extracting program decode MSZIP with libmspack, the strictest
    // reader: every Huffman code of a block must be complete.
    const std::vector<Reader> readers = {
        {"cabextract", "cabextract -q -d '%o' '%a'"},
        {"gcab", "gcab -x -C '%o' '%a'"},
        {"7zz", "7zz x -y -o'%o' '%a'"},
        {"bsdtar", "mkdir -p '%o' && bsdtar -xf '%a' -C '%o'"},
    };
    for (const char* switches : {"-a -r", "-a -r -m0"}) {
        SCOPED_TRACE(switches);
        TempFolder scratch;
        const std::string source = MakeTree(scratch);
        const std::string cabinet = scratch / "out.cab";
        const auto result = Library().Run(Line(switches, cabinet, source, kTreeNames));
        ASSERT_EQ(result.code, 0) << result.text;
        // Our own reader first, then the others.
        ASSERT_EQ(Library().Run(Line("-x", cabinet, scratch / "ours")).code, 0);
        EXPECT_EQ(TreeBelow(scratch / "ours"), kTree);
        for (const Reader& reader : readers) {
            SCOPED_TRACE(reader.name);
            std::string command = reader.command;
            const std::string folder = scratch / reader.name;
            for (std::size_t at; (at = command.find("%o")) != std::string::npos;) {
                command.replace(at, 2, folder);
            }
            command.replace(command.find("%a"), 2, cabinet);
            ASSERT_EQ(Shell(command), 0) << command;
            EXPECT_EQ(TreeBelow(folder), kTree);
        }
    }
}

TEST(Cab32Create, CompressionAndFolderSwitches) {
    TempFolder scratch;
    const std::string source = MakeTree(scratch);
    ASSERT_EQ(Library().Run(Line("-a -r", scratch / "z.cab", source, "data")).code, 0);
    ASSERT_EQ(Library().Run(Line("-a -r -m0", scratch / "s.cab", source, "data")).code, 0);
    EXPECT_LT(fs::file_size(scratch / "z.cab"), 10000u);
    EXPECT_GT(fs::file_size(scratch / "s.cab"), 100000u);
    EXPECT_STREQ(Library().Entries(scratch / "z.cab").at(0).method, "MSZIP");
    EXPECT_STREQ(Library().Entries(scratch / "s.cab").at(0).method, "Stored");
    // Without -r a folder brings nothing; with -j names lose their folders.
    EXPECT_NE(Library().Run(Line("-a", scratch / "n.cab", source, "data")).code, 0);
    ASSERT_EQ(Library().Run(Line("-a -r -j", scratch / "j.cab", source, "data")).code, 0);
    EXPECT_STREQ(Library().Entries(scratch / "j.cab").at(0).file_name, "mixed.bin");
    EXPECT_EQ(Library().Run(Line("-a -m2", scratch / "m.cab", source, "data")).code,
              ARC_ERROR_BAD_COMMAND);
}

TEST(Cab32Create, ContentPastTwoGibibytesIsRefusedBeforeWriting) {
    TempFolder scratch;
    // Sparse: no disk space spent.
    for (const char* name : {"big1", "big2"}) {
        const int fd = ::open((scratch / name).c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 1200ll << 20), 0);
        ::close(fd);
    }
    const auto result =
        Library().Run(Line("-a", scratch / "big.cab", scratch.Folder(), "big1 big2"));
    EXPECT_EQ(result.code, ARC_ERROR_TOO_LARGE);
    EXPECT_THAT(result.text, HasSubstr("2 GiB"));
    EXPECT_FALSE(fs::exists(scratch / "big.cab"));
}

TEST(Cab32Create, ANameHoldingABackslashIsRefusedNotSplit) {
    TempFolder scratch;
    scratch.Write("src/back\\slash.txt", "one\n");
    scratch.Write("src/odd\\folder/inner.txt", "two\n");
    scratch.Write("src/plain.txt", "three\n");
    const std::string source = scratch / "src";
    struct Case {
        std::string names;
        int code;
        std::string refused;
        std::vector<std::string> stored;
    };
    for (const Case& test : std::vector<Case>{
             {"back\\slash.txt plain.txt", ARC_ERROR_CANNOT_READ, "back\\slash.txt", {"plain.txt"}},
             {"odd\\folder plain.txt",
              ARC_ERROR_CANNOT_READ,
              "odd\\folder/inner.txt",
              {"plain.txt"}},
             {"back\\slash.txt", ARC_ERROR_NO_FILES, "back\\slash.txt", {}},
         }) {
        SCOPED_TRACE(test.names);
        const std::string cabinet = scratch / "b.cab";
        fs::remove(cabinet);
        const auto result = Library().Run(Line("-a -r", cabinet, source, test.names));
        EXPECT_EQ(result.code, test.code) << result.text;
        EXPECT_THAT(result.text, HasSubstr(test.refused + ": not stored"));
        EXPECT_THAT(result.text, ::testing::Not(HasSubstr("added back")));
        std::vector<std::string> stored;
        if (fs::exists(cabinet)) {
            for (const auto& entry : Library().Entries(cabinet)) {
                stored.emplace_back(entry.file_name);
            }
        }
        EXPECT_EQ(stored, test.stored);
    }
}

TEST(Cab32Create, AnOutputThatCannotBeCreatedIsCannotWrite) {
    TempFolder scratch;
    const std::string source = MakeTree(scratch);
    const std::string blocker = scratch.Write("plain-file", "not a folder");
    ASSERT_EQ(Library().Run(Line("-a", scratch / "good.cab", source, "readme.txt")).code, 0);
    // Creating the cabinet, the self-extracting file, the destination of an extraction where
    // no file can be made.
    for (const std::string& line : {Line("-a", scratch / "missing/x.cab", source, "readme.txt"),
                                    Line("-a", blocker + "/x.cab", source, "readme.txt"),
                                    Line("-x", scratch / "good.cab", blocker + "/out"),
                                    "-f \"" + (scratch / "good.cab") + "\" \"" + blocker + "/\""}) {
        SCOPED_TRACE(line);
        const auto result = Library().Run(line);
        EXPECT_EQ(result.code, ARC_ERROR_CANNOT_WRITE) << result.text;
        EXPECT_THAT(result.text, HasSubstr("cannot create"));
    }
}

TEST(Cab32Sfx, TheSelfExtractingCabinetRunsOnItsOwn) {
    TempFolder scratch;
    const std::string source = MakeTree(scratch);
    const std::string cabinet = scratch / "Setup.CAB";
    ASSERT_EQ(Library().Run(Line("-a -r", cabinet, source, kTreeNames)).code, 0);
    const auto made = Library().Run("-f \"" + cabinet + "\"");
    ASSERT_EQ(made.code, 0) << made.text;
    const std::string program = scratch / "Setup.EXE";
    ASSERT_TRUE(fs::exists(program));
    EXPECT_NE(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::none);
#ifndef ZEMBRAT_SANITIZED
    // The stub's share stays small (the sanitizers' runtime is not).
    EXPECT_LT(fs::file_size(program) - fs::file_size(cabinet), 256u * 1024);
#endif
    // A second time without -o keeps the first.
    EXPECT_EQ(Library().Run("-f \"" + cabinet + "\"").code, ARC_ERROR_CANNOT_WRITE);

    // Copied away from the build, with no library path of ours.
    const std::string copy = scratch / "away/x.exe";
    fs::create_directories(scratch / "away");
    fs::copy_file(program, copy);
    ASSERT_EQ(Shell("cd '" + scratch.Folder() + "away' && env -u LD_LIBRARY_PATH ./x.exe"), 0);
    fs::remove(copy);
    EXPECT_EQ(TreeBelow(scratch / "away"), kTree);
    EXPECT_EQ(Shell("'" + program + "' '" + (scratch / "dest") + "'"), 0);
    EXPECT_EQ(TreeBelow(scratch / "dest"), kTree);
    EXPECT_EQ(Shell("'" + program + "' -t"), 0);
    EXPECT_EQ(Shell("'" + program + "' -l"), 0);
    // Existing files are kept without -f.
    EXPECT_NE(Shell("'" + program + "' '" + (scratch / "dest") + "'"), 0);
    // Our reader finds the cabinet inside the program too.
    EXPECT_EQ(Library().Entries(program).size(), kTree.size());
}

TEST(Cab32Create, ACutOrDamagedCabinetNeverLeavesAPartialFile) {
    TempFolder scratch;
    const std::string source = MakeTree(scratch);
    const std::string cabinet = scratch / "whole.cab";
    ASSERT_EQ(Library().Run(Line("-a -r", cabinet, source, kTreeNames)).code, 0);
    const std::string whole = ReadFile(cabinet);
    // Cut at many places.
    std::vector<std::pair<std::string, std::string>> damaged;
    for (std::size_t cut = 0; cut < whole.size(); cut += whole.size() / 17 + 1) {
        damaged.emplace_back("cut at " + std::to_string(cut), whole.substr(0, cut));
    }
    // Changed bytes in the data blocks, which their checksums guard (a cabinet's member
    // table has no checksum: a changed name or size there is read as it stands).
    const std::size_t dataStart =
        static_cast<unsigned char>(whole[36]) |
        static_cast<std::size_t>(static_cast<unsigned char>(whole[37])) << 8 |
        static_cast<std::size_t>(static_cast<unsigned char>(whole[38])) << 16;
    for (std::size_t at = dataStart; at < whole.size(); at += whole.size() / 13 + 1) {
        std::string changed = whole;
        changed[at] = static_cast<char>(changed[at] ^ 0x55);
        damaged.emplace_back("byte " + std::to_string(at) + " changed", changed);
    }
    for (const auto& [what, content] : damaged) {
        SCOPED_TRACE(what);
        const std::string file = scratch.Write("damaged.cab", content);
        fs::remove_all(scratch / "out");
        const auto result = Library().Run(Line("-x", file, scratch / "out"));
        if (result.code != 0) {
            EXPECT_FALSE(result.text.empty());
        }
        // Whatever came out is whole.
        if (fs::exists(scratch / "out")) {
            for (const auto& [name, data] : TreeBelow(scratch / "out")) {
                ASSERT_TRUE(kTree.count(name)) << name;
                EXPECT_EQ(data, kTree.at(name)) << name << ": " << result.text;
            }
        }
    }
}

TEST(Cab32Create, ABlockChecksumThatDoesNotMatchIsCaught) {
    TempFolder scratch;
    const std::string source = MakeTree(scratch);
    for (const char* method : {"-m1", "-m0"}) {
        SCOPED_TRACE(method);
        const std::string cabinet = scratch / "c.cab";
        ASSERT_EQ(Library().Run(Line(std::string("-a -r ") + method, cabinet, source, "data")).code,
                  0);
        std::string bytes = ReadFile(cabinet);
        // The first data block's checksum, one bit off.
        const std::size_t dataStart =
            static_cast<unsigned char>(bytes[36]) |
            static_cast<std::size_t>(static_cast<unsigned char>(bytes[37])) << 8;
        bytes[dataStart] = static_cast<char>(bytes[dataStart] ^ 1);
        scratch.Write("c.cab", bytes);
        const auto result = Library().Run(Line("-t", cabinet, scratch / "out"));
        EXPECT_EQ(result.code, ARC_ERROR_CRC) << result.text;
        EXPECT_THAT(result.text, HasSubstr("checksum"));
    }
}

}  // namespace
}  // namespace zembrat::cab32::testing
