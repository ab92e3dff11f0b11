#include "deflate_chunks.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace zembrat::zip {

namespace {

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const {
        libdeflate_free_compressor(compressor);
    }
};
using CompressorPtr = std::unique_ptr<libdeflate_compressor, CompressorDeleter>;

class Inflater {
  public:
    Inflater() { ok_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (ok_) {
            inflateEnd(&stream_);
        }
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    bool Ok() const { return ok_; }
    z_stream& Stream() { return stream_; }

  private:
    z_stream stream_{};
    bool ok_ = false;
};

void CompressOne(libdeflate_compressor* compressor, std::span<const std::byte> chunk,
                 std::vector<std::byte>& out, bool continues) {
    out.resize(libdeflate_deflate_compress_bound(compressor, chunk.size()));
    const std::size_t size =
        libdeflate_deflate_compress(compressor, chunk.data(), chunk.size(), out.data(), out.size());
    out.resize(size);
    if (size == 0 || (continues && !MakeStreamContinue(out))) {
        throw std::logic_error("deflate produced an unusable stream");
    }
}

}  // namespace

int LibdeflateLevel(int level) {
    // Measured on the bench corpus (README): level 6 is the first that is smaller than the
    // common zip tool's default; 9 takes libdeflate's strongest parse.
    static constexpr std::array<int, 10> kLevels = {0, 1, 2, 3, 4, 5, 6, 8, 10, 12};
    return kLevels[static_cast<std::size_t>(std::clamp(level, 1, 9))];
}

std::size_t ChunkSize(int level) {
    return level >= 8 ? std::size_t{8} << 20 : std::size_t{4} << 20;
}

bool MakeStreamContinue(std::vector<std::byte>& stream) {
    Inflater inflater;
    if (!inflater.Ok()) {
        return false;
    }
    z_stream& z = inflater.Stream();
    z.next_in = reinterpret_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    std::array<Bytef, 64 * 1024> scratch;
    std::uint64_t lastBlockBit = 0;
    std::optional<std::uint64_t> endBit;
    for (;;) {
        z.next_out = scratch.data();
        z.avail_out = static_cast<uInt>(scratch.size());
        // Z_BLOCK stops after every block, where data_type tells how many bits of the last
        // byte are still unread (+128 after an end-of-block code, +64 in the final block).
        const int result = inflate(&z, Z_BLOCK);
        if (result == Z_STREAM_END) {
            break;
        }
        if (result != Z_OK) {
            return false;
        }
        if ((z.data_type & 128) != 0) {
            const std::uint64_t bit = z.total_in * 8 - static_cast<unsigned>(z.data_type & 7);
            if ((z.data_type & 64) != 0) {
                endBit = bit;
            } else {
                lastBlockBit = bit;
            }
        }
    }
    if (!endBit) {
        return false;
    }
    stream[lastBlockBit / 8] &= static_cast<std::byte>(~(1u << (lastBlockBit % 8)));
    // Three zero bits (not final, stored), zero padding, then LEN 0 and NLEN 0xFFFF.
    const std::size_t aligned = static_cast<std::size_t>((*endBit + 3 + 7) / 8);
    stream.resize(aligned, std::byte{0});
    stream[*endBit / 8] &= static_cast<std::byte>((1u << (*endBit % 8)) - 1);
    for (std::size_t i = static_cast<std::size_t>(*endBit / 8) + 1; i < aligned; ++i) {
        stream[i] = std::byte{0};
    }
    for (const unsigned byte : {0x00u, 0x00u, 0xFFu, 0xFFu}) {
        stream.push_back(static_cast<std::byte>(byte));
    }
    return true;
}

struct ChunkCompressor::State {
    std::vector<CompressorPtr> compressors;
};

ChunkCompressor::ChunkCompressor(int level, unsigned threads) : state_(std::make_unique<State>()) {
    if (threads == 0) {
        threads = std::thread::hardware_concurrency() >= 2 ? 2 : 1;
    }
    for (unsigned i = 0; i < threads; ++i) {
        CompressorPtr compressor(libdeflate_alloc_compressor(LibdeflateLevel(level)));
        if (!compressor) {
            throw std::bad_alloc();
        }
        state_->compressors.push_back(std::move(compressor));
    }
}

ChunkCompressor::~ChunkCompressor() = default;

std::size_t ChunkCompressor::Parallelism() const {
    return state_->compressors.size();
}

void ChunkCompressor::Compress(std::span<const std::span<const std::byte>> chunks,
                               std::span<std::vector<std::byte>> out, bool last) {
    const auto continues = [&](std::size_t i) { return !last || i + 1 < chunks.size(); };
    std::vector<std::jthread> helpers;
    std::vector<std::exception_ptr> failures(chunks.size());
    for (std::size_t i = 1; i < chunks.size(); ++i) {
        const auto work = [&, i] {
            try {
                CompressOne(state_->compressors[i].get(), chunks[i], out[i], continues(i));
            } catch (...) {
                failures[i] = std::current_exception();
            }
        };
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            work();  // no thread to be had: the same work here
        }
    }
    if (!chunks.empty()) {
        CompressOne(state_->compressors[0].get(), chunks[0], out[0], continues(0));
    }
    helpers.clear();
    for (const auto& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
}

}  // namespace zembrat::zip
