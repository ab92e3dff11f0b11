// The commands of libcab32.so over the cabinet engine: -x, -t, -l, -a, -f, ExtractMem, the
// listing cursor and CheckArchive.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "archiver_api.h"
#include "cab/cab.h"
#include "cab32/cab32.h"
#include "cab32/request.h"
#include "common/failure.h"
#include "common/member_progress.h"
#include "common/output_text.h"
#include "common/record_fields.h"
#include "common/safe_path.h"
#include "export/guarded.h"
#include "export/member_problems.h"
#include "platform/file_time.h"

namespace zembrat::cab32 {

namespace {

using common::Failure;
using exports::Context;

constexpr const char* kStubName = "zembrat-cabsfx";

int ResultFor(cab::ErrorKind kind) {
    switch (kind) {
        case cab::ErrorKind::kArchive:
            return ARC_ERROR_BROKEN_ARCHIVE;
        case cab::ErrorKind::kMember:
            return ARC_ERROR_CRC;
        case cab::ErrorKind::kAborted:
            return ARC_ERROR_ABORTED;
    }
    return ARC_ERROR_INTERNAL;
}

int ResultFor(cab::Problem problem) {
    switch (problem) {
        case cab::Problem::kUnsafe:
            return ARC_ERROR_UNSAFE_PATH;
        case cab::Problem::kDamaged:
            return ARC_ERROR_CRC;
        case cab::Problem::kCannotWrite:
            return ARC_ERROR_CANNOT_WRITE;
        case cab::Problem::kKept:
            return ARC_WARNING_SKIPPED;
    }
    return ARC_ERROR_INTERNAL;
}

template <typename Command>
int Guarded(Context& context, Command command) {
    return exports::Guarded(context, command,
                            exports::DescribeEngineError<cab::Error>([](const cab::Error& error) {
                                return Failure(ResultFor(error.Kind()), error.what());
                            }));
}

// The attribute text of a listing: "rhsa-e" letters in the places of the bits set.
std::string AttributeText(std::uint32_t attributes) {
    std::string text = "------";
    const char* letters = "rhsaxu";
    const std::uint32_t bits[] = {cab::kAttributeReadOnly, cab::kAttributeHidden,
                                  cab::kAttributeSystem,   cab::kAttributeArchive,
                                  cab::kAttributeExecute,  cab::kAttributeUtf8Name};
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (attributes & bits[i]) {
            text[i] = letters[i];
        }
    }
    return text;
}

// Progress of one member to the owner window: BEGIN, UPDATE every 64 KiB, END.
class ProgressMeter {
  public:
    ProgressMeter(const common::ProgressReporter& reporter, const cab::Member& member,
                  const std::string& destination)
        : progress_(reporter, member.name, destination, member.size, member.mtime, member.method) {
        StopWhenAsked(progress_.Begin());
    }
    ~ProgressMeter() { (void)progress_.End(); }  // a stop asked for at the end changes nothing
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    bool Update(std::uint64_t done) {
        StopWhenAsked(progress_.Reach(done));
        return true;
    }

  private:
    static void StopWhenAsked(bool asked) {
        if (asked) {
            throw cab::Error(cab::ErrorKind::kAborted, "stopped at the owner window's request");
        }
    }

    common::MemberProgress progress_;
};

class Events final : public cab::ExtractEvents {
  public:
    Events(Context& context, const Request& request)
        : context_(context), request_(request), problems_(context.output) {}

    void Done(const cab::Member& member) override {
        meter_.reset();
        if (!request_.quiet) {
            context_.output.Line((request_.command == Command::kTest ? "ok " : "extracted ") +
                                 common::EscapeControlCharacters(member.name));
        }
    }

    void Failed(cab::Problem problem, const cab::Member& member,
                const std::string& reason) override {
        meter_.reset();
        problems_.Report(ResultFor(problem), member.name,
                         problem == cab::Problem::kKept ? reason + " (-o overwrites)" : reason);
    }

    cab::ProgressFn Progress(const cab::Member& member, const std::string& destination) override {
        if (!request_.progress || !context_.progress.Active()) {
            return {};
        }
        meter_.reset();
        meter_.emplace(context_.progress, member, destination);
        return [this](std::uint64_t done, std::uint64_t) { return meter_->Update(done); };
    }

    int Code() const { return problems_.Code(); }

