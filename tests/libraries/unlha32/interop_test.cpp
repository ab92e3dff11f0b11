// Archives the library makes are read back by the other LHA readers installed here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "unlha32_library.h"

namespace zembrat::unlha32::testing {
namespace {

bool Installed(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

struct Peer {
    std::string program;
    // The shell command that extracts archive %A into folder %D.
    std::string extract;
};

std::string Expand(std::string text, const std::string& archive, const std::string& folder) {
    for (const auto& [mark, value] : {std::pair{std::string("%A"), archive}, {"%D", folder}}) {
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;) {
            text.replace(at, mark.size(), value);
        }
    }
    return text;
}

const std::map<std::string, std::string>& Files() {
    static const std::map<std::string, std::string> files = {
        {"empty.txt", ""},
        {"one.txt", "1"},
        {"text.txt", Text(150000)},
        {"random.bin", RandomBytes(100000, 11)},
        {"runs.bin", std::string(200000, 'A') + std::string(70000, '\0')},
        {"sub/deeper/inner.txt", Text(5000)},
    };
    return files;
}

TEST(Interop, PeersReadEveryMethodAndHeaderLevel) {
    REQUIRE_LIBRARY();
    const std::vector<Peer> peers = {
        {"lhasa", "cd '%D' && lhasa xfq '%A'"},
        {"7zz", "7zz x -y -bso0 -bsp0 '-o%D' '%A'"},
        {"bsdtar", "bsdtar -xf '%A' -C '%D'"},
        {"unar", "unar -q -f -D -o '%D' '%A'"},
    };
    std::vector<Peer> installed;
    for (const Peer& peer : peers) {
        if (Installed(peer.program)) {
            installed.push_back(peer);
        }
    }
    if (installed.empty()) {
        GTEST_SKIP() << "none of lhasa, 7zz, bsdtar, unar is installed";
    }
    TempFolder scratch;
    for (const auto& [name, content] : Files()) {
        scratch.Write("src/" + name, content);
    }
    for (const char* method : {"-jm0", "-jm5", "-jm6", "-jm7", "-jm9"}) {
        for (const char* level : {"-h0", "-h1", "-h2"}) {
            const std::string archive = scratch.Folder() + "t.lzh";
            std::filesystem::remove(archive);
            auto packed = Library().Run(std::string("a ") + method + " " + level + " \"" + archive +
                                        "\" \"" + scratch.Folder() + "src/\" *");
            ASSERT_EQ(packed.code, 0) << packed.text;
            for (const Peer& peer : installed) {
                const std::string out = scratch.Folder() + "out/";
                std::filesystem::remove_all(out);
                std::filesystem::create_directories(out);
                const std::string command = Expand(peer.extract, archive, out) + " >/dev/null 2>&1";
                EXPECT_EQ(std::system(command.c_str()), 0) << command;
                for (const auto& [name, content] : Files()) {
                    // Compared as a whole: printing a mismatch of these sizes helps nobody.
                    EXPECT_TRUE(ReadFile(out + name) == content)
                        << peer.program << " " << method << " " << level << " " << name;
                }
            }
        }
    }
}

// Names are stored in Shift-JIS (or UTF-8 where Shift-JIS cannot hold them), which a reader
// cannot tell apart; the Unicode name headers beside them let bsdtar restore every name under
// a UTF-8 locale. Without them it refused the Shift-JIS names.
TEST(Interop, BsdtarRestoresJapaneseAndOtherNamesFromTheUnicodeHeaders) {
    REQUIRE_LIBRARY();
    if (!Installed("bsdtar")) {
        GTEST_SKIP() << "bsdtar is not installed";
    }
    const std::map<std::string, std::string> files = {
        {"フォルダ/日本語.txt", "nihongo"},
        {"フォルダ/下位/ファイル.txt", Text(3000)},
        {"dir/café ☃.txt", "snowman"},
    };
    TempFolder scratch;
    for (const auto& [name, content] : files) {
        scratch.Write("src/" + name, content);
    }
    for (const char* level : {"-h1", "-h2"}) {
        const std::string archive = scratch.Folder() + "names.lzh";
        std::filesystem::remove(archive);
        auto packed = Library().Run(std::string("a -r ") + level + " \"" + archive + "\" \"" +
                                    scratch.Folder() + "src/\" *");
        ASSERT_EQ(packed.code, 0) << packed.text;
        const std::string out = scratch.Folder() + "out/";
        std::filesystem::remove_all(out);
        std::filesystem::create_directories(out);
        const std::string command =
            "LC_ALL=C.UTF-8 bsdtar -xf '" + archive + "' -C '" + out + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << level;
        for (const auto& [name, content] : files) {
            EXPECT_EQ(ReadFile(out + name), content) << level << " " << name;
        }
    }
}

}  // namespace
}  // namespace zembrat::unlha32::testing
