// The RAR reader of versions 1.5 to 4.x against unar on every archive of those versions at
// hand (each method, solid streams, filters, volume sets), and what damage does to it: a
// damaged member fails alone, cut archives end with an error, a missing volume is named.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <vector>

#include "fixture_files.h"
#include "fixtures_dir.h"
#include "rar/archive.h"
#include "shell_run.h"
#include "temp_folder.h"

namespace zembrat::rar::testing {
namespace {

namespace fs = std::filesystem;
using ::zembrat::testing::Shell;
using ::zembrat::testing::TempFolder;

const std::string kFixtures = ::zembrat::testing::FixturesDir().string() + "/";

// What a member holds, without keeping it: its size and CRC-32, or a link's target.
struct Content {
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    std::optional<std::string> linkTarget;
    bool operator==(const Content&) const = default;
};

struct Decoded {
    std::map<std::string, Content> members;  // by name
    std::map<std::string, std::string> failures;
};

// Volumes beside the first by the NAME.partN.rar naming (the width kept).
VolumeOpener PartOpener(const std::string& first) {
    return [first](std::size_t index) -> std::unique_ptr<Input> {
        const std::size_t part = first.rfind(".part");
        if (part == std::string::npos) {
            return nullptr;
        }
        const std::size_t width = first.find(".rar", part) - part - 5;
        std::string number = std::to_string(index + 1);
        number.insert(0, width > number.size() ? width - number.size() : 0, '0');
        const std::string name = first.substr(0, part + 5) + number + ".rar";
        return fs::exists(name) ? OpenFile(name) : nullptr;
    };
}

Decoded DecodeAll(Reader& reader) {
    Decoded decoded;
    while (auto member = reader.Next()) {
        if (member->IsDirectory()) {
            continue;
        }
        Content content;
        std::string link;
        try {
            reader.Extract(*member, [&](std::span<const std::byte> data) {
                content.size += data.size();
                content.crc = Crc32(data, content.crc);
                if (member->IsSymlink()) {
                    link.append(reinterpret_cast<const char*>(data.data()), data.size());
                }
            });
            if (member->IsSymlink()) {
                content = Content{0, 0, link};
            }
            decoded.members[member->name] = content;
        } catch (const Error& error) {
            decoded.failures[member->name] = error.what();
        }
    }
    return decoded;
}

Decoded DecodeFile(const std::string& path) {
    Reader reader(OpenFile(path), PartOpener(path));
    return DecodeAll(reader);
}

// What unar extracts, by relative name.
std::map<std::string, Content> UnarContents(const std::string& folder) {
    std::map<std::string, Content> contents;
    for (auto it = fs::recursive_directory_iterator(folder);
         it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = it->path().lexically_relative(folder).string();
        if (it->is_symlink()) {
            contents[name] = Content{0, 0, fs::read_symlink(it->path()).string()};
        } else if (it->is_regular_file()) {
            Content content;
            std::ifstream file(it->path(), std::ios::binary);
            std::vector<char> buffer(1 << 20);
            while (file.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) ||
                   file.gcount() > 0) {
                const auto got = static_cast<std::size_t>(file.gcount());
                content.size += got;
                content.crc = Crc32(std::as_bytes(std::span(buffer.data(), got)), content.crc);
            }
            contents[name] = content;
        }
    }
    return contents;
}

bool IsAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

TEST(RarFixtures, EveryOlderArchiveDecodesAsUnarExtractsIt) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    if (Shell("command -v unar").status != 0) {
        GTEST_SKIP() << "unar is not installed: no oracle to compare with";
    }
    const char* archives[] = {
        // Each method: 1.5, 2.0 (with its multimedia mode), 2.9 LZ in a solid stream.
        "real/Rar15.rar",
        "real/Rar2.rar",
        "real/Rar.solid.rar",
        // 2.9: stored, LZ, the E8 filter, a program in front, service blocks.
        "rar/read_format_rar.rar",
        "rar/read_format_rar_binary_data.rar",
        "rar/read_format_rar_filter.rar",
        "rar/read_format_rar_sfx.exe",
        "rar/read_format_rar_noeof.rar",
        "rar/read_format_rar_subblock.rar",
        "rar/read_format_rar_windows.rar",
        "rar/read_format_rar_newsub_rr_over_1m.rar",
        // Blocks switching between PPMd and LZ, one member 241 MB; many LZ blocks.
        "rar/hostile/read_format_rar_ppmd_lzss_conversion.rar",
        "rar/hostile/read_format_rar_multi_lzss_blocks.rar",
        "rar/hostile/read_format_rar3_lowdist_reset.rar",
        // Volume sets: members continued across volumes, PPMd among them.
        "rar/multivolume/rar_multivolume_multiple_files.part1.rar",
        "rar/multivolume/rar_multivolume_single_file.part1.rar",
        "rar/multivolume/rar_multivolume_uncompressed_files.part01.rar",
        "rar/multivolume/read_format_rar_multivolume.part0001.rar",
    };
    for (const char* relative : archives) {
        const std::string archive = kFixtures + relative;
        SCOPED_TRACE(relative);
        TempFolder scratch;
        Shell("unar -q -D -o '" + scratch.Folder() + "' '" + archive + "'");
        const auto expected = UnarContents(scratch.Folder());
        const Decoded decoded = DecodeFile(archive);
        EXPECT_TRUE(decoded.failures.empty())
            << decoded.failures.begin()->first << ": " << decoded.failures.begin()->second;
        EXPECT_EQ(decoded.members.size(), expected.size());
        for (const auto& [name, content] : decoded.members) {
            SCOPED_TRACE(name);
            const auto found = expected.find(name);
            if (found != expected.end()) {
                EXPECT_EQ(content, found->second);
                continue;
            }
            // A name without a Unicode form, in a DOS code page: unar reads the code page its
            // own way; the content must still be among what it extracted.
            EXPECT_FALSE(IsAscii(name));
            EXPECT_TRUE(std::any_of(expected.begin(), expected.end(),
                                    [&](const auto& entry) { return entry.second == content; }));
        }
    }
}