  private:
    Context& context_;
    const Request& request_;
    exports::MemberProblems problems_;
    std::optional<ProgressMeter> meter_;
};

int Extract(const Request& request, Context& context) {
    cab::ExtractOptions options;
    options.folder = request.folder.empty() ? std::string("./") : request.folder;
    options.testOnly = request.command == Command::kTest;
    options.overwrite = request.overwrite;
    options.useFolders = !request.withoutFolders;
    options.select = [&request](const cab::Member& member) {
        return Selected(member.name, request);
    };
    options.host.note = exports::NoteLine(context);
    Events events(context, request);
    const cab::ExtractSummary summary = cab::Extract(request.archive, options, events);
    return exports::ExtractionResult(context.output, summary.selected, !request.names.empty(),
                                     events.Code());
}

std::vector<cab::Member> MembersOf(const std::string& archive) {
    try {
        return cab::ReadMembers(archive);
    } catch (const cab::Error& error) {
        throw Failure(ARC_ERROR_NOT_ARCHIVE, error.what());
    }
}

int List(const Request& request, Context& context) {
    const std::vector<cab::Member> members = MembersOf(request.archive);
    context.output.Line("        Size Attr   Method  Date       Time     Name");
    context.output.Line("------------ ------ ------- ---------- -------- ----");
    std::uint64_t total = 0, count = 0;
    for (const cab::Member& member : members) {
        if (!Selected(member.name, request)) {
            continue;
        }
        const auto time = platform::FileTimeToSystemTime(
            platform::FileTimeToLocalFileTime(platform::FileTimeFromUnix(member.mtime)));
        char line[128];
        std::snprintf(line, sizeof line, "%12" PRIu64 " %s %-7s %04d-%02d-%02d %02d:%02d:%02d ",
                      member.size, AttributeText(member.attributes).c_str(), member.method.c_str(),
                      time.year, time.month, time.day, time.hour, time.minute, time.second);
        context.output.Line(line + common::EscapeControlCharacters(member.name));
        total += member.size;
        ++count;
    }
    context.output.Line(std::to_string(count) + " members, " + std::to_string(total) + " bytes");
    return ARC_OK;
}

exports::ListedMember ToListed(const cab::Member& member) {
    exports::ListedMember listed;
    ARCHIVE_ENTRY_RECORD& record = listed.record;
    record.original_size = common::Clamp32(member.size);
    // A cabinet compresses whole folders: a member has no packed size of its own.
    record.compressed_size = common::Clamp32(member.size);
    record.ratio = member.size == 0 ? 0 : 1000;
    common::LocalDosTime(member.mtime, record.dos_date, record.dos_time);
    common::CopyToField(record.file_name, sizeof record.file_name, member.name);
    common::CopyToField(record.attribute, sizeof record.attribute,
                        AttributeText(member.attributes));
    common::CopyToField(record.method, sizeof record.method, member.method);
    listed.originalSize = member.size;
    listed.compressedSize = member.size;
    listed.writeTime = platform::FileTimeFromUnix(member.mtime);
    return listed;
}

class CabCursor final : public exports::ArchiveCursor {
  public:
    explicit CabCursor(std::vector<cab::Member> members) : members_(std::move(members)) {}

    void Restart() override { next_ = 0; }

    int Next(std::string_view mask, exports::ListedMember& listed) override {
        Request request;
        if (!(mask.empty() || mask == "*" || mask == "*.*")) {
            request.names.emplace_back(mask);
            std::replace(request.names.back().begin(), request.names.back().end(), '\\', '/');
        }
        while (next_ < members_.size()) {
            const cab::Member& member = members_[next_++];
            if (Selected(member.name, request)) {
                listed = ToListed(member);
                return 0;
            }
        }
        return exports::kNoMoreMembers;
    }

  private:
    std::vector<cab::Member> members_;
    std::size_t next_ = 0;
};

int ExtractToMemory(const Request& request, std::span<std::byte> buffer,
                    exports::MemoryResult& result) {
    if (request.names.empty()) {
        throw Failure(ARC_ERROR_BAD_COMMAND, "no member named");
    }
    cab::Reader reader(request.archive);
    while (auto member = reader.Next()) {
        if (!Selected(member->name, request)) {
            continue;
        }
        std::size_t stored = 0;
        reader.Extract([&](std::span<const std::byte> data) {
            const std::size_t take = std::min(buffer.size() - stored, data.size());
            std::memcpy(buffer.data() + stored, data.data(), take);
            stored += take;
        });
        result.written = static_cast<std::uint32_t>(stored);
        result.unixTime = member->mtime;
        result.attributes = static_cast<std::uint16_t>(member->attributes & 0x27);
        if (member->size > stored) {
            throw common::BufferTooSmall(stored, member->size);
        }
        return ARC_OK;
    }
    throw common::NoMemberMatches();
}

class PackEvents final : public cab::CreateEvents {
  public:
    PackEvents(Context& context, bool quiet)
        : context_(context), quiet_(quiet), problems_(context.output) {}
    void Added(const std::string& name) override {
        if (!quiet_) {
            context_.output.Line("added " + common::EscapeControlCharacters(name));
        }
    }
    void Failed(const std::string& name, const std::string& reason) override {
        problems_.Report(ARC_ERROR_CANNOT_READ, name, reason);
    }
    int Code() const { return problems_.Code(); }

