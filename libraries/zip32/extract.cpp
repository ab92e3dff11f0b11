// -x, -t and ExtractMem: members out of an archive through the engine's reader (in process,
// or through the helper process for what our decoders do not read), never outside the destination
// and never half-written under a final name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "archiver_api.h"
#include "common/member_file.h"
#include "common/safe_path.h"
#include "export/member_problems.h"
#include "platform/path.h"
#include "zip32/operations.h"

namespace zembrat::zip32 {

namespace {

using zip::MemberKind;

constexpr const char* kKept = "kept the existing file (-o overwrites)";

std::string Escaped(std::string_view name) {
    return common::EscapeControlCharacters(name);
}

class MemberSink final : public zip::DataSink {
  public:
    explicit MemberSink(common::MemberFile& file) : file_(file) {}
    void Write(std::span<const std::byte> data) override { file_.Write(data); }

  private:
    common::MemberFile& file_;
};

class NullSink final : public zip::DataSink {
  public:
    void Write(std::span<const std::byte>) override {}
};

// Keeps what fits in the caller's buffer and counts the rest.
class BufferSink final : public zip::DataSink {
  public:
    explicit BufferSink(std::span<std::byte> buffer) : buffer_(buffer) {}
    void Write(std::span<const std::byte> data) override {
        const std::size_t room = buffer_.size() - stored_;
        const std::size_t take = std::min(room, data.size());
        std::memcpy(buffer_.data() + stored_, data.data(), take);
        stored_ += take;
        total_ += data.size();
    }
    std::size_t Stored() const { return stored_; }
    std::uint64_t Total() const { return total_; }

  private:
    std::span<std::byte> buffer_;
    std::size_t stored_ = 0;
    std::uint64_t total_ = 0;
};

timespec AtSecond(std::int64_t seconds) {
    timespec time{};
    time.tv_sec = static_cast<time_t>(seconds);
    return time;
}

struct FolderTime {
    std::string path;
    std::int64_t mtime;
    unsigned mode;
};

class Extractor {
  public:
    Extractor(const Request& request, Context& context)
        : request_(request),
          context_(context),
          testOnly_(request.command == Command::kTest),
          target_(request.folder.empty() ? std::string("./") : request.folder),
          umask_(common::ProcessUmask()),
          problems_(context.output) {}

    int Run() {
        zip::ReaderOptions options;
        options.host.note = exports::NoteLine(context_);
        zip::Reader reader(request_.archive, options);
        if (!reader.InProcess()) {
            NoteMembersMadeOnUnix();
        }
        std::string reason;
        if (!testOnly_ && !target_.CreateFolder(reason)) {
            throw Failure(ARC_ERROR_CANNOT_WRITE, reason);
        }
        std::size_t chosen = 0;
        std::size_t seen = 0;
        try {
            while (auto member = reader.Next()) {
                ++seen;
                if (!Selected(member->name, request_.names)) {
                    continue;
                }
                ++chosen;
                if (testOnly_) {
                    TestOne(reader, *member);
                } else if (member->madeOnUnix) {
                    ExtractOne(
                        reader, *member,
                        *member->madeOnUnix ? common::NameRules::kUnix : common::NameRules::kDos);
                } else if (auto unixName = UnixNameOf(seen - 1, member->name)) {
                    zip::Member named = *member;
                    named.name = std::move(*unixName);
                    ExtractOne(reader, named, common::NameRules::kUnix);
                } else {
                    ExtractOne(reader, *member, common::NameRules::kDos);
                }
            }
        } catch (...) {
            ApplyFolderTimes();
            throw;
        }
        ApplyFolderTimes();
        if (seen == 0) {
            RequireEmptyArchive();
        }
        if (chosen == 0 && !request_.names.empty()) {
            problems_.NoneMatched();
        } else if (testOnly_ && problems_.Code() == 0) {
            context_.output.Line(std::to_string(chosen) + " members tested, no errors");
        } else if (testOnly_) {
            context_.output.FirstLine("the archive has damaged members");
        }
        return problems_.Code();
    }

