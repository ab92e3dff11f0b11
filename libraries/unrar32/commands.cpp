// The commands of libunrar32.so over the tar-family engine, which reads RAR through the
// helper process: extraction with and without folders, test, ExtractMem, the listing
// cursor and CheckArchive.
#include <sys/stat.h>

#include <algorithm>
#include <new>

#include "archiver_api.h"
#include "common/failure.h"
#include "common/output_text.h"
#include "common/safe_path.h"
#include "export/guarded.h"
#include "export/member_problems.h"
#include "tar/library_side.h"
#include "tar/tar.h"
#include "unrar32/older.h"
#include "unrar32/request.h"
#include "unrar32/unrar32.h"
#include "unrar32/volumes.h"

namespace zembrat::unrar32 {

namespace {

using common::Failure;
using exports::Context;

constexpr std::string_view kDecoderSetup = "rar";

// The decoder's words for what it cannot read, as this library reports them.
std::string Plain(const std::string& reason) {
    std::string lower = reason;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.starts_with("encrypted")) {
        return "encrypted, not supported";
    }
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
    const std::optional<std::uint64_t> start = ArchiveStart(archive);
    if (!start) {
        throw Failure(ARC_ERROR_NOT_ARCHIVE, "not a RAR archive: no RAR archive in the program");
    }
    options.archiveOffset = *start;
    // The bound on what the archive may expand to counts every volume.
    const auto sizeOf = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    };
    std::uint64_t size = sizeOf(archive);
    for (const std::string& volume : volumes.more) {
        size += sizeOf(volume);
    }
    options.outputLimit = tar::OutputLimitFor(size);
    options.moreVolumes = std::move(volumes.more);
    return options;
}

std::string BaseName(const std::string& path) {
    return common::EscapeControlCharacters(path.substr(path.find_last_of('/') + 1));
}

std::string VolumeOrdinal(const LaterVolume& later) {
    return later.number != 0 ? "volume " + std::to_string(later.number) : "a later volume";
}

// Whether the archive is a later volume of a set; throws when the set cannot be read: its
// first volume is not there, or its name does not tell which file that is.
std::optional<LaterVolume> LaterVolumeOfReadableSet(const std::string& archive) {
    auto later = FindLaterVolume(archive);
    if (!later || later->firstFound) {
        return later;
    }
    const std::string volume = BaseName(archive) + " is " + VolumeOrdinal(*later);
    throw Failure(
        ARC_ERROR_CANNOT_READ,
        later->first.empty()
            ? volume + " of a set, and its name does not tell which file is the first volume"
            : "the first volume " + common::EscapeControlCharacters(later->first) +
                  " is missing (" + volume + " of its set)");
}

// The file a volume's set is read from: the archive itself, or for a later volume the first
// volume of its set, which holds the start of every member.
std::string SetStart(const std::string& archive) {
    const auto later = LaterVolumeOfReadableSet(archive);
    return later ? later->first : archive;
}

// The older format's decoder ends the archive at a member's failed CRC: a CRC error still.
int CodeFor(const tar::Error& error) {
    return error.Kind() == tar::ErrorKind::kArchive &&
                   std::string_view(error.what()).find("CRC error") != std::string_view::npos
               ? ARC_ERROR_CRC
               : tar::ResultFor(error);
}

// tar::Error in the words of this library.
template <typename Run>
int Guarded(Context& context, Run run) {
    return exports::Guarded(context, run,
                            exports::DescribeEngineError<tar::Error>([](const tar::Error& error) {
                                return Failure(CodeFor(error), Plain(error.what()));
                            }));
}

int Extract(const Request& request, Context& context) {
    // A batch given every volume of a set extracts the set once, from its first volume; the
    // later volumes are skipped, not decoded alone (their members start in earlier volumes).
    if (const auto later = LaterVolumeOfReadableSet(request.archive)) {
        context.output.Line(BaseName(request.archive) + ": " + VolumeOrdinal(*later) +
                            " of the set that " + BaseName(later->first) +
                            (request.command == Command::kTest ? " tests" : " extracts") +
                            "; skipped");
        return ARC_WARNING_SKIPPED;
    }
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
    options.host.note = exports::NoteLine(context);
    options.fewMembers = !request.names.empty();
    tar::EventSettings settings;
    settings.testing = request.command == Command::kTest;
    settings.method = "RAR";
    // A kept file's line names the switch that would have replaced it.
    settings.explain = [](const std::string& reason) {
        return reason == "kept the existing file" ? reason + " (-y overwrites)" : Plain(reason);
    };
    tar::LibraryEvents events(context, settings);
    const tar::ExtractSummary summary = IsOlderFormat(request.archive)
                                            ? OlderExtract(request.archive, options, events)
                                            : tar::Extract(request.archive, options, events);
    return exports::ExtractionResult(context.output, summary.selected, !request.names.empty(),
                                     events.Code());
}

std::vector<tar::Member> ReadMembers(const std::string& path) {
    const std::string start = SetStart(path);
    if (IsOlderFormat(start)) {
        HostFor(start);  // a volume the set says follows is there
        return OlderMembers(start);
    }
    tar::Reader reader(start, HostFor(start), kDecoderSetup);
    return common::AllMembers(reader);
}

// A listing mask is a shell pattern over the whole path.
bool MaskSelects(std::string_view name, std::string_view mask) {
    Request request;
    request.wholePath = true;
    request.names.emplace_back(mask);
    return Selected(name, request);
}

int ExtractToMemory(const Request& request, std::span<std::byte> buffer,
                    exports::MemoryResult& result) {
    const auto selects = [&](const tar::Member& member) { return Selected(member.name, request); };
    const std::string start = SetStart(request.archive);
    if (IsOlderFormat(start)) {
        HostFor(start);  // a volume the set says follows is there
        return OlderExtractToMemory(start, selects, buffer, result);
    }
    tar::Reader reader(start, HostFor(start), kDecoderSetup);
    return tar::ExtractFirstToMemory(reader, selects, buffer, result);
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
            const std::string start = SetStart(path);
            if (IsOlderFormat(start)) {
                HostFor(start);  // a volume the set says follows is there
                return OlderCursor(start, MaskSelects);
            }
        } catch (const std::exception&) {
            return nullptr;
        }
        return tar::OpenCursor([&] { return ReadMembers(path); }, "RAR", MaskSelects);
    }

    bool CheckArchive(const std::string& path, int mode) override {
        return tar::CheckArchive(
            mode, [&] { ReadMembers(path); },
            [&] {
                Request request;
                request.command = Command::kTest;
                request.archive = SetStart(path);
                Context context;
                return Extract(request, context) == ARC_OK;
            });
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
