// The C entries of libunlha32.so: the function family of the library contract. No exception
// ever leaves these functions.
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "archiver_api.h"
#include "lha/archive.h"
#include "unlha32/archive_source.h"
#include "unlha32/operations.h"

namespace zembrat::unlha32 {
namespace {

struct OwnerWindow {
    ARC_HWND window = 0;
    ARC_PROGRESS_PROC procedure = nullptr;
};

std::mutex& OwnerMutex() {
    static std::mutex mutex;
    return mutex;
}

OwnerWindow& Owner() {
    static OwnerWindow owner;
    return owner;
}

common::ProgressReporter CurrentReporter() {
    std::lock_guard lock(OwnerMutex());
    const OwnerWindow owner = Owner();
    if (owner.window == 0 && owner.procedure == nullptr) {
        return {};
    }
    return common::ProgressReporter(owner.window, owner.procedure);
}

struct OpenedArchive {
    std::unique_ptr<ArchiveSource> source;
    std::string mask;
    std::optional<lha::Member> current;
};

class HandleTable {
  public:
    HARC Add(std::unique_ptr<OpenedArchive> archive) {
        std::lock_guard lock(mutex_);
        const HARC handle = next_++;
        archives_[handle] = std::move(archive);
        return handle;
    }
    bool Remove(HARC handle) {
        std::lock_guard lock(mutex_);
        return archives_.erase(handle) != 0;
    }
    // Handles are used by one caller at a time, as the contract's single UI thread does.
    OpenedArchive* Find(HARC handle) {
        std::lock_guard lock(mutex_);
        const auto found = archives_.find(handle);
        return found == archives_.end() ? nullptr : found->second.get();
    }

  private:
    std::mutex mutex_;
    std::map<HARC, std::unique_ptr<OpenedArchive>> archives_;
    HARC next_ = 1;
};

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

constexpr int kNoMoreEntries = -1;

int FindMatching(OpenedArchive& archive, ARCHIVE_ENTRY_RECORD* entry) {
    try {
        while (auto member = archive.source->Reader().Next()) {
            const std::string name = HostName(*member);
            if (archive.mask.empty() || archive.mask == "*" || archive.mask == "*.*" ||
                MatchesAny(name, {archive.mask})) {
                archive.current = std::move(member);
                if (entry) {
                    FillEntryRecord(*archive.current, *entry);
                }
                return 0;
            }
        }
        archive.current.reset();
        return kNoMoreEntries;
    } catch (const lha::Error& error) {
        archive.current.reset();
        return ResultFor(error);
    } catch (...) {
        archive.current.reset();
        return ARC_ERROR_INTERNAL;
    }
}

template <typename Getter>
int GetValue(HARC handle, std::uint64_t* value, Getter getter) {
    OpenedArchive* archive = Handles().Find(handle);
    if (!archive || !archive->current || !value) {
        return 0;
    }
    const std::optional<std::uint64_t> result = getter(*archive->current);
    if (!result) {
        return 0;
    }
    *value = *result;
    return 1;
}

}  // namespace
}  // namespace zembrat::unlha32

using namespace zembrat::unlha32;

// Only these entries are visible outside the library (see exports.map).
#define UNLHA_EXPORT __attribute__((visibility("default")))