  private:
    // A name made on Unix holds '\\' as an ordinary character; from MS-DOS and Windows it is a
    // folder delimiter. Read in process, each member says which; the helper's decoder neither tells
    // where a member was made nor keeps a '\\' in a name: the central directory does both, in the
    // same order. A directory our parser cannot read leaves every name to the decoder and the DOS
    // rules.
    void NoteMembersMadeOnUnix() {
        try {
            const zip::ExistingArchive archive(request_.archive);
            for (const zip::ExistingMember& member : archive.Members()) {
                unixNames_.push_back(member.mode != 0 ? std::optional(member.name) : std::nullopt);
            }
        } catch (const zip::Error&) {
        }
    }

    // The name made on Unix for the member at index, when the decoder's name is that name
    // with its backslashes turned into slashes.
    std::optional<std::string> UnixNameOf(std::size_t index, const std::string& decoded) const {
        if (index >= unixNames_.size() || !unixNames_[index]) {
            return std::nullopt;
        }
        std::string slashed = *unixNames_[index];
        std::replace(slashed.begin(), slashed.end(), '\\', '/');
        return slashed == decoded ? unixNames_[index] : std::nullopt;
    }

    // The decoder reads no member from an archive whose directory is damaged, as from an
    // empty one: only a sound empty directory is taken for empty.
    void RequireEmptyArchive() const {
        try {
            const zip::ExistingArchive archive(request_.archive);
            if (archive.Members().empty()) {
                return;
            }
        } catch (const zip::Error& error) {
            throw Failure(ARC_ERROR_BROKEN_ARCHIVE,
                          std::string(error.what()) + " (-FF on the zip side salvages it)");
        }
        throw Failure(ARC_ERROR_BROKEN_ARCHIVE, "damaged archive: no member could be read");
    }

    void Say(const std::string& line) {
        if (!request_.options.quiet) {
            context_.output.Line(line);
        }
    }

    // Decodes the current member into sink; false (the problem noted) when this member fails.
    bool Decode(zip::Reader& reader, const zip::Member& member, zip::DataSink& sink,
                const std::string& destination) {
        if (member.encrypted) {
            problems_.Report(ARC_ERROR_UNKNOWN_METHOD, member.name,
                             "encrypted member, not supported");
            return false;
        }
        ProgressMeter meter(context_.progress, member.name, destination, member.size.value_or(0),
                            member.mtime.value_or(0));
        try {
            reader.Extract(sink, meter.Callback());
        } catch (const zip::Error& error) {
            if (error.Kind() != zip::ErrorKind::kMember) {
                throw;
            }
            problems_.Report(ARC_ERROR_CRC, member.name, error.what());
            return false;
        } catch (const Failure& failure) {
            // A write that failed (a full disk) ends this member only.
            if (failure.Code() != ARC_ERROR_CANNOT_WRITE) {
                throw;
            }
            problems_.Report(failure.Code(), member.name, failure.what());
            return false;
        }
        meter.Finish();
        return true;
    }

    void TestOne(zip::Reader& reader, const zip::Member& member) {
        if (member.kind == MemberKind::kDirectory) {
            return;
        }
        NullSink sink;
        if (Decode(reader, member, sink, member.name)) {
            Say("ok " + Escaped(member.name));
        }
    }

