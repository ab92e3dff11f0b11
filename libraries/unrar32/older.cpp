// Versions 1.5 to 4.x in process: the set's volumes by their names, each member turned into
// the tar-family engine's description, and extraction under the same rules as the engine's
// (nothing outside the destination, links never lead a later member out, no half-written
// file under a final name, an existing file replaced only when asked).
#include "unrar32/older.h"

#include <sys/stat.h>

#include <array>
#include <cstring>
#include <set>

#include "archiver_api.h"
#include "common/failure.h"
#include "common/folder_times.h"
#include "common/member_file.h"
#include "common/name_encoding.h"
#include "common/record_fields.h"
#include "common/safe_path.h"
#include "rar/archive.h"
#include "tar/library_side.h"
#include "tar/member_placer.h"
#include "unrar32/volumes.h"

namespace zembrat::unrar32 {

namespace {

using tar::MemberKind;
using tar::Problem;

// A link's target is short; a longer one is damage.
constexpr std::size_t kMaxLinkTarget = 4096;

bool IsFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Names without a Unicode form are in the code page of the system that made them: UTF-8 when
// they are valid UTF-8, else read as CP932, else as Latin-1 (nothing is lost).
std::string DecodeName(const rar::Member& member) {
    if (member.unicodeName || common::IsValidUtf8(member.name)) {
        return member.name;
    }
    if (auto converted = common::ConvertText(member.name, "CP932", "UTF-8")) {
        return *converted;
    }
    return common::ConvertText(member.name, "ISO-8859-1", "UTF-8").value_or(member.name);
}

tar::Member Describe(const rar::Member& member) {
    tar::Member described;
    described.name = DecodeName(member);
    while (described.name.ends_with('/')) {
        described.name.pop_back();
    }
    described.kind = member.IsDirectory() ? MemberKind::kDirectory
                     : member.IsSymlink() ? MemberKind::kSymlink
                                          : MemberKind::kFile;
    described.size = member.size;
    described.mtime = member.mtime;
    if (const unsigned mode = member.UnixMode(); mode != 0) {
        described.mode = mode;
    } else if (member.IsDirectory()) {
        described.mode = 0755;
    } else {
        described.mode = (member.attributes & 0x01) != 0 ? 0444 : 0644;
    }
    described.encrypted = member.IsEncrypted();
    return described;
}

// Pieces of one file cut by size (NAME_aa, NAME_ab, ...; NAME.001, ...), read as one.
class JoinedInput final : public rar::Input {
  public:
    explicit JoinedInput(const std::vector<std::string>& paths) {
        for (const std::string& path : paths) {
            pieces_.push_back(rar::OpenFile(path));
            starts_.push_back(size_);
            size_ += pieces_.back()->Size();
        }
    }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> data) override {
        std::size_t done = 0;
        for (std::size_t i = 0; i < pieces_.size() && done < data.size(); ++i) {
            const std::uint64_t at = offset + done;
            const std::uint64_t end = starts_[i] + pieces_[i]->Size();
            if (at < starts_[i] || at >= end) {
                continue;
            }
            const std::size_t want = std::min<std::uint64_t>(data.size() - done, end - at);
            const std::size_t got = pieces_[i]->ReadAt(at - starts_[i], data.subspan(done, want));
            done += got;
            if (got < want) {
                break;
            }
        }
        return done;
    }
    std::uint64_t Size() const override { return size_; }

  private:
    std::vector<std::unique_ptr<rar::Input>> pieces_;
    std::vector<std::uint64_t> starts_;
    std::uint64_t size_ = 0;
};

// Whether the file starts as a volume of the older format does (not a piece cut by size).
bool StartsAsVolume(const std::string& path) {
    try {
        const auto input = rar::OpenFile(path);
        std::array<std::byte, 7> head{};
        return input->ReadAt(0, head) == head.size() &&
               std::memcmp(head.data(), "Rar!\x1A\x07\x00", head.size()) == 0;
    } catch (const rar::Error&) {
        return false;
    }
}

// The reader of a set: its later volumes are found beside the first by their names. Pieces
// cut by size are joined into one file.
class OlderSet {
  public:
    explicit OlderSet(const std::string& first) : first_(first) {
        VolumeSet volumes = FindVolumes(first);
        more_ = std::move(volumes.more);
        try {
            if (!more_.empty() && !StartsAsVolume(more_.front())) {
                std::vector<std::string> pieces{first};
                pieces.insert(pieces.end(), more_.begin(), more_.end());
                more_.clear();
                reader_.emplace(std::make_unique<JoinedInput>(pieces));
                return;
            }
            reader_.emplace(
                rar::OpenFile(first),
                [this](std::size_t index) -> std::unique_ptr<rar::Input> {
                    if (index == 0 || index > more_.size() || !IsFile(more_[index - 1])) {
                        return nullptr;
                    }
                    return rar::OpenFile(more_[index - 1]);
                },
                [this](std::size_t index) { return VolumeName(index); });
        } catch (const rar::Error& error) {
            Rethrow(error);
        }
    }

