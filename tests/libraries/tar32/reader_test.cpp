// The tar engine's reader over the helper, asked member by member or streamed whole.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <stdexcept>

#include "tar/tar.h"
#include "temp_folder.h"
#include "ustar.h"

namespace zembrat::tar {
namespace {

using tar32::testing::Gzip;
using tar32::testing::Ustar;

archive_host::HostOptions Helper() {
    archive_host::HostOptions options;
    options.helperPath = ZEMBRAT_ARCHIVE_HOST_PATH;
    return options;
}

std::string DataOf(Reader& reader) {
    std::string data;
    reader.Extract([&](std::span<const std::byte> piece) {
        data.append(reinterpret_cast<const char*>(piece.data()), piece.size());
    });
    return data;
}

// Streamed or asked for, the same members with the same data, whichever members' data is
// read and whichever is passed over.
TEST(Reader, StreamedAsAskedFor) {
    const std::string big(200000, 'b');  // several data frames
    const std::string tar = Ustar({{"a.txt", '0', "alpha"},
                                   {"dir", '5', ""},
                                   {"big.bin", '0', big},
                                   {"skipped.bin", '0', big},
                                   {"c.txt", '0', "gamma"}});
    const testing::TempFolder folder;
    for (const std::string& archive : {tar, Gzip(tar)}) {
        const std::string path = folder / "t.tar";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << archive;
        for (bool stream : {false, true}) {
            SCOPED_TRACE(stream ? "streamed" : "asked for");
            Reader reader(path, Helper());
            if (stream) {
                reader.StreamAll();
            }
            std::string seen;
            while (auto member = reader.Next()) {
                seen += member->name + "=";
                if (member->kind == MemberKind::kFile && member->name != "skipped.bin") {
                    seen += std::to_string(DataOf(reader).size());
                }
                seen += ";";
            }
            EXPECT_EQ(seen, "a.txt=5;dir=;big.bin=200000;skipped.bin=;c.txt=5;");
        }
    }
}

// A sink that fails (a full disk) ends the archive at once, streamed or not: the helper
// cannot be brought back in step, and nobody waits for its answer timeout.
TEST(Reader, AFailingSinkEndsTheArchivePromptly) {
    const testing::TempFolder folder;
    const std::string path = folder / "t.tar";
    std::ofstream(path, std::ios::binary)
        << Ustar({{"a.bin", '0', std::string(300000, 'a')}, {"b.txt", '0', "b"}});
    for (bool stream : {false, true}) {
        SCOPED_TRACE(stream ? "streamed" : "asked for");
        Reader reader(path, Helper());
        if (stream) {
            reader.StreamAll();
        }
        ASSERT_TRUE(reader.Next());
        EXPECT_THROW(reader.Extract(
                         [](std::span<const std::byte>) { throw std::runtime_error("disk full"); }),
                     std::runtime_error);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_THROW(reader.Next(), Error);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    }
}

}  // namespace
}  // namespace zembrat::tar
