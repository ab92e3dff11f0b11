// libunlha32.so's entries: the LHA commands, archives and checks behind the shared export
// layer, which writes the C entry family once for every library.
#include <memory>
#include <optional>

#include "export/entries.h"
#include "lha/archive.h"
#include "unlha32/archive_source.h"
#include "unlha32/operations.h"

namespace zembrat::unlha32 {
namespace {

class LhaCursor : public exports::ArchiveCursor {
  public:
    explicit LhaCursor(std::unique_ptr<ArchiveSource> source) : source_(std::move(source)) {}

    void Restart() override { source_->Restart(); }

    int Next(std::string_view mask, exports::ListedMember& listed) override {
        try {
            while (auto member = source_->Reader().Next()) {
                if (!Selected(HostName(*member), mask)) {
                    continue;
                }
                FillEntryRecord(*member, listed.record);
                listed.originalSize = member->originalSize;
                listed.compressedSize = member->compressedSize;
                listed.writeTime = WriteTime(*member);
                listed.createTime = member->windowsCreateTime;
                listed.accessTime = member->windowsAccessTime;
                return 0;
            }
            return exports::kNoMoreMembers;
        } catch (const lha::Error& error) {
            return ResultFor(error);
        }
    }

  private:
    static bool Selected(const std::string& name, std::string_view mask) {
        return mask.empty() || mask == "*" || mask == "*.*" ||
               MatchesAny(name, {std::string(mask)});
    }

    std::unique_ptr<ArchiveSource> source_;
};

class LhaBackend : public exports::Backend {
  public:
    std::string_view Family() const override { return "lha"; }

    int RunCommand(std::string_view commandLine, Context& context) override {
        context.overwriteSwitch = "-m1";
        return RunCommandLine(commandLine, context);
    }

    std::unique_ptr<exports::ArchiveCursor> OpenArchive(const std::string& path,
                                                        std::uint32_t mode) override {
        return std::make_unique<LhaCursor>(
            std::make_unique<ArchiveSource>(path, (mode & ARC_OPEN_EMBEDDED) != 0));
    }

    bool CheckArchive(const std::string& path, int mode) override {
        return unlha32::CheckArchive(path, mode);
    }

    int ExtractToMemory(std::string_view commandLine, std::span<std::byte> buffer,
                        MemoryResult& result, Context& context) override {
        try {
            const Request request = ParseCommandLine(commandLine, false);
            return unlha32::ExtractToMemory(request, buffer, result, context);
        } catch (const Failure& failure) {
            return failure.Code();
        }
    }
};

exports::Backend& Lha() {
    static LhaBackend backend;
    return backend;
}

}  // namespace
}  // namespace zembrat::unlha32

using zembrat::unlha32::Lha;

ZEMBRAT_EXPORT_COMMAND(Unlha, Lha)
ZEMBRAT_EXPORT_LISTING(Unlha, Lha)
ZEMBRAT_EXPORT_OWNER_WINDOW(Unlha, Lha)
ZEMBRAT_EXPORT_EXTRACT_MEM(UnlhaExtractMem, Lha)
ZEMBRAT_EXPORT_GETTERS(Unlha)