    rar::Reader& Reader() { return *reader_; }

    std::optional<rar::Member> Next() {
        try {
            return reader_->Next();
        } catch (const rar::Error& error) {
            Rethrow(error);
        }
    }

    // The member's data; throws tar::Error(kMember) when it alone fails.
    void Extract(const rar::Member& member, const tar::DataSink& sink,
                 const tar::ProgressFn& progress) {
        try {
            reader_->Extract(member, sink, progress);
        } catch (const rar::Error& error) {
            Rethrow(error);
        }
    }

    [[noreturn]] static void Rethrow(const rar::Error& error) {
        switch (error.Kind()) {
            case rar::ErrorKind::kMember:
                throw tar::Error(tar::ErrorKind::kMember, error.what());
            case rar::ErrorKind::kAborted:
                throw tar::Error(tar::ErrorKind::kAborted, error.what());
            case rar::ErrorKind::kVolume:
                throw common::Failure(ARC_ERROR_CANNOT_READ, error.what());
            case rar::ErrorKind::kFormat:
                break;
        }
        throw tar::Error(tar::ErrorKind::kArchive, error.what());
    }

  private:
    std::string VolumeName(std::size_t index) const {
        std::string name = first_;
        for (std::size_t i = 0; i < index; ++i) {
            if (i < more_.size()) {
                name = more_[i];
                continue;
            }
            const auto next = NextVolumeName(name);
            if (!next) {
                break;
            }
            name = *next;
        }
        return common::EscapeControlCharacters(name);
    }

    std::string first_;
    std::vector<std::string> more_;
    std::optional<rar::Reader> reader_;
};

class Extractor {
  public:
    Extractor(const tar::ExtractOptions& options, tar::ExtractEvents& events)
        : options_(options),
          events_(events),
          placer_(options, events),
          umask_(common::ProcessUmask()) {}

    tar::ExtractSummary Run(const std::string& path) {
        OlderSet set(path);
        std::string reason;
        if (!options_.testOnly && !placer_.Target().CreateFolder(reason)) {
            throw tar::Error(tar::ErrorKind::kArchive, reason);
        }
        tar::ExtractSummary summary;
        try {
            while (auto member = set.Next()) {
                ++summary.seen;
                const tar::Member described = Describe(*member);
                if (options_.select && !options_.select(described)) {
                    continue;
                }
                ++summary.selected;
                if (options_.testOnly) {
                    TestOne(set, *member, described);
                } else {
                    ExtractOne(set, *member, described);
                }
            }
        } catch (...) {
            placer_.Finish();
            throw;
        }
        placer_.Finish();
        return summary;
    }

  private:
    unsigned ModeFor(const tar::Member& member) const { return member.mode & 0777 & ~umask_; }

    // Decodes the member into sink; false (reported) when this member fails.
    bool Decode(OlderSet& set, const rar::Member& member, const tar::Member& described,
                const tar::DataSink& sink, const std::string& destination) {
        try {
            set.Extract(member, sink, events_.Progress(described, destination));
        } catch (const tar::Error& error) {
            if (error.Kind() != tar::ErrorKind::kMember) {
                throw;
            }
            events_.Failed(Problem::kDamaged, described, error.what());
            return false;
        } catch (const common::Failure& failure) {
            if (failure.Code() != ARC_ERROR_CANNOT_WRITE) {
                throw;
            }
            events_.Failed(Problem::kCannotWrite, described, failure.what());
            return false;
        }
        return true;
    }

    void TestOne(OlderSet& set, const rar::Member& member, const tar::Member& described) {
        if (described.kind != MemberKind::kDirectory &&
            !Decode(
                set, member, described, [](std::span<const std::byte>) {}, described.name)) {
            return;
        }
        events_.Done(described);
    }

    void ExtractOne(OlderSet& set, const rar::Member& member, const tar::Member& described) {
        std::string reason;
        auto relative = common::SafeRelativePath(described.name, reason, common::NameRules::kUnix);
        if (!relative) {
            events_.Failed(Problem::kUnsafe, described, "refused (" + reason + ")");
            return;
        }
        if (described.kind == MemberKind::kDirectory) {
            placer_.MakeFolder(described, *relative, ModeFor(described));
            return;
        }
        const std::string placed = placer_.Placed(*relative);
        const auto path = placer_.PrepareFile(described, placed);
        if (!path) {
            return;
        }
        if (described.kind == MemberKind::kSymlink) {
            MakeLink(set, member, described, placed, *path);
            return;
        }
        std::optional<common::MemberFile> file;
        try {
            file.emplace(*path, placer_.MayReplace(*path));
        } catch (const common::Failure& failure) {
            events_.Failed(Problem::kCannotWrite, described, failure.what());
            return;
        }
        if (!Decode(
                set, member, described,
                [&file](std::span<const std::byte> data) { file->Write(data); }, *path)) {
            return;  // the staging file goes with it
        }
        placer_.PlaceFile(*file, described, *path, ModeFor(described),
                          described.mtime.value_or(0) * common::kNanosecondsPerSecond);
    }

