// "c": archives libtar32.so writes read back whole through the library itself, through
// GNU tar, bsdtar and 7zz, and through the self-extracting stub with the archive appended,
// with Japanese and long names, empty files, folders and links.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tar32_library.h"

namespace zembrat::tar32::testing {
namespace {

namespace fs = std::filesystem;

const std::string kLongName = std::string(120, 'n') + ".txt";

class Tar32CreateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch_.Write("src/日本語/報告書.txt", "本文\n");
        scratch_.Write("src/" + kLongName, std::string(70000, 'x'));
        scratch_.Write("src/empty", "");
        fs::create_directories(scratch_ / "src/空");
        fs::create_symlink("日本語/報告書.txt", scratch_ / "src/link");
        fs::create_hard_link(scratch_ / ("src/" + kLongName), scratch_ / "src/hard");
    }

    // The tree below folder matches the source: contents, links, the hard link.
    void ExpectSameTree(const std::string& folder) {
        EXPECT_EQ(ReadFile(folder + "日本語/報告書.txt"), "本文\n");
        EXPECT_EQ(ReadFile(folder + kLongName), std::string(70000, 'x'));
        EXPECT_TRUE(fs::is_regular_file(folder + "empty"));
        EXPECT_EQ(fs::file_size(folder + "empty"), 0u);
        EXPECT_TRUE(fs::is_directory(folder + "空"));
        ASSERT_TRUE(fs::is_symlink(folder + "link"));
        EXPECT_EQ(fs::read_symlink(folder + "link").string(), "日本語/報告書.txt");
        EXPECT_TRUE(fs::equivalent(folder + kLongName, folder + "hard"));
    }

    TempFolder scratch_;
    std::string source_ = scratch_.Folder() + "src/";
};

TEST_F(Tar32CreateTest, ArchivesReadBackThroughUsAndOtherReaders) {
    ASSERT_NE(Library().command, nullptr);
    struct Case {
        const char* file;
        const char* switches;
        int type;  // TarGetArchiveType of the result
    };
    const Case cases[] = {{"t.tar", "", 1}, {"t.tgz", "-z9", 2}, {"t.tbz", "-B", 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string archive = scratch_.Folder() + c.file;
        const auto packed =
            Library().Run(std::string("c -AH ") + c.switches + " -f " + Quoted(archive) + " -o " +
                          Quoted(source_) + " \"日本語\" \"" + kLongName +
                          "\" \"empty\" \"空\" \"link\" \"hard\" ");
        ASSERT_EQ(packed.code, 0) << packed.text;
        EXPECT_EQ(Library().getArchiveType(archive.c_str()), c.type);

        const std::string ours = scratch_.Folder() + "ours/" + c.file + "/";
        const auto extracted = Library().Run(ExtractLine(archive, ours));
        ASSERT_EQ(extracted.code, 0) << extracted.text;
        ExpectSameTree(ours);

        // 7zz takes off one layer at a time: the compressed file, then the tar inside.
        const std::string sevenZip = c.type == 1
                                         ? "7zz x -ttar -snh -y '" + archive + "'"
                                         : "7zz x -so '" + archive + "' | 7zz x -si -ttar -snh -y";
        const struct {
            const char* name;
            std::string command;  // run in the folder to extract into
        } readers[] = {{"tar", "tar -xf '" + archive + "'"},
                       {"bsdtar", "bsdtar -xf '" + archive + "'"},
                       {"7zz", sevenZip}};
        for (const auto& reader : readers) {
            if (std::system(("command -v " + std::string(reader.name) + " >/dev/null").c_str()) !=
                0) {
                continue;
            }
            SCOPED_TRACE(reader.name);
            const std::string theirs = scratch_.Folder() + reader.name + "/" + c.file + "/";
            fs::create_directories(theirs);
            ASSERT_EQ(
                std::system(
                    ("cd '" + theirs + "' && " + reader.command + " >/dev/null 2>&1").c_str()),
                0);
            ExpectSameTree(theirs);
        }
        if (c.type == 6) {
            continue;  // the stub reads tar and tar.gz only
        }
        // The stub with the archive appended, as the TAR driver makes a self-extracting file.
        const std::string program = scratch_.Folder() + c.file + ".exe";
        ASSERT_EQ(std::system(("cat '" + std::string(ZEMBRAT_TARSFX_PATH) + "' '" + archive +
                               "' > '" + program + "' && chmod +x '" + program + "'")
                                  .c_str()),
                  0);
        const std::string unpacked = scratch_.Folder() + "sfx/" + c.file + "/";
        EXPECT_EQ(std::system(("'" + program + "' -t >/dev/null").c_str()), 0);
        ASSERT_EQ(std::system(("'" + program + "' '" + unpacked + "' >/dev/null").c_str()), 0);
        ExpectSameTree(unpacked);
    }
    // A name that leads upwards is not packed.
    const auto refused = Library().Run("c -f " + Quoted(scratch_.Folder() + "up.tar") + " -o " +
                                       Quoted(source_) + " \"../src/empty\" ");
    EXPECT_EQ(refused.code, ARC_ERROR_CANNOT_READ) << refused.text;
}

}  // namespace
}  // namespace zembrat::tar32::testing
