#include "progress_bar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "display_text.h"

namespace zembrat::cli {

namespace {

constexpr std::size_t kBarCells = 20;
constexpr std::size_t kDefaultColumns = 80;
// Updates closer together than this are not drawn; a member's start and end always are.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// Erase from the cursor to the end of the line.
constexpr std::string_view kEraseLine = "\r\x1b[K";

std::size_t TerminalColumns(std::FILE* stream) {
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return kDefaultColumns;
}

std::string RecordText(const char* field) {
    return std::string(field, ::strnlen(field, ARC_NAME_MAX + 1));
}

}  // namespace

std::string FormatProgressLine(int fileNumber, int fileCount, std::string_view name,
                               std::uint64_t done, std::uint64_t size, std::size_t width) {
    const std::uint64_t shown = std::min(done, size);
    const std::size_t filled =
        size == 0 ? kBarCells : static_cast<std::size_t>(shown * kBarCells / size);
    const int percent = size == 0 ? 100 : static_cast<int>(shown * 100 / size);
    std::string line = "[" + std::to_string(fileNumber) + "/" + std::to_string(fileCount) + "] [";
    line += std::string(filled, '#') + std::string(kBarCells - filled, '.') + "] ";
    line += PadLeft(std::to_string(percent) + "%", 4) + " ";
    line += FormatBytes(shown) + "/" + FormatBytes(size);
    // The last column stays free: writing into it makes some terminals wrap.
    if (line.size() + 2 > width) {
        return FitToWidth(line, width > 0 ? width - 1 : 0);
    }
    const std::string shownName = EscapeControls(name);
    return line + " " + FitToWidth(shownName, width - line.size() - 2);
}

ProgressBar::ProgressBar(std::FILE* stream, bool enabled) : stream_(stream), enabled_(enabled) {}

ProgressBar::~ProgressBar() {
    Clear();
}

void ProgressBar::ProgressInitialize(int count) {
    fileCount_ = count;
    filesDone_ = 0;
}

void ProgressBar::StepIt() {
    ++filesDone_;
    name_.clear();
    done_ = size_ = 0;
}

void ProgressBar::Report(int state, const EXTRACTINGINFOEX* record) {
    if (!enabled_ || record == nullptr) {
        return;
    }
    switch (state) {
        case ARC_PROGRESS_BEGIN:
            name_ = RecordText(record->source_file_name);
            if (const auto slash = name_.find_last_of('/'); slash != std::string::npos) {
                name_.erase(0, slash + 1);  // packing reports the whole path
            }
            size_ = record->file_size;
            done_ = 0;
            break;
        case ARC_PROGRESS_UPDATE:
            size_ = record->file_size;
            done_ = record->write_size;
            if (shown_ && Clock::now() - lastDraw_ < kRedrawInterval) {
                return;
            }
            break;
        case ARC_PROGRESS_END:
            size_ = record->file_size;
            done_ = size_;
            break;
        default:
            return;  // the file filter's selection messages carry no bytes
    }
    Draw();
}

void ProgressBar::Draw() {
    const int fileNumber = std::min(filesDone_ + 1, std::max(fileCount_, 1));
    const std::string line =
        FormatProgressLine(fileNumber, fileCount_, name_, done_, size_, TerminalColumns(stream_));
    if (shown_ && line == lastLine_) {
        return;
    }
    std::fputs(std::string(kEraseLine).c_str(), stream_);
    std::fputs(line.c_str(), stream_);
    std::fflush(stream_);
    lastLine_ = line;
    lastDraw_ = Clock::now();
    shown_ = true;
}

void ProgressBar::Clear() {
    if (!shown_) {
        return;
    }
    std::fputs(std::string(kEraseLine).c_str(), stream_);
    std::fflush(stream_);
    shown_ = false;
    lastLine_.clear();
}

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) == 1;
}

}  // namespace zembrat::cli