  private:
    Context& context_;
    bool quiet_;
    exports::MemberProblems problems_;
};

int Add(const Request& request, Context& context) {
    if (request.names.empty()) {
        throw Failure(ARC_ERROR_BAD_COMMAND, "no files named to pack");
    }
    cab::CreateOptions options;
    options.baseFolder = request.folder;
    options.compression = request.stored ? cab::Compression::kStored : cab::Compression::kMszip;
    options.intoFolders = request.recurse;
    options.keepFolders = !request.withoutFolders;
    std::optional<ProgressMeter> meter;
    if (request.progress && context.progress.Active()) {
        cab::Member whole;
        whole.name = request.archive;
        meter.emplace(context.progress, whole, request.archive);
        options.progress = [&meter](std::uint64_t done, std::uint64_t) {
            return meter->Update(done);
        };
    }
    PackEvents events(context, request.quiet);
    cab::Create(request.archive, request.names, options, events);
    return events.Code();
}

std::string FindStub() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&FindStub), &info) == 0 || !info.dli_fname) {
        return {};
    }
    std::string folder = info.dli_fname;
    folder.erase(folder.find_last_of('/') + 1);
    for (const std::string& candidate :
         {folder + kStubName, folder + "../lib/zembrat/" + kStubName}) {
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

int MakeSfx(const Request& request, Context& context) {
    // Only a cabinet that reads whole becomes a program.
    Request test = request;
    test.command = Command::kTest;
    test.quiet = true;
    test.progress = false;
    test.names.clear();
    if (const int code = Extract(test, context); code != ARC_OK) {
        return code;
    }
    const std::string stub = FindStub();
    if (stub.empty()) {
        throw Failure(ARC_ERROR_CANNOT_READ, std::string("the self-extracting program ") +
                                                 kStubName +
                                                 " is not installed beside this library");
    }
    const std::string target = SfxName(request.archive, request.folder);
    if (!request.overwrite && ::access(target.c_str(), F_OK) == 0) {
        throw Failure(ARC_ERROR_CANNOT_WRITE,
                      common::EscapeControlCharacters(target) + " exists (-o replaces it)");
    }
    cab::MakeSelfExtracting(stub, request.archive, target);
    if (!request.quiet) {
        context.output.Line("made " + common::EscapeControlCharacters(target));
    }
    return ARC_OK;
}

class CabBackend final : public exports::Backend {
  public:
    std::string_view Family() const override { return "cab"; }

    int RunCommand(std::string_view commandLine, Context& context) override {
        return Guarded(context, [&] {
            const Request request = ParseLine(commandLine, false);
            switch (request.command) {
                case Command::kList:
                    return List(request, context);
                case Command::kAdd:
                    return Add(request, context);
                case Command::kSfx:
                    return MakeSfx(request, context);
                default:
                    return Extract(request, context);
            }
        });
    }

    std::unique_ptr<exports::ArchiveCursor> OpenArchive(const std::string& path,
                                                        std::uint32_t) override {
        try {
            return std::make_unique<CabCursor>(cab::ReadMembers(path));
        } catch (const std::exception&) {
            return nullptr;
        }
    }

    bool CheckArchive(const std::string& path, int mode) override {
        try {
            if ((mode & ARC_CHECK_DEPTH_MASK) < ARC_CHECK_FULL) {
                cab::ReadMembers(path);
                return true;
            }
            Request request;
            request.command = Command::kTest;
            request.archive = path;
            request.quiet = true;
            Context context;
            return Extract(request, context) == ARC_OK;
        } catch (const std::exception&) {
            return false;
        }
    }

    int ExtractToMemory(std::string_view commandLine, std::span<std::byte> buffer,
                        exports::MemoryResult& result, Context& context) override {
        return Guarded(context, [&] {
            return cab32::ExtractToMemory(ParseLine(commandLine, true), buffer, result);
        });
    }
};

}  // namespace

exports::Backend& CabSide() {
    static CabBackend backend;
    return backend;
}

}  // namespace zembrat::cab32
