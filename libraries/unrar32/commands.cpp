// The commands of libunrar32.so over the tar-family engine, which reads RAR through the
// helper process: extraction with and without folders, test, ExtractMem, the listing
// cursor and CheckArchive.
#include <algorithm>
#include <cstring>
#include <new>

#include "archiver_api.h"
#include "common/failure.h"
#include "common/output_text.h"
#include "common/safe_path.h"
#include "platform/file_time.h"
#include "tar/tar.h"
#include "unrar32/request.h"
#include "unrar32/unrar32.h"
#include "unrar32/volumes.h"

namespace zembrat::unrar32 {

namespace {

using common::Failure;
using exports::Context;

constexpr std::string_view kDecoderSetup = "rar";

std::uint32_t Clamp32(std::uint64_t value) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFFFFFFu));
}

void LocalDosTime(std::int64_t unixSeconds, std::uint16_t& date, std::uint16_t& time) {
    platform::FileTimeToDosDateTime(
        platform::FileTimeToLocalFileTime(platform::FileTimeFromUnix(unixSeconds)), date, time);
}

// The decoder's words for what it cannot read, as this library reports them.
std::string Plain(const std::string& reason) {
    std::string lower = reason;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.find("encrypt") != std::string::npos || lower.find("password") != std::string::npos) {
        return "encrypted, not supported (" + reason + ")";
    }
    return reason;
}

// The helper's options for an archive: the volumes that continue it. A volume that the last
// one found says follows, but is not there, ends the archive before anything is read.
archive_host::HostOptions HostFor(const std::string& archive) {
    VolumeSet volumes = FindVolumes(archive);
    if (!volumes.missing.empty()) {
        throw Failure(ARC_ERROR_CANNOT_READ,
                      "the volume " + common::EscapeControlCharacters(volumes.missing) +
                          " is missing (the set continues after " +
                          common::EscapeControlCharacters(
                              volumes.more.empty() ? archive : volumes.more.back()) +
                          ")");
    }
    archive_host::HostOptions options;
    options.moreVolumes = std::move(volumes.more);
    return options;
}

int ResultFor(const tar::Error& error) {
    switch (error.Kind()) {
        case tar::ErrorKind::kArchive:
            // The older format's decoder ends the archive at a member's failed CRC.
            return std::string_view(error.what()).find("CRC error") != std::string_view::npos
                       ? ARC_ERROR_CRC
                       : ARC_ERROR_BROKEN_ARCHIVE;
        case tar::ErrorKind::kMember:
            return ARC_ERROR_CRC;
        case tar::ErrorKind::kAborted:
            return ARC_ERROR_ABORTED;
    }
    return ARC_ERROR_INTERNAL;
}

int ResultFor(tar::Problem problem) {
    switch (problem) {
        case tar::Problem::kUnsafe:
            return ARC_ERROR_UNSAFE_PATH;
        case tar::Problem::kNotCreated:
            return ARC_ERROR_NOT_REGULAR;
        case tar::Problem::kDamaged:
            return ARC_ERROR_CRC;
        case tar::Problem::kCannotWrite:
            return ARC_ERROR_CANNOT_WRITE;
        case tar::Problem::kKept:
            return ARC_WARNING_SKIPPED;
    }
    return ARC_ERROR_INTERNAL;
}

// Runs one command; every failure becomes its code with the reason as the first line.
template <typename Run>
int Guarded(Context& context, Run run) {
    try {
        return run();
    } catch (const Failure& failure) {
        context.output.FirstLine(failure.what());
        return failure.Code();
    } catch (const tar::Error& error) {
        context.output.FirstLine(Plain(error.what()));
        return ResultFor(error);
    } catch (const std::bad_alloc&) {
        context.output.FirstLine("out of memory");
        return ARC_ERROR_NO_MEMORY;
    } catch (const std::exception& error) {
        context.output.FirstLine(std::string("internal error: ") + error.what());
        return ARC_ERROR_INTERNAL;
    }
}

