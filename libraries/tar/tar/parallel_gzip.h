// gzip written as a series of members, each made from one piece of the data by one of a few
// worker threads: any gzip reader reads members one after another as one stream, and the
// pieces compress in parallel. libdeflate compresses each piece whole.
#pragma once

#include <cstddef>
#include <deque>
#include <future>
#include <span>
#include <vector>

#include "common/archive_output.h"

namespace zembrat::tar {

class ParallelGzipWriter {
  public:
    // level: 0-12 (libdeflate's scale; 6 is gzip's default); threads: pieces compressed at
    // once (at least 1). Memory: about (threads + 1) * 2 * pieceSize.
    ParallelGzipWriter(common::ArchiveOutput& output, int level, unsigned threads,
                       std::size_t pieceSize = 1 << 21);
    ~ParallelGzipWriter();
    ParallelGzipWriter(const ParallelGzipWriter&) = delete;
    ParallelGzipWriter& operator=(const ParallelGzipWriter&) = delete;

    // Throws common::Failure when the file cannot be written, std::bad_alloc (also when a
    // worker thread could not compress its piece).
    void Write(std::span<const std::byte> data);
    // Compresses and writes what is left. Throws as Write.
    void Finish();

  private:
    void Submit();
    void WriteOldest();

    common::ArchiveOutput& output_;
    int level_;
    unsigned threads_;
    std::size_t pieceSize_;
    std::vector<std::byte> pending_;
    std::deque<std::future<std::vector<std::byte>>> inFlight_;
};

}  // namespace zembrat::tar
