// The binding: the only code that touches an archiver library. It loads the library on
// demand, looks each entry up by name the first time it is needed, keeps the address, and
// turns a missing library or entry into a component exception.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "archiver_api.h"
#include "platform/dynamic_library.h"
#include "platform/file_time.h"
#include "platform/messages.h"

namespace zembrat::archives {

using platform::WindowHandle;

#pragma pack(push, 1)
// A listing record: the library's 558 bytes followed by the binding's times and 64-bit
// sizes (598 bytes).
struct TArchiveEntryInfo {
    ARCHIVE_ENTRY_RECORD record;
    platform::FileTime lastWriteTime;
    platform::FileTime lastAccessTime;
    platform::FileTime creationTime;
    std::uint64_t originalSize;
    std::uint64_t compressedSize;
};
#pragma pack(pop)
static_assert(sizeof(TArchiveEntryInfo) == 598);
static_assert(offsetof(TArchiveEntryInfo, lastWriteTime) == 558);
static_assert(offsetof(TArchiveEntryInfo, compressedSize) == 590);

// The entries of the function family, in the order the binding keeps them.
enum class Entry : std::size_t {
    Command,
    OpenArchive,
    CloseArchive,
    FindFirst,
    FindNext,
    ExtractMem,
    CheckArchive,
    SetOwnerWindowEx,
    KillOwnerWindowEx,
    GetWriteTimeEx,
    GetCreateTimeEx,
    GetAccessTimeEx,
    GetOriginalSizeEx,
    GetCompressedSizeEx,
    GetArchiveType,
};
inline constexpr std::size_t kEntryCount = 15;

// The name suffix of an entry ("" for the command entry, named by the prefix alone).
const char* EntrySuffix(Entry entry);

// Owns the cached entry addresses and the call logic; which library, and how an entry is
// found, is the business of the descendants.
class TCustomArchiverDll {
  public:
    virtual ~TCustomArchiverDll() = default;

    virtual void LoadDLL() = 0;
    // Empties every cached entry.
    virtual void FreeDLL();
    // A null output buffer is passed when its size is 0.
    virtual int Command(WindowHandle window, const std::string& commandLine, char* output,
                        std::uint32_t outputSize);
    virtual int CheckArchive(const std::string& archive, int mode);
    virtual int CloseArchive(HARC archive);
    virtual int ExtractMem(WindowHandle window, const std::string& commandLine,
                           unsigned char* buffer, std::uint32_t bufferSize, std::int64_t* timeStamp,
                           std::uint16_t* attributes, std::uint32_t* written);
    // On 0 (an entry was found) the record's times and 64-bit sizes are filled too.
    virtual int FindFirst(HARC archive, const std::string& wildcard, TArchiveEntryInfo& entry);
    virtual int FindNext(HARC archive, TArchiveEntryInfo& entry);
    virtual int KillOwnerWindowEx(WindowHandle window);
    virtual HARC OpenArchive(WindowHandle window, const std::string& archive, std::uint32_t mode);
    virtual int SetOwnerWindowEx(WindowHandle window, ARC_PROGRESS_PROC procedure);
    // The optional getters answer false without a call when the entry is absent.
    virtual bool GetWriteTimeEx(HARC archive, platform::FileTime& time);
    virtual bool GetCreateTimeEx(HARC archive, platform::FileTime& time);
    virtual bool GetAccessTimeEx(HARC archive, platform::FileTime& time);
    virtual bool GetOriginalSizeEx(HARC archive, std::uint64_t& size);
    virtual bool GetCompressedSizeEx(HARC archive, std::uint64_t& size);
    virtual int GetArchiveType(const std::string& archive);

    // The cached address of an entry, nullptr while it is not resolved.
    void* CachedEntry(Entry entry) const { return entries_[static_cast<std::size_t>(entry)]; }

    // How many name lookups the binding made so far (entries are cached after the first).
    std::size_t LookupCount() const { return lookups_; }

