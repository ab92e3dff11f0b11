#include "bga32/member_info.h"

#include <algorithm>
#include <array>

#include "common/failure.h"
#include "common/output_text.h"
#include "dos_time.h"

namespace zembrat::bga32 {

std::string MethodText(const bga::MemberHeader& header) {
    if (header.IsFolder() || header.IsStored()) {
        return "STORE";
    }
    return header.codec == bga::Codec::kGzip ? "GZIP" : "BZ2";
}

std::string AttributeText(std::uint8_t attributes) {
    std::string text = "----";
    const std::array<std::pair<std::uint8_t, char>, 4> bits = {
        {{0x10, 'd'}, {0x01, 'r'}, {0x02, 'h'}, {0x04, 's'}}};
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (attributes & bits[i].first) {
            text[i] = bits[i].second;
        }
    }
    return text;
}

std::uint32_t StoredCrc(int fd, const bga::Member& member) {
    const bga::MemberHeader& header = member.header;
    if (header.codec != bga::Codec::kGzip || header.IsStored() || header.IsFolder() ||
        header.compressedSize < 18) {
        return 0;
    }
    std::array<std::byte, 4> crc{};
    if (bga::ReadAt(fd, member.dataOffset + header.compressedSize - 8, crc) != crc.size()) {
        return 0;
    }
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | std::to_integer<std::uint32_t>(crc[static_cast<std::size_t>(i)]);
    }
    return value;
}

std::int64_t UnixTime(const bga::MemberHeader& header) {
    return lha::DosTimeToUnix(static_cast<std::uint32_t>(header.dosDate) << 16 | header.dosTime);
}

ProgressMeter::ProgressMeter(const common::ProgressReporter& reporter,
                             const bga::MemberHeader& header, const std::string& source,
                             const std::string& destination)
    : reporter_(reporter) {
    if (!reporter_.Active()) {
        return;
    }
    record_.file_size = header.originalSize;
    record_.compressed_size = header.compressedSize;
    record_.ratio = common::CompressionRatio(header.compressedSize, header.originalSize);
    record_.dos_date = header.dosDate;
    record_.dos_time = header.dosTime;
    common::CopyToField(record_.source_file_name, sizeof record_.source_file_name, source);
    common::CopyToField(record_.dest_file_name, sizeof record_.dest_file_name, destination);
    common::CopyToField(record_.attribute, sizeof record_.attribute,
                        AttributeText(header.attributes));
    common::CopyToField(record_.method, sizeof record_.method, MethodText(header));
    Send(ARC_PROGRESS_BEGIN);
}

void ProgressMeter::Send(unsigned state) {
    record_.write_size = static_cast<std::uint32_t>(std::min<std::uint64_t>(done_, 0xFFFFFFFFu));
    if (reporter_.Send(state, record_)) {
        throw common::Failure(ARC_ERROR_ABORTED, "stopped at the owner window's request");
    }
}

void ProgressMeter::Reach(std::uint64_t done) {
    done_ = done;
    if (reporter_.Active() && done_ - reported_ >= common::kProgressStep) {
        reported_ = done_;
        Send(ARC_PROGRESS_UPDATE);
    }
}

void ProgressMeter::Finish() {
    if (reporter_.Active()) {
        Send(ARC_PROGRESS_END);
    }
}

}  // namespace zembrat::bga32