    void ExtractOne(zip::Reader& reader, const zip::Member& member, common::NameRules rules) {
        const std::string& name = member.name;
        std::string reason;
        auto relative = common::SafeRelativePath(name, reason, rules);
        if (!relative) {
            problems_.Report(ARC_ERROR_UNSAFE_PATH, name, "refused (" + reason + ")");
            return;
        }
        if (!member.error.empty() && member.kind != MemberKind::kFile) {
            // A folder or link whose header is damaged (a file's fails when it is decoded).
            problems_.Report(ARC_ERROR_CRC, name, member.error);
            return;
        }
        if (member.kind == MemberKind::kOther) {
            problems_.Report(ARC_ERROR_NOT_REGULAR, name, "not a file, folder or link; skipped");
            return;
        }
        if (request_.options.junkPaths) {
            if (member.kind == MemberKind::kDirectory) {
                return;
            }
            *relative = platform::ExtractFileName(*relative);
        }
        if (member.kind == MemberKind::kDirectory) {
            auto path = target_.Prepare(*relative, true, reason);
            if (!path) {
                problems_.ReportRefusedPath(target_, name, reason);
                return;
            }
            // Times and permissions come last: a read-only folder would refuse its members.
            folderTimes_.push_back({*path, member.mtime.value_or(0),
                                    (member.mode != 0 ? member.mode & 01777 : 0755) & ~umask_});
            Say("extracted " + Escaped(name));
            return;
        }
        if (member.kind == MemberKind::kSymlink &&
            !common::LinkTargetStaysInside(*relative, member.linkTarget)) {
            problems_.Report(ARC_ERROR_UNSAFE_PATH, name, "refused (symbolic link leads outside)");
            return;
        }
        auto path = target_.Prepare(*relative, false, reason);
        if (!path) {
            problems_.ReportRefusedPath(target_, name, reason);
            return;
        }
        struct stat existing {};
        if (lstat(path->c_str(), &existing) == 0 && !request_.options.overwrite) {
            problems_.Report(ARC_WARNING_SKIPPED, name, kKept);
            return;
        }
        if (member.kind == MemberKind::kSymlink) {
            MakeLink(member, *path);
            return;
        }
        try {
            common::MemberFile file(*path, request_.options.overwrite);
            MemberSink sink(file);
            if (!Decode(reader, member, sink, *path)) {
                return;  // the staging file goes with it
            }
            const auto placed =
                file.Place((member.mode != 0 ? member.mode : 0644) & ~umask_,
                           member.mtime ? std::optional(*member.mtime * 1000000000) : std::nullopt);
            if (placed == common::Placement::kKept) {
                problems_.Report(ARC_WARNING_SKIPPED, name, kKept);
                return;
            }
        } catch (const Failure& failure) {
            problems_.Report(failure.Code(), name, failure.what());
            return;
        }
        Say("extracted " + Escaped(name));
    }

    void MakeLink(const zip::Member& member, const std::string& path) {
        if (!target_.MakeLink(path, member.linkTarget)) {
            problems_.Report(ARC_ERROR_CANNOT_WRITE, member.name,
                             std::string("cannot make the symbolic link: ") + std::strerror(errno));
            return;
        }
        Say("extracted " + Escaped(member.name));
    }

    void ApplyFolderTimes() {
        // Deepest first: files made inside a folder change its time.
        for (auto it = folderTimes_.rbegin(); it != folderTimes_.rend(); ++it) {
            const timespec times[2] = {AtSecond(it->mtime), AtSecond(it->mtime)};
            utimensat(AT_FDCWD, it->path.c_str(), times, AT_SYMLINK_NOFOLLOW);
            chmod(it->path.c_str(), it->mode);
        }
        folderTimes_.clear();
    }

    const Request& request_;
    Context& context_;
    bool testOnly_;
    common::ExtractionTarget target_;
    unsigned umask_;
    exports::MemberProblems problems_;
    std::vector<FolderTime> folderTimes_;
    std::vector<std::optional<std::string>> unixNames_;  // by index, from the directory
};

}  // namespace

int Extract(const Request& request, Context& context) {
    Extractor extractor(request, context);
    return extractor.Run();
}

int ExtractToMemory(const Request& request, std::span<std::byte> buffer, MemoryResult& result,
                    Context& context) {
    if (request.names.empty()) {
        throw Failure(ARC_ERROR_BAD_COMMAND, "no member named");
    }
    zip::Reader reader(request.archive);
    while (auto member = reader.Next()) {
        if (member->kind != MemberKind::kFile || !Selected(member->name, request.names)) {
            continue;
        }
        if (member->encrypted) {
            throw Failure(ARC_ERROR_UNKNOWN_METHOD, "encrypted member, not supported");
        }
        BufferSink sink(buffer);
        ProgressMeter meter(context.progress, member->name, member->name, member->size.value_or(0),
                            member->mtime.value_or(0));
        reader.Extract(sink, meter.Callback());
        meter.Finish();
        result.written = static_cast<std::uint32_t>(sink.Stored());
        result.unixTime = member->mtime.value_or(0);
        result.attributes = (member->mode & 0200) == 0 ? 0x21 : 0x20;
        if (sink.Total() > sink.Stored()) {
            throw common::BufferTooSmall(sink.Stored(), sink.Total());
        }
        return ARC_OK;
    }
    throw common::NoMemberMatches();
}

}  // namespace zembrat::zip32