  protected:
    void*& EntryField(Entry entry) { return entries_[static_cast<std::size_t>(entry)]; }
    template <class Function>
    Function Cached(Entry entry) const {
        return reinterpret_cast<Function>(CachedEntry(entry));
    }
    // Times and sizes from the optional getters, with the DOS date/time and the 32-bit
    // sizes of the record where a getter is absent.
    void FillExtendedInfo(HARC archive, TArchiveEntryInfo& entry);
    // The general resolver: an entry already cached answers true at once; otherwise the
    // name is looked up in the module and kept. A missing required entry raises
    // EEntryNotFound naming the module's full path; a missing optional one answers false and
    // stays empty, to be looked up again next time.
    bool ResolveEntry(Entry entry, platform::ModuleHandle module, const std::string& name,
                      bool mustExist);

  private:
    std::array<void*, kEntryCount> entries_{};
    std::size_t lookups_ = 0;
};

// The binding of a library whose entries are named prefix + suffix.
class TArchiverDll : public TCustomArchiverDll {
  public:
    // Only stores the names: nothing is loaded.
    TArchiverDll(std::string kindName, std::string dllName, std::string prefix);
    ~TArchiverDll() override;
    TArchiverDll(const TArchiverDll&) = delete;
    TArchiverDll& operator=(const TArchiverDll&) = delete;

    // Loads DllName when not loaded; ENoArchiverDLL when that fails.
    void LoadDLL() override;
    // Empties the entries and unloads the library.
    void FreeDLL() override;

    int Command(WindowHandle window, const std::string& commandLine, char* output,
                std::uint32_t outputSize) override;
    int CheckArchive(const std::string& archive, int mode) override;
    int CloseArchive(HARC archive) override;
    int ExtractMem(WindowHandle window, const std::string& commandLine, unsigned char* buffer,
                   std::uint32_t bufferSize, std::int64_t* timeStamp, std::uint16_t* attributes,
                   std::uint32_t* written) override;
    int FindFirst(HARC archive, const std::string& wildcard, TArchiveEntryInfo& entry) override;
    int FindNext(HARC archive, TArchiveEntryInfo& entry) override;
    int KillOwnerWindowEx(WindowHandle window) override;
    HARC OpenArchive(WindowHandle window, const std::string& archive, std::uint32_t mode) override;
    int SetOwnerWindowEx(WindowHandle window, ARC_PROGRESS_PROC procedure) override;
    bool GetWriteTimeEx(HARC archive, platform::FileTime& time) override;
    bool GetCreateTimeEx(HARC archive, platform::FileTime& time) override;
    bool GetAccessTimeEx(HARC archive, platform::FileTime& time) override;
    bool GetOriginalSizeEx(HARC archive, std::uint64_t& size) override;
    bool GetCompressedSizeEx(HARC archive, std::uint64_t& size) override;
    int GetArchiveType(const std::string& archive) override;

    platform::ModuleHandle Handle() const { return handle_; }
    const std::string& KindName() const { return kindName_; }
    const std::string& DllName() const { return dllName_; }
    const std::string& Prefix() const { return prefix_; }

  private:
    // The general resolver on this library, with the name prefix + suffix.
    bool ResolveEntry(Entry entry, bool mustExist);

    platform::ModuleHandle handle_ = nullptr;
    std::string kindName_;
    std::string dllName_;
    std::string prefix_;
};

// The binding one kind of driver shares among all its objects and its content probe: made and
// loaded by the first Load, gone after Free. A call after Free reports the library as missing,
// as a failed load does, instead of reaching through nothing.
class TSharedDllBinding {
  public:
    TSharedDllBinding(std::string kindName, std::string dllName, std::string prefix)
        : kindName_(std::move(kindName)),
          dllName_(std::move(dllName)),
          prefix_(std::move(prefix)) {}

    // A binding whose load failed is not retried here; its next call reports it.
    void Load();
    void Free() { binding_.reset(); }
    // nullptr before the first Load or after Free.
    TArchiverDll* Get() const { return binding_.get(); }
    // The binding, or ENoArchiverDLL when there is none.
    TArchiverDll& Loaded() const;

  private:
    std::string kindName_;
    std::string dllName_;
    std::string prefix_;
    std::unique_ptr<TArchiverDll> binding_;
};

}  // namespace zembrat::archives
