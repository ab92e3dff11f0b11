#include "tar/parallel_gzip.h"

#include <libdeflate.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <system_error>

namespace zembrat::tar {

namespace {

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const {
        libdeflate_free_compressor(compressor);
    }
};

std::vector<std::byte> GzipMember(int level, const std::vector<std::byte>& piece) {
    const std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(level));
    if (!compressor) {
        throw std::bad_alloc();
    }
    std::vector<std::byte> member(libdeflate_gzip_compress_bound(compressor.get(), piece.size()));
    const std::size_t size = libdeflate_gzip_compress(compressor.get(), piece.data(), piece.size(),
                                                      member.data(), member.size());
    if (size == 0) {
        throw std::bad_alloc();  // the bound was too small: cannot happen
    }
    member.resize(size);
    return member;
}

}  // namespace

ParallelGzipWriter::ParallelGzipWriter(common::ArchiveOutput& output, int level, unsigned threads,
                                       std::size_t pieceSize)
    : output_(output),
      level_(std::clamp(level, 0, 12)),
      threads_(std::max(1u, threads)),
      pieceSize_(pieceSize) {
    pending_.reserve(pieceSize_);
}

ParallelGzipWriter::~ParallelGzipWriter() {
    // Pieces still being compressed are waited for (their futures do) and dropped.
    inFlight_.clear();
}

void ParallelGzipWriter::Write(std::span<const std::byte> data) {
    while (!data.empty()) {
        const std::size_t piece = std::min(data.size(), pieceSize_ - pending_.size());
        pending_.insert(pending_.end(), data.begin(), data.begin() + static_cast<long>(piece));
        data = data.subspan(piece);
        if (pending_.size() == pieceSize_) {
            Submit();
        }
    }
}

void ParallelGzipWriter::Submit() {
    if (inFlight_.size() >= threads_) {
        WriteOldest();
    }
    inFlight_.push_back(std::async(std::launch::async, GzipMember, level_, std::move(pending_)));
    pending_ = {};
    pending_.reserve(pieceSize_);
}

void ParallelGzipWriter::WriteOldest() {
    const std::vector<std::byte> member = inFlight_.front().get();
    inFlight_.pop_front();
    output_.Write(member);
}

void ParallelGzipWriter::Finish() {
    // An empty archive is still one (empty) member: a gzip file must have one.
    if (!pending_.empty() || inFlight_.empty()) {
        Submit();
    }
    while (!inFlight_.empty()) {
        WriteOldest();
    }
}

}  // namespace zembrat::tar
