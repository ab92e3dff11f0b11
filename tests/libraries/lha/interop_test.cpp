// Archives made by the writer are read back identically by other LHA programs, and archives
// made by another LHA program are read by the reader. Each peer is skipped when not installed.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "temp_folder.h"
#include "test_support.h"

namespace zembrat::lha::test {
namespace {

namespace fs = std::filesystem;
using zembrat::testing::TempFolder;

struct Peer {
    std::string program;
    std::string extract;  // command with {a} for the archive and {d} for the folder
};

const std::vector<Peer>& Peers() {
    static const std::vector<Peer> peers = {
        {"lhasa", "lhasa xqfw={d} {a}"},
        {"7zz", "7zz x -y -o{d} {a}"},
        {"bsdtar", "bsdtar -xf {a} -C {d}"},
        {"unar", "unar -q -f -D -o {d} {a}"},
    };
    return peers;
}

std::string Fill(std::string pattern, const fs::path& archive, const fs::path& dir) {
    for (auto [key, value] : {std::pair{"{a}", archive.string()}, std::pair{"{d}", dir.string()}}) {
        std::size_t at = pattern.find(key);
        pattern.replace(at, 3, Quote(value));
    }
    return pattern;
}

// The files under a folder, by path relative to it.
std::map<std::string, std::vector<std::byte>> FilesUnder(const fs::path& dir) {
    std::map<std::string, std::vector<std::byte>> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file() && !entry.is_symlink()) {
            files[fs::relative(entry.path(), dir).string()] = ReadFileBytes(entry.path());
        }
    }
    return files;
}

struct Sample {
    std::string path;
    std::vector<std::byte> data;
};

std::vector<Sample> Samples() {
    std::vector<std::byte> runs;
    for (int run = 0; run < 40; ++run) {
        runs.insert(runs.end(), 5000 + run * 131,
                    static_cast<std::byte>(run % 3 == 0 ? 0 : 'a' + run));
    }
    return {
        {"empty.txt", {}},
        {"one.bin", {std::byte{0x42}}},
        {"random.bin", RandomBytes(1 << 20, 7)},
        {"runs.bin", runs},
        {"text.txt", TextBytes(1300000, 11)},  // past the encoder's first 1 MiB chunk
        {"sub/dir/nested.txt", TextBytes(5000, 12)},
    };
}

fs::path WriteSampleArchive(const fs::path& where, int level, const std::string& method,
                            int encoderLevel = 0) {
    fs::path archive = where / ("sample_" + std::to_string(level) + method +
                                std::to_string(encoderLevel) + ".lzh");
    if (fs::exists(archive)) {
        return archive;  // written for a peer before
    }
    FileOutput out(archive.string());
    WriterOptions options;
    options.headerLevel = level;
    options.method = method;
    options.level = encoderLevel;
    Writer writer(out, options);
    Member folder;
    folder.path = "emptydir";
    folder.unixTime = 1600000000;
    writer.AddDirectory(folder);
    for (const auto& sample : Samples()) {
        Member m;
        m.path = sample.path;
        m.unixTime = 1600000000;
        m.unixMode = 0644;
        MemoryInput data(sample.data);
        writer.AddFile(m, data, sample.data.size());
    }
    writer.Finish();
    out.Close();
    return archive;
}

// Writes an archive of the given header level holding what add puts into it.
void WriteArchive(const fs::path& archive, int level, const std::function<void(Writer&)>& add) {
    FileOutput out(archive.string());
    WriterOptions options;
    options.headerLevel = level;
    Writer writer(out, options);
    add(writer);
    writer.Finish();
    out.Close();
}

// Extracts the archive with lhasa into the folder out, made first; lhasa's exit status, and
// what it printed into log.
int ExtractWithLhasa(const fs::path& archive, const fs::path& out, std::string& log) {
    fs::create_directories(out);
    return RunCommand(Fill("lhasa xqfw={d} {a}", archive, out), &log);
}

