// Reads the archives of many LHA tools and compares every member with the manifest.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "fixture_files.h"
#include "test_support.h"

namespace zembrat::lha::test {
namespace {

using ::zembrat::testing::ManifestRow;

using ::zembrat::testing::ReadManifest;

// What extracting an archive gave, as a folder tree would hold it (later members replace
// earlier ones of the same name, folders of members exist implicitly).
struct Extraction {
    struct Entry {
        std::string kind;
        std::uint64_t size = 0;
        std::string sha256;
    };
    std::map<std::string, Entry> entries;
    std::set<std::string> unsupported;
    std::vector<std::string> errors;
};

// Some tools store MS-DOS names in capitals and the manifest's decoder shows them in small
// letters; names are compared without regard to case.
std::string Folded(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

void AddParents(Extraction& result, const std::string& path) {
    for (std::size_t slash = path.find('/'); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        Extraction::Entry folder;
        folder.kind = "dir";
        result.entries.try_emplace(path.substr(0, slash), folder);
    }
}

// Counts what is written, for members too large to hash in a unit test.
class CountingOutput final : public OutputStream {
  public:
    void Write(std::span<const std::byte> data) override { count += data.size(); }
    std::uint64_t count = 0;
};

Extraction ExtractAll(const std::filesystem::path& archive) {
    Extraction result;
    try {
        FileInput input(archive.string());
        Reader reader(input);
        while (auto member = reader.Next()) {
            std::string key = Folded(member->path);
            AddParents(result, key);
            try {
                // As on disk: a member cannot go below something that is a file.
                for (std::size_t slash = key.find('/'); slash != std::string::npos;
                     slash = key.find('/', slash + 1)) {
                    if (result.entries[key.substr(0, slash)].kind == "file") {
                        throw Error(ErrorKind::kFormat, "a file stands where a folder should");
                    }
                }
                Extraction::Entry entry;
                entry.kind = member->IsSymlink() ? "link" : member->IsDirectory() ? "dir" : "file";
                if (member->originalSize > 0xFFFFFFFFu) {
                    CountingOutput out;
                    reader.Extract(out);
                    entry.size = out.count;
                    entry.sha256 = "(not hashed)";
                } else {
                    HashingOutput out;
                    reader.Extract(out);
                    if (entry.kind == "file") {
                        entry.size = out.Count();
                        entry.sha256 = out.Digest();
                    }
                }
                result.entries[key] = entry;
            } catch (const Error& e) {
                if (e.Kind() == ErrorKind::kUnsupportedMethod) {
                    result.unsupported.insert(key);
                }
                result.errors.push_back(key + ": " + e.what());
            }
        }
    } catch (const Error& e) {
        result.errors.push_back(std::string("archive: ") + e.what());
    }
    return result;
}

// Archives the manifest's decoder could not read but we can: their members pass their own
// CRCs (Extract checks them), and LHARK's member equals what the same tool wrote with -lh5-.
const std::set<std::string> kBeyondManifest = {
    "lhark04d/lh7.lzh",
    "lhark04d/lh7_long.lzh",
    "unlha32/lh2.lzh",
    "unlha32/lh3.lzh",
};

TEST(LhaFixtures, EveryArchiveExtractsAsTheManifestSays) {
    auto dir = FixturesDir();
    if (!std::filesystem::exists(dir / "manifest.tsv")) {
        GTEST_SKIP() << "no LHA fixtures at " << dir;
    }
    auto manifest = ReadManifest(dir / "manifest.tsv");
    ASSERT_GT(manifest.size(), 50u);
    int checkedFiles = 0;
    for (const auto& [archive, rows] : manifest) {
        SCOPED_TRACE(archive);
        Extraction got = ExtractAll(dir / archive);
        EXPECT_TRUE(got.unsupported.empty()) << ::testing::PrintToString(got.unsupported);
        if (kBeyondManifest.count(archive) > 0) {
            EXPECT_TRUE(got.errors.empty()) << ::testing::PrintToString(got.errors);
            EXPECT_FALSE(got.entries.empty());
            continue;
        }
        bool expectError = rows.front().kind == "error";
        if (expectError) {
            EXPECT_FALSE(got.errors.empty()) << "a damaged or foreign member went unnoticed";
            continue;
        }
        EXPECT_TRUE(got.errors.empty()) << ::testing::PrintToString(got.errors);
        for (const auto& row : rows) {
            auto found = got.entries.find(Folded(row.member));
            if (found == got.entries.end()) {
                ADD_FAILURE() << "missing " << row.member << " "
                              << ::testing::PrintToString(got.errors);
                continue;
            }
            EXPECT_EQ(found->second.kind, row.kind) << row.member;
            if (row.kind != "file") {
                continue;
            }
            if (found->second.size > 0xFFFFFFFFu) {
                // The manifest's decoder ignores the 64-bit size header and keeps the low
                // 32 bits; the member's own CRC has been checked over all of it.
                EXPECT_EQ(found->second.size & 0xFFFFFFFFu, row.size) << row.member;
                continue;
            }
            EXPECT_EQ(found->second.size, row.size) << row.member;
            EXPECT_EQ(found->second.sha256, row.sha256) << row.member;
            ++checkedFiles;
        }
    }
    EXPECT_GT(checkedFiles, 100);
}

TEST(LhaFixtures, LharkMethodIsToldApartFromLh7) {
    auto dir = FixturesDir() / "lhark04d";
    if (!std::filesystem::exists(dir / "lh7.lzh")) {
        GTEST_SKIP() << "no LHARK fixtures at " << dir;
    }
    auto lk7 = ExtractAll(dir / "lh7.lzh");
    auto lh5 = ExtractAll(dir / "lh5.lzh");
    ASSERT_TRUE(lk7.errors.empty()) << ::testing::PrintToString(lk7.errors);
    EXPECT_EQ(lk7.entries.at("gpl-2").sha256, lh5.entries.at("gpl-2").sha256);
    FileInput input((dir / "lh7.lzh").string());
    Reader reader(input);
    EXPECT_EQ(reader.Next()->method, "-lk7-");
}

}  // namespace
}  // namespace zembrat::lha::test
