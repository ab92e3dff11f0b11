// libbga32.so's entries: the GZA/BZA commands, listing and check behind the shared export
// layer, under the prefix "Bga".
#include <memory>

#include "bga32/bga32.h"
#include "bga32/member_info.h"
#include "common/output_text.h"
#include "export/entries.h"

namespace zembrat::bga32 {
namespace {

class BgaCursor : public exports::ArchiveCursor {
  public:
    explicit BgaCursor(const std::string& path) : reader_(path) {}

    void Restart() override { reader_.Restart(); }

    int Next(std::string_view mask, exports::ListedMember& listed) override {
        try {
            while (auto member = reader_.Next()) {
                const std::string name = HostName(member->header);
                if (!mask.empty() && mask != "*" && mask != "*.*" &&
                    !Selected(name, {std::string(mask)})) {
                    continue;
                }
                Fill(*member, name, listed);
                return 0;
            }
            return exports::kNoMoreMembers;
        } catch (const Failure& failure) {
            return failure.Code();
        }
    }

  private:
    void Fill(const bga::Member& member, const std::string& name, exports::ListedMember& listed) {
        const bga::MemberHeader& header = member.header;
        ARCHIVE_ENTRY_RECORD& record = listed.record;
        record = {};
        record.original_size = header.originalSize;
        record.compressed_size = header.compressedSize;
        record.crc = StoredCrc(reader_.Fd(), member);
        record.ratio = common::CompressionRatio(header.compressedSize, header.originalSize);
        record.dos_date = header.dosDate;
        record.dos_time = header.dosTime;
        common::CopyToField(record.file_name, sizeof record.file_name, name);
        common::CopyToField(record.attribute, sizeof record.attribute,
                            AttributeText(header.attributes));
        common::CopyToField(record.method, sizeof record.method, MethodText(header));
        listed.originalSize = header.originalSize;
        listed.compressedSize = header.compressedSize;
        // 100 ns units since 1601.
        listed.writeTime =
            static_cast<std::uint64_t>(UnixTime(header) + 11644473600LL) * 10000000ULL;
    }

    bga::ArchiveReader reader_;
};

class BgaBackend : public exports::Backend {
  public:
    std::string_view Family() const override { return "bga"; }

    int RunCommand(std::string_view commandLine, Context& context) override {
        context.overwriteSwitch = "-o";
        return RunCommandLine(commandLine, context);
    }

    std::unique_ptr<exports::ArchiveCursor> OpenArchive(const std::string& path,
                                                        std::uint32_t) override {
        auto cursor = std::make_unique<BgaCursor>(path);
        // An archive is opened only when its first member header is sound.
        exports::ListedMember first;
        if (cursor->Next({}, first) != 0) {
            return nullptr;
        }
        cursor->Restart();
        return cursor;
    }

    bool CheckArchive(const std::string& path, int mode) override {
        return bga32::CheckArchive(path, mode);
    }
};

}  // namespace

exports::Backend& BgaSide() {
    static BgaBackend backend;
    return backend;
}

}  // namespace zembrat::bga32

using zembrat::bga32::BgaSide;

ZEMBRAT_EXPORT_COMMAND(Bga, BgaSide)
ZEMBRAT_EXPORT_LISTING(Bga, BgaSide)
ZEMBRAT_EXPORT_OWNER_WINDOW(Bga, BgaSide)
ZEMBRAT_EXPORT_GETTERS(Bga)
