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
#include "tar/library_side.h"
#include "tar/tar.h"
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

// The older format's decoder ends the archive at a member's failed CRC: a CRC error still.
int CodeFor(const tar::Error& error) {
    return error.Kind() == tar::ErrorKind::kArchive &&
                   std::string_view(error.what()).find("CRC error") != std::string_view::npos
               ? ARC_ERROR_CRC
               : tar::ResultFor(error);
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
        return CodeFor(error);
    } catch (const std::bad_alloc&) {
        context.output.FirstLine("out of memory");
        return ARC_ERROR_NO_MEMORY;
    } catch (const std::exception& error) {
        context.output.FirstLine(std::string("internal error: ") + error.what());
        return ARC_ERROR_INTERNAL;
    }
}

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
    tar::EventSettings settings;
    settings.testing = request.command == Command::kTest;
    settings.method = "RAR";
    settings.explain = Plain;
    tar::LibraryEvents events(context, settings);
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

// A listing mask is a shell pattern over the whole path.
bool MaskSelects(std::string_view name, std::string_view mask) {
    Request request;
    request.wholePath = true;
    request.names.emplace_back(mask);
    return Selected(name, request);
}

int ExtractToMemory(const Request& request, std::span<std::byte> buffer,
                    exports::MemoryResult& result) {
    tar::Reader reader(request.archive, HostFor(request.archive), kDecoderSetup);
    std::string reason;
    const int code = tar::ExtractFirstToMemory(
        reader, [&](const tar::Member& member) { return Selected(member.name, request); }, buffer,
        result, reason);
    if (code != ARC_OK) {
        throw Failure(code, reason);
    }
    return ARC_OK;
}

class UnrarBackend final : public exports::Backend {
  public:
    std::string_view Family() const override { return "rar"; }

    int RunCommand(std::string_view commandLine, Context& context) override {
        return Guarded(context, [&] { return Extract(ParseLine(commandLine, false), context); });
    }

    std::unique_ptr<exports::ArchiveCursor> OpenArchive(const std::string& path,
                                                        std::uint32_t) override {
        return tar::OpenCursor([&] { return ReadMembers(path); }, "RAR", MaskSelects);
    }

    bool CheckArchive(const std::string& path, int mode) override {
        return tar::CheckArchive(
            mode, [&] { ReadMembers(path); },
            [&] {
                Request request;
                request.command = Command::kTest;
                request.archive = path;
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
