// Recognition by content through the real libraries beside the program in bin/: names the
// extension table does not know, self-extracting programs (ours, holding archives of other
// kinds, and programs laid out as MS-DOS and Windows self-extractors are), and what each then
// extracts through zembrat-cli. The archives are made here, by the peers and by our own tools.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "archives/archive_file.h"
#include "archives/archiver_errors.h"
#include "cli_test_support.h"
#include "fixtures_dir.h"

namespace zembrat::testing {
namespace {

namespace fs = std::filesystem;
using archives::TArchiverType;

const std::string kCli = ZEMBRAT_CLI_PATH;
const fs::path kRarFixture = ::zembrat::testing::FixturesDir() / "rar" / "read_format_rar.rar";

// The program's full name on PATH; empty when it is not there.
std::string OnPath(const std::string& program) {
    std::istringstream folders(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (::access((fs::path(folder) / program).c_str(), X_OK) == 0) {
            return (fs::path(folder) / program).string();
        }
    }
    return {};
}

void PutLittle(std::string& bytes, std::size_t at, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i, value >>= 8) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value & 0xFF);
    }
}

// Program bytes that hold no archive signature.
std::string StubCode(std::size_t size) {
    std::string code;
    while (code.size() < size) {
        code += "stub code ";
    }
    code.resize(size);
    return code;
}

// An MS-DOS program of size bytes; its header counts them all, or only its first page.
std::string DosProgram(std::size_t size, bool headerCountsAll) {
    std::string program = "MZ" + std::string(62, '\0') + StubCode(size - 64);
    const std::size_t counted = headerCountsAll ? size : 512;
    PutLittle(program, 2, counted % 512, 2);
    PutLittle(program, 4, static_cast<std::uint32_t>((counted + 511) / 512), 2);
    return program;
}

// A Windows program of size bytes whose one section ends where the file does.
std::string WindowsProgram(std::size_t size) {
    std::string program = "MZ" + std::string(62, '\0') + "PE" + std::string(2 + 20 + 40, '\0');
    PutLittle(program, 0x3C, 64, 4);
    PutLittle(program, 64 + 4, 0x14C, 2);  // machine
    PutLittle(program, 64 + 6, 1, 2);      // one section, no optional header
    PutLittle(program, 64 + 24 + 16, static_cast<std::uint32_t>(size - 0x200), 4);
    PutLittle(program, 64 + 24 + 20, 0x200, 4);
    return program + StubCode(size - program.size());
}

class Recognition : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        for (const char* peer : {"zip", "tar", "xz", "zstd", "bzip2", "bsdtar", "gcab", "arj"}) {
            if (OnPath(peer).empty()) {
                missing_ = std::string("peer not installed: ") + peer;
                return;
            }
        }
        work_ = std::make_unique<TempFolder>();
        const fs::path in = work_->Path();
        WriteFile(in / "inner.txt", SampleText(20000, 7));
        Make({"gcab", "-c", "-n", "in.cab", "inner.txt"});
        Make({"arj", "a", "-i", "-y", "in.arj", "inner.txt"});
        Make({"zip", "-q", "-X", "in.zip", "inner.txt"});
        Make({kCli, "compress", "-o", in.string(), "inner.txt"});
        fs::rename(in / "inner.lzh", in / "in.lzh");
        for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
                 {"tar", "cf", "in.tar", "inner.txt"},
                 {"bzip2", "-k", "in.tar"},
                 {"xz", "-k", "in.tar"},
                 {"zstd", "-q", "in.tar", "-o", "in.tar.zst"},
                 {"bsdtar", "--lzip", "-cf", "in.tar.lz", "inner.txt"},
                 {"xz", "-k", "inner.txt"},
                 {"zstd", "-q", "inner.txt", "-o", "inner.txt.zst"}}) {
            Make(command);
        }
        for (const char* kind : {"cab", "lzh", "arj", "zip"}) {
            const std::string member = std::string("in.") + kind;
            Make({"tar", "cf", std::string("holds-") + kind + ".tar", member});
            if (std::string_view(kind) != "zip") {
                Make({"zip", "-q", "-0", "-X", std::string("holds-") + kind + ".zip", member});
            }
        }
        // Our own self-extracting programs.
        Make({kCli, "compress", "--sfx", "-o", (in / "lzh-sfx").string(), "in.cab"});
        Make({kCli, "compress", "--sfx", "--format", "zip", "-o", (in / "zip-sfx").string(),
              "inner.txt"});
        Make({kCli, "compress", "--sfx", "--format", "gza", "-o", (in / "bga-sfx").string(),
              "in.cab"});
    }
    static void TearDownTestSuite() { work_.reset(); }

    void SetUp() override {
        if (!missing_.empty()) {
            GTEST_SKIP() << missing_;
        }
    }

    static void Make(std::vector<std::string> arguments) {
        if (arguments[0].find('/') == std::string::npos) {
            arguments[0] = OnPath(arguments[0]);
        }
        const ProgramRun run = RunProgram(arguments, InFolder(work_->Path().string()));
        ASSERT_EQ(run.status, 0) << arguments[0] << ": " << run.err;
    }
    static std::string Bytes(const std::string& name) { return ReadFile(work_->Path() / name); }
    // A file made of the given bytes, named as a user saved it.
    static std::string Saved(const std::string& name, const std::string& bytes) {
        WriteFile(work_->Path() / "saved" / name, bytes);
        return (work_->Path() / "saved" / name).string();
    }
    static std::string ZipStub() { return ReadFile(fs::path(kCli).parent_path() / "sfx32gui.dat"); }

    static inline std::unique_ptr<TempFolder> work_;
    static inline std::string missing_;
};

