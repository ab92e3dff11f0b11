#include "tar/library_side.h"

#include <algorithm>
#include <cstring>

#include "archiver_api.h"
#include "common/failure.h"
#include "common/member_progress.h"
#include "common/output_text.h"
#include "common/record_fields.h"
#include "common/safe_path.h"
#include "platform/file_time.h"

namespace zembrat::tar {

int ResultFor(const Error& error) {
    switch (error.Kind()) {
        case ErrorKind::kArchive:
            return ARC_ERROR_BROKEN_ARCHIVE;
        case ErrorKind::kMember:
            return ARC_ERROR_CRC;
        case ErrorKind::kAborted:
            return ARC_ERROR_ABORTED;
    }
    return ARC_ERROR_INTERNAL;
}

int ResultFor(Problem problem) {
    switch (problem) {
        case Problem::kUnsafe:
            return ARC_ERROR_UNSAFE_PATH;
        case Problem::kNotCreated:
            return ARC_ERROR_NOT_REGULAR;
        case Problem::kDamaged:
            return ARC_ERROR_CRC;
        case Problem::kCannotWrite:
            return ARC_ERROR_CANNOT_WRITE;
        case Problem::kKept:
            return ARC_WARNING_SKIPPED;
    }
    return ARC_ERROR_INTERNAL;
}

std::string AttributeText(const Member& member) {
    switch (member.kind) {
        case MemberKind::kDirectory:
            return "d";
        case MemberKind::kSymlink:
            return "l";
        case MemberKind::kHardlink:
            return "h";
        case MemberKind::kOther:
            return "c";
        case MemberKind::kFile:
            break;
    }
    return "-";
}

exports::ListedMember ToListed(const Member& member, std::string_view method) {
    exports::ListedMember listed;
    ARCHIVE_ENTRY_RECORD& record = listed.record;
    const std::uint64_t size = member.size.value_or(0);
    record.original_size = common::Clamp32(size);
    record.compressed_size = common::Clamp32(size);
    record.ratio = size == 0 ? 0 : 1000;
    common::LocalDosTime(member.mtime.value_or(0), record.dos_date, record.dos_time);
    common::CopyToField(record.file_name, sizeof record.file_name,
                        member.kind == MemberKind::kDirectory ? member.name + "/" : member.name);
    common::CopyToField(record.attribute, sizeof record.attribute, AttributeText(member));
    common::CopyToField(record.method, sizeof record.method, method);
    listed.originalSize = size;
    listed.compressedSize = size;
    if (member.lone && !member.size) {
        // A lone compressed file whose size its wrapper does not tell for certain.
        record.original_size = record.compressed_size = 0xFFFFFFFF;
        record.ratio = 0;
        listed.originalSize = listed.compressedSize = ARC_SIZE_UNKNOWN;
    }
    if (member.mtime) {
        listed.writeTime = platform::FileTimeFromUnix(*member.mtime);
    }
    return listed;
}

// Progress of one member to the owner window, from BEGIN when made to END when dropped; the
// owner's request to stop ends the extraction as an error.
class LibraryEvents::Meter {
  public:
    Meter(const common::ProgressReporter& reporter, const Member& member,
          const std::string& destination, std::string_view method)
        : progress_(reporter, member.name, destination, member.size.value_or(0),
                    member.mtime.value_or(0), method) {
        StopIfAsked(progress_.Begin());
    }
    ~Meter() { static_cast<void>(progress_.End()); }
    Meter(const Meter&) = delete;
    Meter& operator=(const Meter&) = delete;

    bool Update(std::uint64_t done) {
        StopIfAsked(progress_.Reach(done));
        return true;
    }

  private:
    static void StopIfAsked(bool stop) {
        if (stop) {
            throw Error(ErrorKind::kAborted, "stopped at the owner window's request");
        }
    }

    common::MemberProgress progress_;
};

LibraryEvents::LibraryEvents(exports::Context& context, EventSettings settings)
    : context_(context), settings_(std::move(settings)) {}

LibraryEvents::~LibraryEvents() = default;

void LibraryEvents::Done(const Member& member) {
    meter_.reset();
    context_.output.Line((settings_.testing ? "ok " : "extracted ") +
                         common::EscapeControlCharacters(member.name));
}

void LibraryEvents::Failed(Problem problem, const Member& member, const std::string& reason) {
    meter_.reset();
    const int code = ResultFor(problem);
    outcome_.Note(code);
    const std::string line = common::EscapeControlCharacters(member.name) + ": " +
                             (settings_.explain ? settings_.explain(reason) : reason);
    if (code == ARC_WARNING_SKIPPED || firstWritten_) {
        context_.output.Line(line);
    } else {
        context_.output.FirstLine(line);
        firstWritten_ = true;
    }
}

ProgressFn LibraryEvents::Progress(const Member& member, const std::string& destination) {
    if (!settings_.progress) {
        return {};
    }
    meter_.reset();
    meter_ = std::make_unique<Meter>(context_.progress, member, destination, settings_.method);
    return [this](std::uint64_t done, std::uint64_t) { return meter_->Update(done); };
}

MemberCursor::MemberCursor(std::vector<Member> members, std::string method, Selects selects)
    : members_(std::move(members)), method_(std::move(method)), selects_(std::move(selects)) {}

int MemberCursor::Next(std::string_view mask, exports::ListedMember& listed) {
    const bool every = mask.empty() || mask == "*" || mask == "*.*";
    while (next_ < members_.size()) {
        const Member& member = members_[next_++];
        if (every || selects_(member.name, mask)) {
            listed = ToListed(member, method_);
            return 0;
        }
    }
    return exports::kNoMoreMembers;
}

std::unique_ptr<exports::ArchiveCursor> OpenCursor(const std::function<std::vector<Member>()>& read,
                                                   std::string method,
                                                   MemberCursor::Selects selects) {
    try {
        return std::make_unique<MemberCursor>(read(), std::move(method), std::move(selects));
    } catch (const std::exception&) {
        return nullptr;
    }
}

bool CheckArchive(int mode, const std::function<void()>& readHeaders,
                  const std::function<bool()>& decodeAll) {
    try {
        if ((mode & ARC_CHECK_DEPTH_MASK) < ARC_CHECK_FULL) {
            readHeaders();
            return true;
        }
        return decodeAll();
    } catch (const std::exception&) {
        return false;
    }
}

int ExtractFirstToMemory(Reader& reader, const std::function<bool(const Member&)>& selects,
                         std::span<std::byte> buffer, exports::MemoryResult& result) {
    while (auto member = reader.Next()) {
        if (member->kind != MemberKind::kFile || !selects(*member)) {
            continue;
        }
        std::size_t stored = 0;
        std::uint64_t total = 0;
        reader.Extract([&](std::span<const std::byte> data) {
            const std::size_t take = std::min(buffer.size() - stored, data.size());
            std::memcpy(buffer.data() + stored, data.data(), take);
            stored += take;
            total += data.size();
        });
        result.written = static_cast<std::uint32_t>(stored);
        result.unixTime = member->mtime.value_or(0);
        result.attributes = (member->mode & 0200) == 0 ? 0x21 : 0x20;
        if (total > stored) {
            throw common::BufferTooSmall(stored, total);
        }
        return ARC_OK;
    }
    throw common::NoMemberMatches();
}

}  // namespace zembrat::tar