    void MakeLink(OlderSet& set, const rar::Member& member, const tar::Member& described,
                  const std::string& relative, const std::string& path) {
        std::string linkTarget;
        bool tooLong = false;
        if (!Decode(
                set, member, described,
                [&](std::span<const std::byte> data) {
                    if (linkTarget.size() + data.size() > kMaxLinkTarget) {
                        tooLong = true;
                        return;
                    }
                    linkTarget.append(reinterpret_cast<const char*>(data.data()), data.size());
                },
                path)) {
            return;
        }
        if (tooLong || linkTarget.empty() || linkTarget.find('\0') != std::string::npos) {
            events_.Failed(Problem::kDamaged, described, "a damaged symbolic link");
            return;
        }
        if (!common::LinkTargetStaysInside(relative, linkTarget)) {
            events_.Failed(Problem::kUnsafe, described, "refused (symbolic link leads outside)");
            return;
        }
        if (!placer_.Target().MakeLink(path, linkTarget)) {
            events_.Failed(Problem::kCannotWrite, described,
                           std::string("cannot make the link: ") + std::strerror(errno));
            return;
        }
        placer_.Made(path);
        events_.Done(described);
    }

    const tar::ExtractOptions& options_;
    tar::ExtractEvents& events_;
    tar::MemberPlacer placer_;
    unsigned umask_;
};

}  // namespace

bool IsOlderFormat(const std::string& path) {
    try {
        const auto input = rar::OpenFile(path);
        return rar::FindArchive(*input).has_value();
    } catch (const rar::Error&) {
        return false;
    }
}

std::vector<tar::Member> OlderMembers(const std::string& path) {
    OlderSet set(path);
    std::vector<tar::Member> members;
    while (auto member = set.Next()) {
        members.push_back(Describe(*member));
    }
    return members;
}

namespace {

class Cursor final : public exports::ArchiveCursor {
  public:
    using Selects = std::function<bool(std::string_view name, std::string_view mask)>;
    Cursor(std::vector<exports::ListedMember> members, std::vector<std::string> names,
           Selects selects)
        : members_(std::move(members)), names_(std::move(names)), selects_(std::move(selects)) {}

    void Restart() override { next_ = 0; }
    int Next(std::string_view mask, exports::ListedMember& listed) override {
        const bool every = mask.empty() || mask == "*" || mask == "*.*";
        while (next_ < members_.size()) {
            const std::size_t at = next_++;
            if (every || selects_(names_[at], mask)) {
                listed = members_[at];
                return 0;
            }
        }
        return exports::kNoMoreMembers;
    }

  private:
    std::vector<exports::ListedMember> members_;
    std::vector<std::string> names_;
    Selects selects_;
    std::size_t next_ = 0;
};

}  // namespace

std::unique_ptr<exports::ArchiveCursor> OlderCursor(
    const std::string& path, std::function<bool(std::string_view, std::string_view)> selects) {
    try {
        OlderSet set(path);
        std::vector<exports::ListedMember> members;
        std::vector<std::string> names;
        while (auto member = set.Next()) {
            const tar::Member described = Describe(*member);
            exports::ListedMember listed = tar::ToListed(described, "RAR");
            if (described.kind != MemberKind::kDirectory) {
                listed.compressedSize = member->packedSize;
                listed.record.compressed_size = common::Clamp32(member->packedSize);
                listed.record.ratio = common::CompressionRatio(member->packedSize, member->size);
                listed.record.crc = member->crc;
            }
            members.push_back(listed);
            names.push_back(described.name);
        }
        return std::make_unique<Cursor>(std::move(members), std::move(names), std::move(selects));
    } catch (const std::exception&) {
        return nullptr;
    }
}

tar::ExtractSummary OlderExtract(const std::string& path, const tar::ExtractOptions& options,
                                 tar::ExtractEvents& events) {
    Extractor extractor(options, events);
    return extractor.Run(path);
}

int OlderExtractToMemory(const std::string& path,
                         const std::function<bool(const tar::Member&)>& selects,
                         std::span<std::byte> buffer, exports::MemoryResult& result) {
    OlderSet set(path);
    while (auto member = set.Next()) {
        const tar::Member described = Describe(*member);
        if (described.kind != MemberKind::kFile || !selects(described)) {
            continue;
        }
        std::size_t stored = 0;
        std::uint64_t total = 0;
        set.Extract(*member,
                    [&](std::span<const std::byte> data) {
                        const std::size_t take = std::min(buffer.size() - stored, data.size());
                        std::memcpy(buffer.data() + stored, data.data(), take);
                        stored += take;
                        total += data.size();
                    },
                    {});
        result.written = static_cast<std::uint32_t>(stored);
        result.unixTime = described.mtime.value_or(0);
        result.attributes = (described.mode & 0200) == 0 ? 0x21 : 0x20;
        if (total > stored) {
            throw common::BufferTooSmall(stored, total);
        }
        return ARC_OK;
    }
    throw common::NoMemberMatches();
}

}  // namespace zembrat::unrar32