TEST_F(Recognition, EveryClassIsRecognisedByContentAndExtractsItsOwnMembers) {
    // A ZIP self-extractor whose offsets count from the start of the program (zip -A).
    const auto adjustedZipSfx = [](const std::string& zip) {
        const std::string path = Saved("adjusting.exe", ZipStub() + Bytes(zip));
        Make({"zip", "-q", "-A", path});
        return ReadFile(path);
    };
    const std::string tarStub = ReadFile(fs::path(kCli).parent_path() / "kmtarsef.exe");
    std::string damaged = Bytes("in.zip");
    damaged[100] = static_cast<char>(damaged[100] ^ 0x55);  // inside the member's data

    const struct {
        std::vector<const char*> names;  // as users save such files
        std::string bytes;
        TArchiverType kind;
        const char* extracted;  // what decompress puts in the folder; nullptr: not tried
    } classes[] = {
        {{"comic.cbz", "book.epub", "letter.docx", "paper.xps", "app.apk", "data.zipx"},
         Bytes("in.zip"),
         archives::atZip,
         "inner.txt"},
        {{"a.tbz", "a.tbz2"}, Bytes("in.tar.bz2"), archives::atBZ2, "inner.txt"},
        {{"a.txz", "a.tar.xz"}, Bytes("in.tar.xz"), archives::atTgz, "inner.txt"},
        {{"a.tar.zst"}, Bytes("in.tar.zst"), archives::atTgz, "inner.txt"},
        {{"a.tar.lz"}, Bytes("in.tar.lz"), archives::atTgz, "inner.txt"},
        {{"inner.txt.xz"}, Bytes("inner.txt.xz"), archives::atTgz, "inner.txt"},
        {{"inner.txt.zst"}, Bytes("inner.txt.zst"), archives::atTgz, "inner.txt"},
        {{"archive"}, Bytes("in.lzh"), archives::atLha, "inner.txt"},
        {{"setup.bin"}, Bytes("lzh-sfx/in.exe"), archives::atLha, "in.cab"},
        {{"setup"}, Bytes("zip-sfx/inner.exe"), archives::atZip, "inner.txt"},
        // Self-extractors holding archives of other kinds: the program's own archive counts.
        {{"zip-holds-cab.exe"}, adjustedZipSfx("holds-cab.zip"), archives::atZip, "in.cab"},
        {{"zip-holds-lzh.exe"}, adjustedZipSfx("holds-lzh.zip"), archives::atZip, "in.lzh"},
        {{"tar-holds-lzh.exe"}, tarStub + Bytes("holds-lzh.tar"), archives::atTar, "in.lzh"},
        {{"tar-holds-zip.exe"}, tarStub + Bytes("holds-zip.tar"), archives::atTar, "in.zip"},
        {{"tar-holds-cab.exe"}, tarStub + Bytes("holds-cab.tar"), archives::atTar, "in.cab"},
        {{"tar-holds-arj.exe"}, tarStub + Bytes("holds-arj.tar"), archives::atTar, "in.arj"},
        {{"bga-holds-cab.exe"}, Bytes("bga-sfx/in.exe"), archives::atBga, "in.cab"},
        // Programs of other makers: the archive right after the image, or found by a search.
        {{"dos-lzh.exe"}, DosProgram(20000, true) + Bytes("in.lzh"), archives::atLha, "inner.txt"},
        {{"dos-cab.exe"}, DosProgram(20000, true) + Bytes("in.cab"), archives::atCab, "inner.txt"},
        {{"dos-arj.exe"}, DosProgram(20000, true) + Bytes("in.arj"), archives::atArj, "inner.txt"},
        {{"dos-zip.exe"},
         DosProgram(20000, true) + Bytes("holds-cab.zip"),
         archives::atZip,
         "in.cab"},
        {{"win-lzh.exe"}, WindowsProgram(30000) + Bytes("in.lzh"), archives::atLha, "inner.txt"},
        {{"uncounted.exe"},
         DosProgram(20000, false) + Bytes("in.lzh"),
         archives::atLha,
         "inner.txt"},
        // A ZIP member that fails to decode does not make the file something else.
        {{"damaged.exe"}, damaged, archives::atZip, nullptr},
    };
    for (const auto& [names, bytes, kind, extracted] : classes) {
        for (const char* name : names) {
            SCOPED_TRACE(name);
            const std::string path = Saved(name, bytes);
            archives::TArchiveFile archive;
            EXPECT_NO_THROW(archive.SetFileName(path));
            EXPECT_EQ(archive.ArchiverType(), kind);
            if (extracted != nullptr) {
                const fs::path out = work_->Path() / "out" / name;
                const ProgramRun run = RunProgram({kCli, "decompress", "-o", out.string(), path});
                EXPECT_EQ(run.status, 0) << run.err;
                EXPECT_EQ(FolderContents(out), std::vector<std::string>{extracted});
            }
        }
    }
}

