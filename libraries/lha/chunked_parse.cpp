#include "chunked_parse.h"

#include <algorithm>
#include <deque>
#include <future>
#include <system_error>
#include <thread>

#include "lha/archive.h"

namespace zembrat::lha {
namespace {

constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
// Chunk k waits for chunk k - kLag to be consumed: at most this many chunks are parsed at once.
constexpr std::size_t kLag = 2;

struct Chunk {
    std::vector<std::uint8_t> bytes;  // history, then the chunk itself
    std::size_t start = 0;
    CodeCosts costs;
    TokenList tokens;
    std::future<void> parsed;  // declared last: destroyed first, waiting for its thread
};

void ReadExactly(InputStream& input, std::span<std::uint8_t> into) {
    while (!into.empty()) {
        std::size_t got = input.Read(std::as_writable_bytes(into));
        if (got == 0) {
            throw Error(ErrorKind::kIo, "input ended before its stated size");
        }
        into = into.subspan(got);
    }
}

}  // namespace

void ParseInChunks(InputStream& input, std::uint64_t size, const ChunkedParse& settings,
                   const CodeCosts& costs, const std::function<void(const TokenList&)>& consume) {
    int threads = settings.threads > 0 ? settings.threads
                                       : static_cast<int>(std::thread::hardware_concurrency());
    // Deferred parses run on this thread when their turn comes; the result is the same.
    std::launch policy = threads > 1 ? std::launch::async : std::launch::deferred;
    std::size_t window = std::size_t{1} << settings.windowBits;
    // Level 0 searches 32 tree nodes per position, takes matches of 64 and more whole, and
    // prices each region of 16 KiB once, by the paths of the six before (20 nodes and nice 40
    // were about 8% faster and 0.22% larger); level 1 searches 64 at every position, takes
    // only matches of 256 whole, and prices each region of 64 KiB twice, by the path before
    // and then by its own.
    MatchEffort effort{.depth = 32, .niceLength = 64, .pricings = 1};
    // The smaller windows hold fewer nodes, so a walk costs less there: they take only the
    // longest matches whole and search every position (in an 8 KiB window program code has
    // long stretches without a match that are no compressed data).
    if (settings.windowBits <= 13) {
        effort = {.depth = 32, .niceLength = 256, .pricings = 1, .passOver = false};
    } else if (settings.windowBits <= 15) {
        effort = {.depth = 64, .niceLength = 256, .pricings = 1, .passOver = false};
    }
    if (settings.level > 0) {
        effort = {.depth = 64,
                  .niceLength = 256,
                  .pricings = 2,
                  .regionBits = 16,
                  .recentRegions = 1,
                  .passOver = false};
    }
    std::vector<MatchFinder> finders;  // chunk k uses finders[k % kLag], free again by then
    for (std::size_t k = 0; k < kLag; ++k) {
        finders.emplace_back(settings.windowBits, effort);
    }
    std::deque<Chunk> chunks;  // references stay valid as chunks come and go at the ends
    auto consumeOldest = [&] {
        chunks.front().parsed.get();
        consume(chunks.front().tokens);
        chunks.pop_front();
    };
    std::uint64_t left = size;
    for (std::size_t index = 0; left > 0; ++index) {
        Chunk next;
        if (!chunks.empty()) {
            const std::vector<std::uint8_t>& before = chunks.back().bytes;
            std::size_t history = std::min(window, before.size());
            next.bytes.assign(before.end() - static_cast<std::ptrdiff_t>(history), before.end());
        }
        next.start = next.bytes.size();
        auto length = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunkBytes));
        next.bytes.resize(next.start + length);
        ReadExactly(input, std::span(next.bytes).subspan(next.start));
        left -= length;
        if (chunks.size() == kLag) {
            consumeOldest();
        }
        next.costs = costs;
        Chunk& chunk = chunks.emplace_back(std::move(next));
        MatchFinder& finder = finders[index % kLag];
        auto parse = [&chunk, &finder] {
            ParseOptimal(finder, chunk.bytes, chunk.start, chunk.tokens, chunk.costs);
        };
        try {
            chunk.parsed = std::async(policy, parse);
        } catch (const std::system_error&) {
            chunk.parsed = std::async(std::launch::deferred, parse);  // no thread to be had
        }
    }
    while (!chunks.empty()) {
        consumeOldest();
    }
}

}  // namespace zembrat::lha
