#include "member_streams.h"

#include <system_error>

namespace zembrat::lha {
namespace {

constexpr std::size_t kBackgroundPiece = std::size_t{1} << 20;

}  // namespace

BackgroundCrcOutput::BackgroundCrcOutput(OutputStream& output) : output_(output) {
    filling_.reserve(kBackgroundPiece);
    writing_.reserve(kBackgroundPiece);
}

BackgroundCrcOutput::~BackgroundCrcOutput() {
    if (pending_.valid()) {
        pending_.wait();
    }
}

void BackgroundCrcOutput::Write(std::span<const std::byte> data) {
    filling_.insert(filling_.end(), data.begin(), data.end());
    if (filling_.size() >= kBackgroundPiece) {
        Dispatch();
    }
}

void BackgroundCrcOutput::Dispatch() {
    if (pending_.valid()) {
        pending_.get();  // rethrows the thread's error
    }
    std::swap(filling_, writing_);
    filling_.clear();
    auto checkAndWrite = [this] {
        crc_ = Crc16(writing_, crc_);
        output_.Write(writing_);
    };
    try {
        pending_ = std::async(std::launch::async, checkAndWrite);
    } catch (const std::system_error&) {
        checkAndWrite();  // no thread to be had: on this one, then
    }
}

void BackgroundCrcOutput::Finish() {
    if (!filling_.empty()) {
        Dispatch();
    }
    if (pending_.valid()) {
        pending_.get();
    }
}

}  // namespace zembrat::lha
