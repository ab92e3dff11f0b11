// The commands of libtar32.so over the tar-family engine: x, t, l, c, ExtractMem, the listing
// cursor, CheckArchive and the archive-type probe.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

#include "archiver_api.h"
#include "common/member_progress.h"
#include "common/output_text.h"
#include "common/safe_path.h"
#include "export/guarded.h"
#include "export/member_problems.h"
#include "platform/file_time.h"
#include "tar/tar.h"
#include "tar32/request.h"
#include "tar32/tar32.h"

namespace zembrat::tar32 {

namespace {

using exports::Context;

std::uint32_t Clamp32(std::uint64_t value) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFFFFFFu));
}

void LocalDosTime(std::int64_t unixSeconds, std::uint16_t& date, std::uint16_t& time) {
    platform::FileTimeToDosDateTime(
        platform::FileTimeToLocalFileTime(platform::FileTimeFromUnix(unixSeconds)), date, time);
}

int ResultFor(const tar::Error& error) {
    switch (error.Kind()) {
        case tar::ErrorKind::kArchive:
            return ARC_ERROR_BROKEN_ARCHIVE;
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

// tar::Error as a result code and reason, for exports::Guarded.
std::optional<common::Failure> DescribeTarError(const std::exception& error) {
    if (const auto* tarError = dynamic_cast<const tar::Error*>(&error)) {
        return common::Failure(ResultFor(*tarError), tarError->what());
    }
    return std::nullopt;
}

template <typename Run>
int Guarded(Context& context, Run run) {
    return exports::Guarded(context, run, DescribeTarError);
}

// Progress of one member to the owner window for as long as it lives: BEGIN, UPDATE, END.
class ProgressMeter {
  public:
    ProgressMeter(const common::ProgressReporter& reporter, const tar::Member& member,
                  const std::string& destination)
        : progress_(reporter, member.name, destination, member.size.value_or(0),
                    member.mtime.value_or(0)) {
        StopIf(progress_.Begin());
    }
    ~ProgressMeter() { (void)progress_.End(); }
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    bool Update(std::uint64_t done) {
        StopIf(progress_.Reach(done));
        return true;
    }

  private:
    static void StopIf(bool stopAsked) {
        if (stopAsked) {
            throw tar::Error(tar::ErrorKind::kAborted, "stopped at the owner window's request");
        }
    }

    common::MemberProgress progress_;
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
        problems_.Report(ResultFor(problem), member.name, reason);
    }

    tar::ProgressFn Progress(const tar::Member& member, const std::string& destination) override {
        if (!request_.showDialog) {
            return {};
        }
        meter_.emplace(context_.progress, member, destination);
        return [this](std::uint64_t done, std::uint64_t) { return meter_->Update(done); };
    }

    int Code() const { return problems_.Code(); }

  private:
    Context& context_;
    const Request& request_;
    exports::MemberProblems problems_{context_.output};
    std::optional<ProgressMeter> meter_;
};

int Extract(const Request& request, Context& context) {
    tar::ExtractOptions options;
    options.folder = request.folder.empty() ? std::string("./") : request.folder;
    options.testOnly = request.command == Command::kTest;
    options.overwrite = request.overwrite;
    options.keepPermissions = request.keepAttributes;
    options.useFolders = request.useFolders;
    options.select = [&request](const tar::Member& member) {
        return Selected(member.name, request);
    };
    options.fewMembers = !request.names.empty();
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
    tar::Reader reader(path);
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
    record.original_size = Clamp32(size);
    record.compressed_size = Clamp32(size);
    record.ratio = size == 0 ? 0 : 1000;
    LocalDosTime(member.mtime.value_or(0), record.dos_date, record.dos_time);
    common::CopyToField(
        record.file_name, sizeof record.file_name,
        member.kind == tar::MemberKind::kDirectory ? member.name + "/" : member.name);
    common::CopyToField(record.attribute, sizeof record.attribute, AttributeText(member));
    common::CopyToField(record.method, sizeof record.method, "-----");
    listed.originalSize = size;
    listed.compressedSize = size;
    if (member.mtime) {
        listed.writeTime = platform::FileTimeFromUnix(*member.mtime);
    }
    return listed;
}

int List(const Request& request, Context& context) {
    std::vector<tar::Member> members;
    try {
        members = ReadMembers(request.archive);
    } catch (const tar::Error& error) {
        throw Failure(ARC_ERROR_NOT_ARCHIVE, error.what());
    }
    context.output.Line("        Size Mode Date       Time     Name");
    context.output.Line("------------ ---- ---------- -------- ----");
    std::uint64_t total = 0, count = 0;
    for (const tar::Member& member : members) {
        if (!Selected(member.name, request)) {
            continue;
        }
        const auto time = platform::FileTimeToSystemTime(platform::FileTimeToLocalFileTime(
            platform::FileTimeFromUnix(member.mtime.value_or(0))));
        char line[96];
        std::snprintf(line, sizeof line, "%12" PRIu64 " %s%03o %04d-%02d-%02d %02d:%02d:%02d ",
                      member.size.value_or(0), AttributeText(member).c_str(), member.mode & 0777,
                      time.year, time.month, time.day, time.hour, time.minute, time.second);
        std::string text = line + common::EscapeControlCharacters(member.name);
        if (member.kind == tar::MemberKind::kSymlink || member.kind == tar::MemberKind::kHardlink) {
            text += " -> " + common::EscapeControlCharacters(member.linkTarget);
        }
        context.output.Line(text);
        total += member.size.value_or(0);
        ++count;
    }
    context.output.Line(std::to_string(count) + " members, " + std::to_string(total) + " bytes");
    return ARC_OK;
}

class TarCursor final : public exports::ArchiveCursor {
  public:
    explicit TarCursor(std::vector<tar::Member> members) : members_(std::move(members)) {}

    void Restart() override { next_ = 0; }

    int Next(std::string_view mask, exports::ListedMember& listed) override {
        Request request;
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
    if (request.names.empty()) {
        throw Failure(ARC_ERROR_BAD_COMMAND, "no member named");
    }
    tar::Reader reader(request.archive);
    while (auto member = reader.Next()) {
        if (member->kind != tar::MemberKind::kFile || !Selected(member->name, request)) {
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
            throw Failure(ARC_ERROR_BUFFER_TOO_SMALL, "the buffer holds " + std::to_string(stored) +
                                                          " of " + std::to_string(total) +
                                                          " bytes");
        }
        return ARC_OK;
    }
    throw Failure(ARC_ERROR_NO_FILES, "no member matches the name given");
}

class PackEvents final : public tar::CreateEvents {
  public:
    explicit PackEvents(Context& context) : context_(context) {}
    void Added(const std::string& name) override {
        context_.output.Line("added " + common::EscapeControlCharacters(name));
    }
    void Failed(const std::string& name, const std::string& reason) override {
        outcome_.Note(ARC_ERROR_CANNOT_READ);
        context_.output.FirstLine(common::EscapeControlCharacters(name) + ": " + reason);
    }
    int Code() const { return outcome_.Code(); }

  private:
    Context& context_;
    exports::Outcome outcome_;
};

int Create(const Request& request, Context& context) {
    if (request.names.empty()) {
        throw Failure(ARC_ERROR_BAD_COMMAND, "no files named to pack");
    }
    tar::CreateOptions options;
    options.baseFolder = request.folder;
    options.filter = request.compression == Compression::kGzip    ? tar::Filter::kGzip
                     : request.compression == Compression::kBzip2 ? tar::Filter::kBzip2
                                                                  : tar::Filter::kNone;
    options.level = request.level;
    PackEvents events(context);
    try {
        tar::Create(request.archive, request.names, options, events);
    } catch (const std::runtime_error& error) {
        throw Failure(ARC_ERROR_CANNOT_WRITE, error.what());
    }
    return events.Code();
}

class TarBackend final : public exports::Backend {
  public:
    std::string_view Family() const override { return "tar"; }

    int RunCommand(std::string_view commandLine, Context& context) override {
        return Guarded(context, [&] {
            const Request request = ParseLine(commandLine, false);
            switch (request.command) {
                case Command::kList:
                    return List(request, context);
                case Command::kCreate:
                    return Create(request, context);
                default:
                    return Extract(request, context);
            }
        });
    }

    std::unique_ptr<exports::ArchiveCursor> OpenArchive(const std::string& path,
                                                        std::uint32_t) override {
        try {
            return std::make_unique<TarCursor>(ReadMembers(path));
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
            request.showDialog = false;
            Context context;
            return Extract(request, context) == ARC_OK;
        } catch (const std::exception&) {
            return false;
        }
    }

    int ExtractToMemory(std::string_view commandLine, std::span<std::byte> buffer,
                        exports::MemoryResult& result, Context& context) override {
        return Guarded(context, [&] {
            return tar32::ExtractToMemory(ParseLine(commandLine, true), buffer, result);
        });
    }
};

// The compressor a file starts with, by its magic bytes.
enum class Filter { kNone, kGzip, kCompress, kBzip2, kXz, kLzma, kZstd };

Filter FilterOf(const std::string& path) {
    const std::string text = tar::FileHead(path, 6);
    const auto* head = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t got = text.size();
    if (got < 3) {
        return Filter::kNone;
    }
    if (head[0] == 0x1f && head[1] == 0x8b) {
        return Filter::kGzip;
    }
    if (head[0] == 0x1f && head[1] == 0x9d) {
        return Filter::kCompress;
    }
    if (head[0] == 'B' && head[1] == 'Z' && head[2] == 'h') {
        return Filter::kBzip2;
    }
    if (got == 6 && std::memcmp(head,
                                "\xFD"
                                "7zXZ\0",
                                6) == 0) {
        return Filter::kXz;
    }
    if (got >= 4 && head[0] == 0x28 && head[1] == 0xB5 && head[2] == 0x2F && head[3] == 0xFD) {
        return Filter::kZstd;
    }
    if (head[0] == 0x5D && head[1] == 0 && head[2] == 0) {
        return Filter::kLzma;
    }
    return Filter::kNone;
}

}  // namespace

exports::Backend& TarSide() {
    static TarBackend backend;
    return backend;
}

int GetArchiveType(const std::string& path) {
    bool lone = false;
    try {
        tar::Reader reader(path);
        const auto first = reader.Next();
        // An empty file reads as an empty archive; only a real end block counts.
        if (!first && tar::FileHead(path, 1).empty()) {
            return kNotOurs;
        }
        lone = first && first->lone;
    } catch (const std::exception&) {
        return kNotOurs;
    }
    switch (FilterOf(path)) {
        case Filter::kNone:
            return kTar;
        case Filter::kGzip:
            return lone ? kGzipFile : kGzipTar;
        case Filter::kCompress:
            return lone ? kCompressFile : kCompressTar;
        case Filter::kBzip2:
            return lone ? kBzip2File : kBzip2Tar;
        case Filter::kXz:
            return kXz;
        case Filter::kLzma:
            return kLzma;
        case Filter::kZstd:
            return kZstd;
    }
    return kNotOurs;
}

}  // namespace zembrat::tar32
