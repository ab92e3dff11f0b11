#include <algorithm>

#include "container.h"
#include "zip/zip.h"

namespace zembrat::zip {

struct ExistingArchive::State {
    ParsedArchive archive;
    std::vector<ExistingMember> infos;
};

ExistingArchive::ExistingArchive(const std::string& path) : state_(std::make_unique<State>()) {
    state_->archive = ParseArchive(path);
    state_->infos.reserve(state_->archive.members.size());
    for (const ParsedMember& member : state_->archive.members) {
        state_->infos.push_back(member.info);
    }
}

ExistingArchive::~ExistingArchive() = default;

const std::vector<ExistingMember>& ExistingArchive::Members() const {
    return state_->infos;
}

const CentralEntry& ExistingArchive::Central(std::size_t index) const {
    return state_->archive.members.at(index).central;
}

std::uint64_t ExistingArchive::ArchiveStart() const {
    return state_->archive.archiveStart;
}

std::size_t ExistingArchive::Parts() const {
    return state_->archive.bytes->Parts();
}

void ExistingArchive::StreamRange(
    std::uint64_t start, std::uint64_t length,
    const std::function<void(std::span<const std::byte>)>& out) const {
    std::vector<std::byte> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(length, 1 << 20)));
    for (std::uint64_t done = 0; done < length;) {
        const auto piece = std::span(buffer).first(
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - done)));
        state_->archive.bytes->ReadInto(start + done, piece);
        out(piece);
        done += piece.size();
    }
}

void ExistingArchive::CopyRaw(std::size_t index,
                              const std::function<void(std::span<const std::byte>)>& out) const {
    const ParsedMember& member = state_->archive.members.at(index);
    StreamRange(member.start, member.length, out);
}

void ExistingArchive::ReadData(std::size_t index,
                               const std::function<void(std::span<const std::byte>)>& out) const {
    const ParsedMember& member = state_->archive.members.at(index);
    StreamRange(member.dataStart, member.central.compressedSize, out);
}

}  // namespace zembrat::zip