TEST(LhaInterop, PeersExtractWhatTheWriterWrote) {
    TempFolder temp;
    int peersRun = 0;
    for (const auto& peer : Peers()) {
        if (!HaveCommand(peer.program)) {
            std::cout << "[  SKIPPED ] " << peer.program << " is not installed\n";
            continue;
        }
        ++peersRun;
        for (auto [level, encoderLevel] : {std::pair{0, 0}, {1, 0}, {2, 0}, {2, 1}}) {
            for (const std::string method : {"-lh0-", "-lh5-", "-lh6-", "-lh7-"}) {
                if (method == "-lh0-" && encoderLevel > 0) {
                    continue;
                }
                SCOPED_TRACE(peer.program + " level " + std::to_string(level) + " " + method +
                             " encoder level " + std::to_string(encoderLevel));
                fs::path archive = WriteSampleArchive(temp.Path(), level, method, encoderLevel);
                fs::path out = temp.Path() / ("x_" + peer.program + std::to_string(level) + method +
                                              std::to_string(encoderLevel));
                fs::create_directories(out);
                std::string log;
                int status = RunCommand(Fill(peer.extract, archive, out), &log);
                auto files = FilesUnder(out);
                for (const auto& sample : Samples()) {
                    auto found = files.find(sample.path);
                    if (found == files.end()) {
                        ADD_FAILURE() << sample.path << " not extracted\n" << log;
                        continue;
                    }
                    EXPECT_TRUE(found->second == sample.data) << sample.path;
                }
                EXPECT_EQ(status, 0) << log;
                EXPECT_TRUE(fs::is_directory(out / "emptydir"));
                fs::remove_all(out);
            }
        }
    }
    if (peersRun == 0) {
        GTEST_SKIP() << "no LHA peer program installed";
    }
}

// Members whose streams end in every way: their last code long or short, a match or a
// literal, with 0 to 7 bits of padding, in a last block whose literal table is in its
// one-code form (the runs). Readers that look ahead past the last code, or reject a byte
// after it, fail on some of these.
TEST(LhaInterop, PeersReadEveryStreamEnding) {
    TempFolder temp;
    std::vector<Sample> samples;
    auto text = TextBytes(40000, 31);
    for (std::size_t length = 300; length < text.size(); length += length / 5 + 7) {
        samples.push_back({"text" + std::to_string(length) + ".txt",
                           {text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length)}});
    }
    // Text as two bytes a character, ending in a byte 0 or 1 that no match can reach (after
    // the only 0xFF): the last code is a literal with a short code, which a block of its own
    // then gives a table of code lengths of a single kind.
    std::vector<std::byte> wide;
    for (std::byte b : TextBytes(20000, 32)) {
        wide.insert(wide.end(), {b, b & std::byte{1}});
    }
    for (std::size_t length = 500; length < wide.size(); length += length / 3 + 1) {
        for (std::byte last : {std::byte{0}, std::byte{1}}) {
            std::vector<std::byte> data(wide.begin(),
                                        wide.begin() + static_cast<std::ptrdiff_t>(length));
            data.insert(data.end(), {std::byte{0xFF}, last});
            samples.push_back({"wide" + std::to_string(length) + "_" +
                                   std::to_string(static_cast<int>(last)) + ".bin",
                               data});
        }
    }
    for (std::size_t length = 800000; length < 800004; ++length) {
        samples.push_back({"run" + std::to_string(length) + ".bin",
                           std::vector<std::byte>(length, std::byte{'z'})});
    }
    int peersRun = 0;
    for (const auto& peer : Peers()) {
        if (!HaveCommand(peer.program)) {
            continue;
        }
        ++peersRun;
        for (int encoderLevel : {0, 1}) {
            for (const std::string method : {"-lh5-", "-lh6-", "-lh7-"}) {
                SCOPED_TRACE(peer.program + " " + method + " encoder level " +
                             std::to_string(encoderLevel));
                fs::path archive =
                    temp.Path() / ("ends" + method + std::to_string(encoderLevel) + ".lzh");
                if (!fs::exists(archive)) {
                    FileOutput output(archive.string());
                    Writer writer(output, WriterOptions{.method = method, .level = encoderLevel});
                    for (const auto& sample : samples) {
                        Member m;
                        m.path = sample.path;
                        MemoryInput data(sample.data);
                        writer.AddFile(m, data, sample.data.size());
                    }
                    writer.Finish();
                    output.Close();
                }
                fs::path out = temp.Path() / ("x_" + peer.program);
                fs::create_directories(out);
                std::string log;
                EXPECT_EQ(RunCommand(Fill(peer.extract, archive, out), &log), 0) << log;
                auto files = FilesUnder(out);
                for (const auto& sample : samples) {
                    EXPECT_TRUE(files[sample.path] == sample.data) << sample.path;
                }
                fs::remove_all(out);
            }
        }
    }
    if (peersRun == 0) {
        GTEST_SKIP() << "no LHA peer program installed";
    }
}

