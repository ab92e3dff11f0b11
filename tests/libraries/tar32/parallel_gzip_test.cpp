// gzip written in pieces on several threads reads back as the same bytes through an ordinary
// gzip reader that takes members one after another.
#include "tar/parallel_gzip.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "common/failure.h"
#include "temp_folder.h"

namespace zembrat::tar {
namespace {

// Every member inflated in turn; the number of members into members.
std::string Gunzip(const std::string& compressed, int& members) {
    std::string out;
    z_stream stream{};
    inflateInit2(&stream, 16 + MAX_WBITS);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    members = 0;
    char buffer[4096];
    while (stream.avail_in > 0) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        const int result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
        if (result == Z_STREAM_END) {
            ++members;
            inflateReset(&stream);
        } else if (result != Z_OK) {
            ADD_FAILURE() << "damaged gzip, inflate says " << result;
            break;
        }
    }
    inflateEnd(&stream);
    return out;
}

TEST(ParallelGzipWriter, ReadsBackWholeInOrder) {
    constexpr std::size_t kPiece = 1000;
    std::mt19937 random(7);
    std::string noise(10 * kPiece, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random() % 4 + 'a');  // compressible, yet in every piece different
    }
    struct Case {
        std::size_t size;
        std::size_t writeSize;  // the data arrives in writes of this size
        int members;            // at least one, even for nothing
    };
    const Case cases[] = {{0, 1, 1},
                          {1, 1, 1},
                          {kPiece - 1, 7, 1},
                          {kPiece, kPiece, 1},
                          {kPiece + 1, 333, 2},
                          {7 * kPiece + 5, 4096, 8}};
    const testing::TempFolder folder;
    for (unsigned threads : {1u, 2u, 3u}) {
        for (const Case& test : cases) {
            SCOPED_TRACE(std::to_string(test.size) + " bytes on " + std::to_string(threads));
            const std::string path = folder / "out.gz";
            const std::string data = noise.substr(0, test.size);
            {
                common::ArchiveOutput output(path);
                ParallelGzipWriter writer(output, 6, threads, kPiece);
                for (std::size_t at = 0; at < data.size(); at += test.writeSize) {
                    const std::string part = data.substr(at, test.writeSize);
                    writer.Write(std::as_bytes(std::span(part.data(), part.size())));
                }
                writer.Finish();
                output.Commit(0600);
            }
            std::ifstream in(path, std::ios::binary);
            const std::string compressed{std::istreambuf_iterator<char>(in), {}};
            int members = 0;
            EXPECT_EQ(Gunzip(compressed, members), data);
            EXPECT_EQ(members, test.members);
        }
    }
}

// A write the file system refuses (here the file size limit, in a child) is the writer's
// failure with the system's reason, and no file is left behind.
TEST(ParallelGzipWriter, AFailedWriteIsAnError) {
    const testing::TempFolder folder;
    const std::string path = folder / "out.gz";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::mt19937 random(3);
        std::string noise(100000, '\0');
        for (char& c : noise) {
            c = static_cast<char>(random());
        }
        try {
            common::ArchiveOutput output(path);
            ParallelGzipWriter writer(output, 1, 2, 1000);
            writer.Write(std::as_bytes(std::span(noise.data(), noise.size())));
            writer.Finish();
            output.Commit(0600);
        } catch (const common::Failure& failure) {
            ::_exit(std::string(failure.what()).find("File too large") != std::string::npos ? 0
                                                                                            : 2);
        }
        ::_exit(1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no failure; 2: another reason";
    EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
}

}  // namespace
}  // namespace zembrat::tar
