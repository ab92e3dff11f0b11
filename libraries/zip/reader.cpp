#include "archive_host/engine_calls.h"
#include "common/name_encoding.h"
#include "zip/zip.h"

namespace zembrat::zip {

namespace {

// libarchive names a member's format "ZIP 2.0 (deflation)": the method is in the parentheses.
std::string MethodOf(std::string_view formatName) {
    const auto open = formatName.rfind('(');
    const auto close = formatName.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return std::string(formatName);
    }
    return std::string(formatName.substr(open + 1, close - open - 1));
}

// The helper runs the decoder in a UTF-8 locale: names with the UTF-8 flag or a Unicode path
// field come as UTF-8, others as stored. Those are CP932 unless they are valid UTF-8 (the
// common name decoding, as for a Unix-made name), and Latin-1 when they are neither.
std::string HostName(std::string_view stored) {
    return common::DecodeStoredName(stored, false, 'U');
}

}  // namespace

Reader::Reader(const std::string& archivePath, ReaderOptions options) try
    : host_(archivePath, "zip", options.host) {
} catch (const archive_host::HostError& error) {
    throw Error(ErrorKind::kArchive, error.what());
}

Reader::~Reader() = default;

std::optional<Member> Reader::Next() {
    const auto next = archive_host::CallHost<Error>([&] { return host_.Next(); });
    current_.reset();
    if (!next) {
        return std::nullopt;
    }
    Member member;
    static_cast<archive_host::MemberFields&>(member) =
        archive_host::ToMemberFields(*next, HostName, archive_host::TargetRule::kSymlinks);
    member.method = MethodOf(next->formatName);
    current_ = member;
    return member;
}

void Reader::Extract(DataSink& sink, const ProgressFn& progress) {
    const Member member = archive_host::TakeCurrent<Error>(current_);
    if (!member.error.empty()) {
        throw Error(ErrorKind::kMember, member.error);
    }
    if (member.encrypted) {
        throw Error(ErrorKind::kMember, "encrypted member, not supported");
    }
    // The helper stops a member at its declared size; the count holds even if it did not.
    archive_host::MemberDataCount<Error> count(member.size, progress);
    archive_host::CallHost<Error>([&] {
        host_.ReadData([&](std::span<const std::byte> data) {
            count.Add(data.size());
            sink.Write(data);
            count.Report();
        });
    });
}

}  // namespace zembrat::zip
