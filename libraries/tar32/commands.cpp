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
#include "common/output_text.h"
#include "common/safe_path.h"
#include "export/guarded.h"
#include "export/member_problems.h"
#include "platform/file_time.h"
#include "tar/library_side.h"
#include "tar/tar.h"
#include "tar32/request.h"
#include "tar32/tar32.h"

namespace zembrat::tar32 {

namespace {

using exports::Context;

template <typename Run>
int Guarded(Context& context, Run run) {
    return exports::Guarded(context, run,
                            exports::DescribeEngineError<tar::Error>([](const tar::Error& error) {
                                return common::Failure(tar::ResultFor(error), error.what());
                            }));
}

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
    options.host.note = exports::NoteLine(context);
    tar::EventSettings settings;
    settings.testing = request.command == Command::kTest;
    settings.progress = request.showDialog;
    // A kept file's line names the switch that would have replaced it.
    settings.explain = [](const std::string& reason) {
        return reason == "kept the existing file" ? reason + " (-g overwrites)" : reason;
    };
    tar::LibraryEvents events(context, settings);
    const tar::ExtractSummary summary = tar::Extract(request.archive, options, events);
    return exports::ExtractionResult(context.output, summary.selected, !request.names.empty(),
                                     events.Code());
}

std::vector<tar::Member> ReadMembers(const std::string& path) {
    tar::Reader reader(path);
    return common::AllMembers(reader);
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
        const std::string size = member.lone && !member.size
                                     ? std::string("-")  // its wrapper does not tell
                                     : std::to_string(member.size.value_or(0));
        std::snprintf(line, sizeof line, "%12s %s%03o %04d-%02d-%02d %02d:%02d:%02d ", size.c_str(),
                      tar::AttributeText(member).c_str(), member.mode & 0777, time.year, time.month,
                      time.day, time.hour, time.minute, time.second);
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

// A listing mask selects as a name of the command line does.
bool MaskSelects(std::string_view name, std::string_view mask) {
    Request request;
    request.names.emplace_back(mask);
    return Selected(name, request);
}

int ExtractToMemory(const Request& request, std::span<std::byte> buffer,
                    exports::MemoryResult& result) {
    if (request.names.empty()) {
        throw Failure(ARC_ERROR_BAD_COMMAND, "no member named");
    }
    tar::Reader reader(request.archive);
    return tar::ExtractFirstToMemory(
        reader, [&](const tar::Member& member) { return Selected(member.name, request); }, buffer,
        result);
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
    if (request.showDialog) {
        options.progress = &context.progress;
    }
    PackEvents events(context);
    try {
        tar::Create(request.archive, request.names, options, events);
    } catch (const tar::Error& error) {
        throw Failure(
            error.Kind() == tar::ErrorKind::kAborted ? ARC_ERROR_ABORTED : ARC_ERROR_CANNOT_WRITE,
            std::string(error.what()) + "; no archive written");
    } catch (const Failure&) {
        throw;
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
        return tar::OpenCursor([&] { return ReadMembers(path); }, "-----", MaskSelects);
    }

    bool CheckArchive(const std::string& path, int mode) override {
        return tar::CheckArchive(
            mode, [&] { ReadMembers(path); },
            [&] {
                Request request;
                request.command = Command::kTest;
                request.archive = path;
                request.showDialog = false;
                Context context;
                return Extract(request, context) == ARC_OK;
            });
    }

    int ExtractToMemory(std::string_view commandLine, std::span<std::byte> buffer,
                        exports::MemoryResult& result, Context& context) override {
        return Guarded(context, [&] {
            return tar32::ExtractToMemory(ParseLine(commandLine, true), buffer, result);
        });
    }
};

// The compressor an archive starts with, by its magic bytes.
enum class Filter { kNone, kGzip, kCompress, kBzip2, kXz, kLzma, kZstd, kLzip };

Filter FilterOf(const std::string& path, std::uint64_t start) {
    const std::string text = tar::FileHead(path, 6, start);
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
    if (got >= 5 && std::memcmp(head, "LZIP", 4) == 0 && head[4] == 1) {
        return Filter::kLzip;
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
    // Behind a self-extracting program, the archive that follows it names the type.
    switch (FilterOf(path, tar::ArchiveStart(path))) {
        case Filter::kNone:
            return kTar;
        case Filter::kGzip:
            return lone ? kGzipFile : kGzipTar;
        case Filter::kCompress:
            return lone ? kCompressFile : kCompressTar;
        case Filter::kBzip2:
            return lone ? kBzip2File : kBzip2Tar;
        case Filter::kXz:
        case Filter::kLzma:
        case Filter::kZstd:
        case Filter::kLzip:
            // Read as gzip is: the driver's tgz kind takes them (.txz, .tar.zst, lone .xz).
            return lone ? kGzipFile : kGzipTar;
    }
    return kNotOurs;
}

}  // namespace zembrat::tar32
