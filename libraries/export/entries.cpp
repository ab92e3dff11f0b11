#include "export/entries.h"

#include "platform/messages.h"

#include <cstring>
#include <map>
#include <mutex>
#include <optional>

namespace zembrat::exports {

namespace {

struct OpenedArchive {
    std::unique_ptr<ArchiveCursor> cursor;
    std::string mask;
    std::optional<ListedMember> current;
};

// Every library keeps its own table: the layer is linked into each one, its symbols hidden.
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

int FindMatching(OpenedArchive& archive, ARCHIVE_ENTRY_RECORD* entry) {
    try {
        ListedMember member;
        const int code = archive.cursor->Next(archive.mask, member);
        if (code != 0) {
            archive.current.reset();
            return code;
        }
        archive.current = std::move(member);
        if (entry) {
            *entry = archive.current->record;
        }
        return 0;
    } catch (...) {
        archive.current.reset();
        return ARC_ERROR_INTERNAL;
    }
}

}  // namespace

common::ProgressReporter CurrentReporter(const Backend& backend) {
    const platform::ProgressOwner owner = platform::GetProgressOwner(backend.Family());
    if (owner.window == 0 && owner.procedure == nullptr) {
        return {};
    }
    return common::ProgressReporter(owner.window,
                                    reinterpret_cast<ARC_PROGRESS_PROC>(owner.procedure));
}

int Command(Backend& backend, const char* commandLine, char* output, std::uint32_t outputSize) {
    try {
        Context context;
        context.progress = CurrentReporter(backend);
        const int code = backend.RunCommand(commandLine ? commandLine : "", context);
        context.output.CopyTo(output, outputSize);
        return code;
    } catch (...) {
        if (output && outputSize > 0) {
            output[0] = '\0';
        }
        return ARC_ERROR_INTERNAL;
    }
}

HARC OpenArchive(Backend& backend, const char* archive, std::uint32_t mode) {
    if (!archive) {
        return 0;
    }
    try {
        auto opened = std::make_unique<OpenedArchive>();
        opened->cursor = backend.OpenArchive(archive, mode);
        if (!opened->cursor) {
            return 0;
        }
        return Handles().Add(std::move(opened));
    } catch (...) {
        return 0;
    }
}

int CloseArchive(HARC archive) {
    return Handles().Remove(archive) ? 0 : ARC_ERROR_BAD_COMMAND;
}

int FindFirst(HARC handle, const char* wildcard, ARCHIVE_ENTRY_RECORD* entry) {
    OpenedArchive* archive = Handles().Find(handle);
    if (!archive) {
        return ARC_ERROR_BAD_COMMAND;
    }
    try {
        archive->cursor->Restart();
        archive->mask = wildcard ? wildcard : "";
        return FindMatching(*archive, entry);
    } catch (...) {
        archive->current.reset();
        return ARC_ERROR_BROKEN_ARCHIVE;
    }
}

int FindNext(HARC handle, ARCHIVE_ENTRY_RECORD* entry) {
    OpenedArchive* archive = Handles().Find(handle);
    if (!archive) {
        return ARC_ERROR_BAD_COMMAND;
    }
    return FindMatching(*archive, entry);
}

int CheckArchive(Backend& backend, const char* archive, int mode) {
    if (!archive) {
        return 0;
    }
    try {
        return backend.CheckArchive(archive, mode) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SetOwnerWindowEx(const Backend& backend, ARC_HWND window, ARC_PROGRESS_PROC procedure) {
    platform::SetProgressOwner(backend.Family(), {window, reinterpret_cast<void*>(procedure)});
    return 1;
}

int KillOwnerWindowEx(const Backend& backend, ARC_HWND window) {
    return platform::ClearProgressOwner(backend.Family(), window) ? 1 : 0;
}

int ExtractMem(Backend& backend, const char* commandLine, unsigned char* buffer,
               std::uint32_t bufferSize, std::int64_t* timeStamp, std::uint16_t* attributes,
               std::uint32_t* written) {
    if (written) {
        *written = 0;
    }
    try {
        Context context;
        context.progress = CurrentReporter(backend);
        MemoryResult result;
        const std::span<std::byte> target(reinterpret_cast<std::byte*>(buffer),
                                          buffer ? bufferSize : 0);
        const int code =
            backend.ExtractToMemory(commandLine ? commandLine : "", target, result, context);
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
    } catch (...) {
        return ARC_ERROR_INTERNAL;
    }
}

int GetValue(HARC handle, Value value, std::uint64_t* result) {
    OpenedArchive* archive = Handles().Find(handle);
    if (!archive || !archive->current || !result) {
        return 0;
    }
    const ListedMember& member = *archive->current;
    std::optional<std::uint64_t> found;
    switch (value) {
        case Value::kWriteTime:
            found = member.writeTime;
            break;
        case Value::kCreateTime:
            found = member.createTime;
            break;
        case Value::kAccessTime:
            found = member.accessTime;
            break;
        case Value::kOriginalSize:
            found = member.originalSize;
            break;
        case Value::kCompressedSize:
            found = member.compressedSize;
            break;
    }
    if (!found) {
        return 0;
    }
    *result = *found;
    return 1;
}

}  // namespace zembrat::exports