// A solid member read alone decodes the members before it in the stream first, without being
// asked; read again after a restart, and out of order, it comes out the same.
TEST(RarSolid, AMemberDecodesWhateverWasReadBeforeIt) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    const std::string archive = kFixtures + "real/Rar.solid.rar";
    const Decoded whole = DecodeFile(archive);
    ASSERT_EQ(whole.members.size(), 3u);
    Reader reader(OpenFile(archive));
    std::vector<Member> members;
    while (auto member = reader.Next()) {
        if (!member->IsDirectory()) {
            members.push_back(*member);
        }
    }
    ASSERT_EQ(members.size(), 3u);
    for (const std::size_t pick : {2u, 0u, 2u, 1u}) {
        SCOPED_TRACE(pick);
        Content content;
        reader.Extract(members[pick], [&](std::span<const std::byte> data) {
            content.size += data.size();
            content.crc = Crc32(data, content.crc);
        });
        EXPECT_EQ(content, whole.members.at(members[pick].name));
    }
}

std::string ReadBytes(const std::string& path) {
    return ::zembrat::testing::ReadFile(path);
}

Decoded DecodeBytes(const std::string& bytes) {
    Reader reader(MemoryInput(std::as_bytes(std::span(bytes.data(), bytes.size()))));
    return DecodeAll(reader);
}

// A member whose packed data is damaged fails alone (by its CRC or its decoder), and the
// members after it in a non-solid archive still decode.
TEST(RarDamage, ADamagedMemberFailsAlone) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    const struct {
        const char* archive;
        const char* damaged;  // the member whose data is overwritten
    } cases[] = {
        {"real/Rar2.rar", "exe/test.exe"},
        {"real/Rar15.rar", "EXE/TEST.EXE"},
        {"rar/read_format_rar_binary_data.rar", "random_data.bin"},
        {"rar/hostile/read_format_rar_ppmd_lzss_conversion.rar", "ppmd_lzss_conversion_test.txt"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.archive);
        std::string bytes = ReadBytes(kFixtures + test.archive);
        const Decoded sound = DecodeBytes(bytes);
        ASSERT_TRUE(sound.failures.empty());
        Reader reader(MemoryInput(std::as_bytes(std::span(bytes.data(), bytes.size()))));
        std::optional<Part> part;
        while (auto member = reader.Next()) {
            if (member->name == test.damaged) {
                part = member->parts.at(0);
            }
        }
        ASSERT_TRUE(part);
        for (std::uint64_t at = part->offset + part->size / 3; at < part->offset + part->size / 2;
             ++at) {
            bytes[at] = static_cast<char>(bytes[at] * 7 + 13);
        }
        const Decoded damaged = DecodeBytes(bytes);
        EXPECT_EQ(damaged.failures.size(), 1u);
        EXPECT_TRUE(damaged.failures.contains(test.damaged));
        for (const auto& [name, content] : sound.members) {
            if (name != test.damaged) {
                EXPECT_EQ(damaged.members.at(name), content) << name;
            }
        }
    }
}