// Progress of one member to the owner window: BEGIN, UPDATE every 64 KiB, END.
class ProgressMeter {
  public:
    ProgressMeter(const common::ProgressReporter& reporter, const tar::Member& member,
                  const std::string& destination)
        : reporter_(reporter) {
        record_.file_size = Clamp32(member.size.value_or(0));
        common::CopyToField(record_.source_file_name, sizeof record_.source_file_name, member.name);
        common::CopyToField(record_.dest_file_name, sizeof record_.dest_file_name, destination);
        common::CopyToField(record_.method, sizeof record_.method, "RAR");
        LocalDosTime(member.mtime.value_or(0), record_.dos_date, record_.dos_time);
        Send(ARC_PROGRESS_BEGIN);
    }
    ~ProgressMeter() {
        if (reporter_.Active()) {
            record_.write_size = Clamp32(done_);
            reporter_.Send(ARC_PROGRESS_END, record_);
        }
    }
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    bool Update(std::uint64_t done) {
        done_ = done;
        if (done_ - reported_ >= common::kProgressStep) {
            reported_ = done_;
            Send(ARC_PROGRESS_UPDATE);
        }
        return true;
    }

  private:
    void Send(unsigned state) {
        if (!reporter_.Active()) {
            return;
        }
        record_.write_size = Clamp32(done_);
        if (reporter_.Send(state, record_)) {
            throw tar::Error(tar::ErrorKind::kAborted, "stopped at the owner window's request");
        }
    }

    const common::ProgressReporter& reporter_;
    EXTRACTINGINFOEX record_{};
    std::uint64_t done_ = 0;
    std::uint64_t reported_ = 0;
};

class Events final : public tar::ExtractEvents {
  public:
    Events(Context& context, const Request& request) : context_(context), request_(request) {}

    void Done(const tar::Member& member) override {
        meter_.reset();
        context_.output.Line((request_.command == Command::kTest ? "ok " : "extracted ") +
                             common::EscapeControlCharacters(member.name));
    }

    void Failed(tar::Problem problem, const tar::Member& member,
                const std::string& reason) override {
        meter_.reset();
        const int code = ResultFor(problem);
        outcome_.Note(code);
        const std::string line =
            common::EscapeControlCharacters(member.name) + ": " + Plain(reason);
        if (code == ARC_WARNING_SKIPPED || firstWritten_) {
            context_.output.Line(line);
        } else {
            context_.output.FirstLine(line);
            firstWritten_ = true;
        }
    }

    tar::ProgressFn Progress(const tar::Member& member, const std::string& destination) override {
        meter_.emplace(context_.progress, member, destination);
        return [this](std::uint64_t done, std::uint64_t) { return meter_->Update(done); };
    }

    int Code() const { return outcome_.Code(); }

  private:
    Context& context_;
    const Request& request_;
    exports::Outcome outcome_;
    bool firstWritten_ = false;
    std::optional<ProgressMeter> meter_;
};

int Extract(const Request& request, Context& context) {
    tar::ExtractOptions options;
    options.folder = request.folder.empty() ? std::string("./") : request.folder;
    options.testOnly = request.command == Command::kTest;
    options.overwrite = request.overwrite;
    options.onlyNotOlder = request.onlyNotOlder;
    options.useFolders = request.command != Command::kExtractFlat;
    options.select = [&request](const tar::Member& member) {
        return Selected(member.name, request);
    };
    options.format = kDecoderSetup;
    options.host = HostFor(request.archive);
    Events events(context, request);
    const tar::ExtractSummary summary = tar::Extract(request.archive, options, events);
    if (summary.selected == 0 && !request.names.empty()) {
        context.output.FirstLine("no member matches the names given");
        return ARC_ERROR_NO_FILES;
    }
    return events.Code();
}

std::vector<tar::Member> ReadMembers(const std::string& path) {
    std::vector<tar::Member> members;
    tar::Reader reader(path, HostFor(path), kDecoderSetup);
    while (auto member = reader.Next()) {
        members.push_back(std::move(*member));
    }
    return members;
}

std::string AttributeText(const tar::Member& member) {
    switch (member.kind) {
        case tar::MemberKind::kDirectory:
            return "d";
        case tar::MemberKind::kSymlink:
            return "l";
        case tar::MemberKind::kHardlink:
            return "h";
        case tar::MemberKind::kOther:
            return "c";
        case tar::MemberKind::kFile:
            break;
    }
    return "-";
}