extern "C" {

UNLHA_EXPORT int Unlha(ARC_HWND /*window*/, const char* commandLine, char* output,
                       uint32_t outputSize) {
    try {
        Context context{CurrentReporter(), {}};
        const int code = RunCommandLine(commandLine ? commandLine : "", context);
        context.output.CopyTo(output, outputSize);
        return code;
    } catch (...) {
        if (output && outputSize > 0) {
            output[0] = '\0';
        }
        return ARC_ERROR_INTERNAL;
    }
}

UNLHA_EXPORT HARC UnlhaOpenArchive(ARC_HWND /*window*/, const char* archive, uint32_t mode) {
    if (!archive) {
        return 0;
    }
    try {
        auto opened = std::make_unique<OpenedArchive>();
        opened->source = std::make_unique<ArchiveSource>(archive, (mode & ARC_OPEN_EMBEDDED) != 0);
        return Handles().Add(std::move(opened));
    } catch (...) {
        return 0;
    }
}

UNLHA_EXPORT int UnlhaCloseArchive(HARC archive) {
    return Handles().Remove(archive) ? 0 : ARC_ERROR_BAD_COMMAND;
}

UNLHA_EXPORT int UnlhaFindFirst(HARC handle, const char* wildcard, ARCHIVE_ENTRY_RECORD* entry) {
    OpenedArchive* archive = Handles().Find(handle);
    if (!archive) {
        return ARC_ERROR_BAD_COMMAND;
    }
    try {
        archive->source->Restart();
        archive->mask = wildcard ? wildcard : "";
        return FindMatching(*archive, entry);
    } catch (...) {
        archive->current.reset();
        return ARC_ERROR_BROKEN_ARCHIVE;
    }
}

UNLHA_EXPORT int UnlhaFindNext(HARC handle, ARCHIVE_ENTRY_RECORD* entry) {
    OpenedArchive* archive = Handles().Find(handle);
    if (!archive) {
        return ARC_ERROR_BAD_COMMAND;
    }
    return FindMatching(*archive, entry);
}

UNLHA_EXPORT int UnlhaCheckArchive(const char* archive, int mode) {
    if (!archive) {
        return 0;
    }
    try {
        return CheckArchive(archive, mode) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

UNLHA_EXPORT int UnlhaSetOwnerWindowEx(ARC_HWND window, ARC_PROGRESS_PROC procedure) {
    std::lock_guard lock(OwnerMutex());
    Owner() = OwnerWindow{window, procedure};
    return 1;
}

UNLHA_EXPORT int UnlhaKillOwnerWindowEx(ARC_HWND window) {
    std::lock_guard lock(OwnerMutex());
    if (Owner().window != window) {
        return 0;
    }
    Owner() = OwnerWindow{};
    return 1;
}

UNLHA_EXPORT int UnlhaExtractMem(ARC_HWND /*window*/, const char* commandLine,
                                 unsigned char* buffer, uint32_t bufferSize, int64_t* timeStamp,
                                 uint16_t* attributes, uint32_t* written) {
    if (written) {
        *written = 0;
    }
    try {
        Context context{CurrentReporter(), {}};
        const Request request = ParseCommandLine(commandLine ? commandLine : "", false);
        MemoryResult result;
        int code = 0;
        try {
            const std::span<std::byte> target(reinterpret_cast<std::byte*>(buffer),
                                              buffer ? bufferSize : 0);
            code = ExtractToMemory(request, target, result, context);
        } catch (const Failure& failure) {
            code = failure.Code();
        }
        if (written) {
            *written = result.written;
        }
        if (timeStamp && result.written > 0) {
            *timeStamp = result.unixTime;
        }
        if (attributes && result.written > 0) {
            *attributes = result.attributes;
        }
        return code;
    } catch (const Failure& failure) {
        return failure.Code();
    } catch (...) {
        return ARC_ERROR_INTERNAL;
    }
}

UNLHA_EXPORT int UnlhaGetWriteTimeEx(HARC archive, uint64_t* fileTime) {
    return GetValue(archive, fileTime, [](const zembrat::lha::Member& member) {
        return std::optional<std::uint64_t>(WriteTime(member));
    });
}

UNLHA_EXPORT int UnlhaGetCreateTimeEx(HARC archive, uint64_t* fileTime) {
    return GetValue(archive, fileTime, [](const zembrat::lha::Member& member) {
        return std::optional<std::uint64_t>(member.windowsCreateTime);
    });
}

UNLHA_EXPORT int UnlhaGetAccessTimeEx(HARC archive, uint64_t* fileTime) {
    return GetValue(archive, fileTime, [](const zembrat::lha::Member& member) {
        return std::optional<std::uint64_t>(member.windowsAccessTime);
    });
}

UNLHA_EXPORT int UnlhaGetOriginalSizeEx(HARC archive, uint64_t* size) {
    return GetValue(archive, size, [](const zembrat::lha::Member& member) {
        return std::optional<std::uint64_t>(member.originalSize);
    });
}

UNLHA_EXPORT int UnlhaGetCompressedSizeEx(HARC archive, uint64_t* size) {
    return GetValue(archive, size, [](const zembrat::lha::Member& member) {
        return std::optional<std::uint64_t>(member.compressedSize);
    });
}

}  // extern "C"
