// gzip written in pieces on several threads reads back as the same bytes through an ordinary
// gzip reader that takes members one after another.
#include "tar/parallel_gzip.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <random>

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
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ASSERT_GE(fd, 0);
            const std::string data = noise.substr(0, test.size);
            {
                ParallelGzipWriter writer(fd, 6, threads, kPiece);
                for (std::size_t at = 0; at < data.size(); at += test.writeSize) {
                    const std::string part = data.substr(at, test.writeSize);
                    writer.Write(std::as_bytes(std::span(part.data(), part.size())));
                }
                writer.Finish();
            }
            ::close(fd);
            std::ifstream in(path, std::ios::binary);
            const std::string compressed{std::istreambuf_iterator<char>(in), {}};
            int members = 0;
            EXPECT_EQ(Gunzip(compressed, members), data);
            EXPECT_EQ(members, test.members);
        }
    }
}

TEST(ParallelGzipWriter, AFailedWriteIsAnError) {
    const int fd = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(fd, 0);
    ParallelGzipWriter writer(fd, 1, 2, 100);
    const std::string data(1000, 'x');
    EXPECT_THROW(
        {
            writer.Write(std::as_bytes(std::span(data.data(), data.size())));
            writer.Finish();
        },
        std::system_error);
    ::close(fd);
}

}  // namespace
}  // namespace zembrat::tar