exports::ListedMember ToListed(const tar::Member& member) {
    exports::ListedMember listed;
    ARCHIVE_ENTRY_RECORD& record = listed.record;
    const std::uint64_t size = member.size.value_or(0);
    // The decoder does not tell a member's packed size: the original size stands for it.
    record.original_size = Clamp32(size);
    record.compressed_size = Clamp32(size);
    record.ratio = size == 0 ? 0 : 1000;
    LocalDosTime(member.mtime.value_or(0), record.dos_date, record.dos_time);
    common::CopyToField(
        record.file_name, sizeof record.file_name,
        member.kind == tar::MemberKind::kDirectory ? member.name + "/" : member.name);
    common::CopyToField(record.attribute, sizeof record.attribute, AttributeText(member));
    common::CopyToField(record.method, sizeof record.method, "RAR");
    listed.originalSize = size;
    listed.compressedSize = size;
    if (member.mtime) {
        listed.writeTime = platform::FileTimeFromUnix(*member.mtime);
    }
    return listed;
}

class RarCursor final : public exports::ArchiveCursor {
  public:
    explicit RarCursor(std::vector<tar::Member> members) : members_(std::move(members)) {}

    void Restart() override { next_ = 0; }

    int Next(std::string_view mask, exports::ListedMember& listed) override {
        Request request;
        request.wholePath = true;
        if (!(mask.empty() || mask == "*" || mask == "*.*")) {
            request.names.emplace_back(mask);
        }
        while (next_ < members_.size()) {
            const tar::Member& member = members_[next_++];
            if (Selected(member.name, request)) {
                listed = ToListed(member);
                return 0;
            }
        }
        return exports::kNoMoreMembers;
    }

  private:
    std::vector<tar::Member> members_;
    std::size_t next_ = 0;
};

int ExtractToMemory(const Request& request, std::span<std::byte> buffer,
                    exports::MemoryResult& result) {
    tar::Reader reader(request.archive, HostFor(request.archive), kDecoderSetup);
    while (auto member = reader.Next()) {
        if (member->kind != tar::MemberKind::kFile || !Selected(member->name, request)) {
            continue;
        }
        if (!member->error.empty() || member->encrypted) {
            throw Failure(ARC_ERROR_CRC,
                          Plain(member->encrypted ? "encrypted member" : member->error));
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
            throw Failure(ARC_ERROR_BUFFER_TOO_SMALL, "the buffer holds " + std::to_string(stored) +
                                                          " of " + std::to_string(total) +
                                                          " bytes");
        }
        return ARC_OK;
    }
    throw Failure(ARC_ERROR_NO_FILES, "no member matches the name given");
}

class UnrarBackend final : public exports::Backend {
  public:
    std::string_view Family() const override { return "rar"; }

    int RunCommand(std::string_view commandLine, Context& context) override {
        return Guarded(context, [&] { return Extract(ParseLine(commandLine, false), context); });
    }

    std::unique_ptr<exports::ArchiveCursor> OpenArchive(const std::string& path,
                                                        std::uint32_t) override {
        try {
            return std::make_unique<RarCursor>(ReadMembers(path));
        } catch (const std::exception&) {
            return nullptr;
        }
    }

    bool CheckArchive(const std::string& path, int mode) override {
        try {
            if ((mode & 0x0F) < ARC_CHECK_FULL) {
                ReadMembers(path);
                return true;
            }
            Request request;
            request.command = Command::kTest;
            request.archive = path;
            Context context;
            return Extract(request, context) == ARC_OK;
        } catch (const std::exception&) {
            return false;
        }
    }

    int ExtractToMemory(std::string_view commandLine, std::span<std::byte> buffer,
                        exports::MemoryResult& result, Context& context) override {
        return Guarded(context, [&] {
            return unrar32::ExtractToMemory(ParseLine(commandLine, true), buffer, result);
        });
    }
};

}  // namespace

exports::Backend& UnrarSide() {
    static UnrarBackend backend;
    return backend;
}

}  // namespace zembrat::unrar32
