// libunarj32j.so's entries: the ARJ commands, archives and checks behind the shared export
// layer.
#include <memory>

#include "export/entries.h"
#include "unarj32j/arj_library.h"
#include "unlha32/archive_source.h"
#include "unlha32/guarded.h"

namespace zembrat::unarj32j {
namespace {

class ArjCursor : public exports::ArchiveCursor {
  public:
    explicit ArjCursor(std::unique_ptr<ArjSource> source) : source_(std::move(source)) {}

    void Restart() override { source_->Reader().Restart(); }

    int Next(std::string_view mask, exports::ListedMember& listed) override {
        try {
            while (auto member = source_->Reader().Next()) {
                const std::string name = HostName(*member);
                if (!mask.empty() && mask != "*" && mask != "*.*" &&
                    !unlha32::MatchesAny(name, {std::string(mask)})) {
                    continue;
                }
                FillEntryRecord(*member, listed.record);
                listed.originalSize = member->originalSize;
                listed.compressedSize = member->compressedSize;
                listed.writeTime =
                    platform::FileTimeFromUnix(WriteTimeNanoseconds(*member) / 1000000000LL);
                return 0;
            }
            return exports::kNoMoreMembers;
        } catch (const lha::Error& error) {
            return unlha32::ResultFor(error);
        }
    }

  private:
    std::unique_ptr<ArjSource> source_;
};

class ArjBackend : public exports::Backend {
  public:
    std::string_view Family() const override { return "arj"; }

    int RunCommand(std::string_view commandLine, Context& context) override {
        context.overwriteSwitch = "-m1";
        return RunCommandLine(commandLine, context);
    }

    std::unique_ptr<exports::ArchiveCursor> OpenArchive(const std::string& path,
                                                        std::uint32_t mode) override {
        return std::make_unique<ArjCursor>(
            std::make_unique<ArjSource>(path, (mode & ARC_OPEN_EMBEDDED) != 0));
    }

    bool CheckArchive(const std::string& path, int mode) override {
        return unarj32j::CheckArchive(path, mode);
    }

    int ExtractToMemory(std::string_view commandLine, std::span<std::byte> buffer,
                        MemoryResult& result, Context& context) override {
        // Engine errors and stops become their result codes, as for the commands.
        return unlha32::Guarded(context, [&] {
            const Request request = ParseCommandLine(commandLine, false);
            return unarj32j::ExtractToMemory(request, buffer, result, context);
        });
    }
};

exports::Backend& Arj() {
    static ArjBackend backend;
    return backend;
}

}  // namespace
}  // namespace zembrat::unarj32j

using zembrat::unarj32j::Arj;

ZEMBRAT_EXPORT_COMMAND(Unarj, Arj)
ZEMBRAT_EXPORT_LISTING(Unarj, Arj)
ZEMBRAT_EXPORT_OWNER_WINDOW(Unarj, Arj)
ZEMBRAT_EXPORT_EXTRACT_MEM(UnarjExtractMem, Arj)
ZEMBRAT_EXPORT_GETTERS(Unarj)