// Cut anywhere, an archive ends with an error or fewer members, never with a wrong member.
TEST(RarDamage, EveryCutEndsCleanly) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    for (const char* relative : {"real/Rar15.rar", "real/Rar2.rar", "real/Rar.solid.rar",
                                 "rar/read_format_rar_filter.rar"}) {
        SCOPED_TRACE(relative);
        const std::string bytes = ReadBytes(kFixtures + relative);
        const Decoded whole = DecodeBytes(bytes);
        for (std::size_t size = 0; size < bytes.size(); size += 1 + bytes.size() / 97) {
            try {
                const Decoded cut = DecodeBytes(bytes.substr(0, size));
                for (const auto& [name, content] : cut.members) {
                    EXPECT_EQ(content, whole.members.at(name)) << name << " cut at " << size;
                }
            } catch (const Error& error) {
                EXPECT_NE(error.Kind(), ErrorKind::kMember);
            }
        }
    }
}

// The inputs fuzzing once failed on (tests/fuzz/regressions/rar_archive_fuzzer): each ends
// with its members decoded or refused, no member longer than its size. The sanitizer pass
// is what sees a fault there (a match past the window's size copied onto itself at once).
TEST(RarDamage, InputsFuzzingFailedOnEndCleanly) {
    std::size_t count = 0;
    for (const auto& entry :
         fs::directory_iterator(fs::path(ZEMBRAT_FUZZ_REGRESSIONS) / "rar_archive_fuzzer")) {
        SCOPED_TRACE(entry.path().filename().string());
        ++count;
        const std::string bytes = ReadBytes(entry.path().string());
        try {
            Reader reader(MemoryInput(std::as_bytes(std::span(bytes.data(), bytes.size()))));
            while (auto member = reader.Next()) {
                std::uint64_t size = 0;
                try {
                    reader.Extract(*member,
                                   [&](std::span<const std::byte> data) { size += data.size(); });
                    EXPECT_EQ(size, member->size) << member->name;
                } catch (const Error& error) {
                    EXPECT_LE(size, member->size) << member->name << ": " << error.what();
                }
            }
        } catch (const Error&) {
            // The archive itself refused: as good an end as any.
        }
    }
    EXPECT_GT(count, 0u);
}

TEST(RarVolumes, AMissingVolumeIsNamedAndTheMembersBeforeItDecode) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    TempFolder scratch;
    const std::string set = kFixtures + "rar/multivolume/rar_multivolume_multiple_files.part";
    fs::copy_file(set + "1.rar", scratch / "set.part1.rar");
    fs::copy_file(set + "2.rar", scratch / "set.part2.rar");
    const std::string first = scratch / "set.part1.rar";
    Reader reader(OpenFile(first), PartOpener(first), [&](std::size_t index) {
        return "set.part" + std::to_string(index + 1) + ".rar";
    });
    try {
        while (reader.Next()) {
        }
        FAIL() << "the missing volume went unnoticed";
    } catch (const Error& error) {
        EXPECT_EQ(error.Kind(), ErrorKind::kVolume);
        EXPECT_STREQ(error.what(),
                     "the volume set.part3.rar is missing (the set continues after "
                     "set.part2.rar)");
    }
}

TEST(RarFormat, NewerAndEncryptedArchivesAreRefusedWithTheirReason) {
    ZEMBRAT_SKIP_WITHOUT_FIXTURES();
    const struct {
        const char* archive;
        const char* reason;
    } cases[] = {
        {"rar/read_format_rar5_stored.rar", "an archive of the newer format (RAR5)"},
        {"rar/hostile/read_format_rar4_solid_encrypted_filenames.rar", "encrypted headers"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.archive);
        try {
            Reader reader(OpenFile(kFixtures + test.archive));
            FAIL() << "read";
        } catch (const Error& error) {
            EXPECT_EQ(error.Kind(), ErrorKind::kFormat);
            EXPECT_STREQ(error.what(), test.reason);
        }
    }
    const Decoded members =
        DecodeFile(kFixtures + "rar/hostile/read_format_rar4_solid_encrypted.rar");
    EXPECT_EQ(members.failures.size(), 4u);
    for (const auto& [name, reason] : members.failures) {
        EXPECT_EQ(reason, "encrypted, not supported") << name;
    }
}

}  // namespace
}  // namespace zembrat::rar::testing