// Shift-JIS names, one with 0x5C ('\\') as a trail byte, in a folder.
TEST(LhaInterop, ShiftJisNamesSurviveEveryLevel) {
    if (!HaveCommand("lhasa")) {
        GTEST_SKIP() << "lhasa is not installed";
    }
    TempFolder temp;
    const std::string folder = "\x93\xfa\x96\x7b";    // two kanji
    const std::string name = "\x95\x5c\x83\x5c.txt";  // two characters ending in 0x5C
    auto content = TextBytes(3000, 3);
    for (int level : {0, 1, 2}) {
        SCOPED_TRACE("level " + std::to_string(level));
        fs::path archive = temp.Path() / ("sjis" + std::to_string(level) + ".lzh");
        WriteArchive(archive, level, [&](Writer& writer) {
            Member m;
            m.path = folder + "/" + name;
            MemoryInput data(content);
            writer.AddFile(m, data, content.size());
        });
        {
            FileInput in(archive.string());
            Reader reader(in);
            auto member = reader.Next();
            ASSERT_TRUE(member);
            EXPECT_EQ(member->path, folder + "/" + name);
        }
        if (level == 0) {
            continue;  // lhasa splits level 0 names at every 0x5C byte: nothing to compare
        }
        const fs::path out = temp.Path() / ("x" + std::to_string(level));
        std::string log;
        EXPECT_EQ(ExtractWithLhasa(archive, out, log), 0) << log;
        EXPECT_TRUE(ReadFileBytes(out / folder / name) == content) << log;
    }
}

TEST(LhaInterop, LhasaRestoresSymbolicLinks) {
    if (!HaveCommand("lhasa")) {
        GTEST_SKIP() << "lhasa is not installed";
    }
    TempFolder temp;
    for (int level : {0, 1, 2}) {
        fs::path archive = temp.Path() / ("link" + std::to_string(level) + ".lzh");
        WriteArchive(archive, level, [](Writer& writer) {
            Member link;
            link.path = "dir/link";
            link.linkTarget = "../target.txt";
            writer.AddSymlink(link);
        });
        const fs::path out = temp.Path() / ("x" + std::to_string(level));
        std::string log;
        EXPECT_EQ(ExtractWithLhasa(archive, out, log), 0) << log;
        ASSERT_TRUE(fs::is_symlink(out / "dir" / "link")) << "level " << level << log;
        EXPECT_EQ(fs::read_symlink(out / "dir" / "link").string(), "../target.txt");
    }
}

TEST(LhaInterop, ReaderReadsWhatJlhaWrote) {
    if (!HaveCommand("jlha")) {
        GTEST_SKIP() << "jlha is not installed";
    }
    TempFolder temp;
    std::map<std::string, std::vector<std::byte>> inputs = {
        {"text.txt", TextBytes(200000, 21)},
        {"random.bin", RandomBytes(70000, 22)},
        {"runs.bin", std::vector<std::byte>(150000, std::byte{'z'})},
    };
    for (const auto& [name, data] : inputs) {
        WriteFileBytes(temp.Path() / name, data);
    }
    for (char method : {'5', '6', '7'}) {
        SCOPED_TRACE(std::string("-lh") + method + "-");
        std::string archive = std::string("j") + method + ".lzh";
        std::string log;
        ASSERT_EQ(RunCommand("cd " + Quote(temp.Path().string()) + " && jlha cqo" + method + " " +
                                 archive + " text.txt random.bin runs.bin",
                             &log),
                  0)
            << log;
        FileInput in((temp.Path() / archive).string());
        Reader reader(in);
        int seen = 0;
        bool sawMethod = false;
        while (auto member = reader.Next()) {
            ASSERT_TRUE(inputs.count(member->path)) << member->path;
            sawMethod = sawMethod || member->method == std::string("-lh") + method + "-";
            EXPECT_TRUE(ExtractToMemory(reader) == inputs[member->path]) << member->path;
            ++seen;
        }
        EXPECT_EQ(seen, 3);
        EXPECT_TRUE(sawMethod);
    }
}

}  // namespace
}  // namespace zembrat::lha::test