TEST_F(Recognition, RarProgramsOfAnySizeAndFilesNothingClaims) {
    if (!fs::exists(kRarFixture)) {
        GTEST_SKIP() << "fixture missing: " << kRarFixture;
    }
    // An MS-DOS RAR self-extractor of about 210 KB, its archive far past the first 128 KiB;
    // once counted by the program's header, once found by the search.
    for (const bool counted : {true, false}) {
        SCOPED_TRACE(counted ? "counted" : "searched");
        const std::string path = Saved(counted ? "rar-counted.exe" : "rar-searched.exe",
                                       DosProgram(190000, counted) + ReadFile(kRarFixture));
        archives::TArchiveFile archive;
        archive.SetFileName(path);
        EXPECT_EQ(archive.ArchiverType(), archives::atRar);
        EXPECT_EQ(RunProgram({kCli, "test", path}).status, 0);
    }

    // A file no recogniser claims fails by itself and names itself, in every command.
    const std::string text = Saved("notes.txt", SampleText(5000, 3));
    const std::string program = Saved("junk.exe", DosProgram(4000, true));
    archives::TArchiveFile archive;
    archive.SetFileName(work_->Path() / "in.lzh");
    EXPECT_THROW(archive.SetFileName(text), archives::EArchiver);
    EXPECT_THROW(archive.SetFileName(program), archives::EArchiver);
    for (const char* command : {"list", "test"}) {
        const ProgramRun run = RunProgram({kCli, command, text, (work_->Path() / "in.lzh")});
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_NE(run.err.find("notes.txt (書庫の形式を特定できませんでした。)"), std::string::npos)
            << run.err;
    }
    const fs::path out = work_->Path() / "out-unknown";
    const ProgramRun run =
        RunProgram({kCli, "decompress", "-o", out.string(), (work_->Path() / "in.cab"), program});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("junk.exe (書庫の形式を特定できませんでした。)"), std::string::npos)
        << run.err;
    EXPECT_EQ(FolderContents(out), std::vector<std::string>{"inner.txt"});
}

}  // namespace
}  // namespace zembrat::testing
