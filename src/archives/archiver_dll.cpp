#include "archives/archiver_dll.h"

#include "archives/archiver_errors.h"

namespace zembrat::archives {

namespace {

std::string MissingLibraryMessage(const std::string& kindName, const std::string& dllName) {
    return FormatMessage("%0:s を扱うには %1:s が 必要です。", {kindName, dllName});
}

}  // namespace

namespace {

constexpr const char* kSuffixes[kEntryCount] = {
    "",
    "OpenArchive",
    "CloseArchive",
    "FindFirst",
    "FindNext",
    "ExtractMem",
    "CheckArchive",
    "SetOwnerWindowEx",
    "KillOwnerWindowEx",
    "GetWriteTimeEx",
    "GetCreateTimeEx",
    "GetAccessTimeEx",
    "GetOriginalSizeEx",
    "GetCompressedSizeEx",
    "GetArchiveType",
};

// The file-name buffer the message is built from holds at most 256 characters.
constexpr std::size_t kModuleNameLimit = 256;

}  // namespace

const char* EntrySuffix(Entry entry) {
    return kSuffixes[static_cast<std::size_t>(entry)];
}

// ---- TCustomArchiverDll: calls the cached addresses -------------------------------------

void TCustomArchiverDll::FreeDLL() {
    entries_.fill(nullptr);
}

int TCustomArchiverDll::Command(WindowHandle window, const std::string& commandLine, char* output,
                                std::uint32_t outputSize) {
    return Cached<ARC_COMMAND>(Entry::Command)(window, commandLine.c_str(),
                                               outputSize == 0 ? nullptr : output, outputSize);
}

int TCustomArchiverDll::CheckArchive(const std::string& archive, int mode) {
    return Cached<ARC_CHECK_ARCHIVE>(Entry::CheckArchive)(archive.c_str(), mode);
}

int TCustomArchiverDll::CloseArchive(HARC archive) {
    return Cached<ARC_CLOSE_ARCHIVE>(Entry::CloseArchive)(archive);
}

int TCustomArchiverDll::ExtractMem(WindowHandle window, const std::string& commandLine,
                                   unsigned char* buffer, std::uint32_t bufferSize,
                                   std::int64_t* timeStamp, std::uint16_t* attributes,
                                   std::uint32_t* written) {
    return Cached<ARC_EXTRACT_MEM>(Entry::ExtractMem)(window, commandLine.c_str(), buffer,
                                                      bufferSize, timeStamp, attributes, written);
}

int TCustomArchiverDll::FindFirst(HARC archive, const std::string& wildcard,
                                  TArchiveEntryInfo& entry) {
    const int result =
        Cached<ARC_FIND_FIRST>(Entry::FindFirst)(archive, wildcard.c_str(), &entry.record);
    if (result == 0) {
        FillExtendedInfo(archive, entry);
    }
    return result;
}

int TCustomArchiverDll::FindNext(HARC archive, TArchiveEntryInfo& entry) {
    const int result = Cached<ARC_FIND_NEXT>(Entry::FindNext)(archive, &entry.record);
    if (result == 0) {
        FillExtendedInfo(archive, entry);
    }
    return result;
}

int TCustomArchiverDll::KillOwnerWindowEx(WindowHandle window) {
    return Cached<ARC_KILL_OWNER_WINDOW_EX>(Entry::KillOwnerWindowEx)(window);
}

HARC TCustomArchiverDll::OpenArchive(WindowHandle window, const std::string& archive,
                                     std::uint32_t mode) {
    return Cached<ARC_OPEN_ARCHIVE>(Entry::OpenArchive)(window, archive.c_str(), mode);
}

int TCustomArchiverDll::SetOwnerWindowEx(WindowHandle window, ARC_PROGRESS_PROC procedure) {
    return Cached<ARC_SET_OWNER_WINDOW_EX>(Entry::SetOwnerWindowEx)(window, procedure);
}

namespace {

template <class Value>
bool CallOptionalGetter(void* address, HARC archive, Value& value) {
    if (address == nullptr) {
        return false;
    }
    using Getter = int (*)(HARC, Value*);
    return reinterpret_cast<Getter>(address)(archive, &value) != 0;
}

}  // namespace

bool TCustomArchiverDll::GetWriteTimeEx(HARC archive, platform::FileTime& time) {
    return CallOptionalGetter(CachedEntry(Entry::GetWriteTimeEx), archive, time);
}

bool TCustomArchiverDll::GetCreateTimeEx(HARC archive, platform::FileTime& time) {
    return CallOptionalGetter(CachedEntry(Entry::GetCreateTimeEx), archive, time);
}

bool TCustomArchiverDll::GetAccessTimeEx(HARC archive, platform::FileTime& time) {
    return CallOptionalGetter(CachedEntry(Entry::GetAccessTimeEx), archive, time);
}

bool TCustomArchiverDll::GetOriginalSizeEx(HARC archive, std::uint64_t& size) {
    return CallOptionalGetter(CachedEntry(Entry::GetOriginalSizeEx), archive, size);
}

bool TCustomArchiverDll::GetCompressedSizeEx(HARC archive, std::uint64_t& size) {
    return CallOptionalGetter(CachedEntry(Entry::GetCompressedSizeEx), archive, size);
}

int TCustomArchiverDll::GetArchiveType(const std::string& archive) {
    return Cached<ARC_GET_ARCHIVE_TYPE>(Entry::GetArchiveType)(archive.c_str());
}

void TCustomArchiverDll::FillExtendedInfo(HARC archive, TArchiveEntryInfo& entry) {
    const platform::FileTime dosTime =
        platform::DosDateTimeToFileTime(entry.record.dos_date, entry.record.dos_time);
    platform::FileTime time = 0;
    entry.lastWriteTime = GetWriteTimeEx(archive, time) ? time : dosTime;
    entry.lastAccessTime = GetAccessTimeEx(archive, time) ? time : dosTime;
    entry.creationTime = GetCreateTimeEx(archive, time) ? time : dosTime;
    std::uint64_t size = 0;
    entry.originalSize = GetOriginalSizeEx(archive, size) ? size : entry.record.original_size;
    entry.compressedSize = GetCompressedSizeEx(archive, size) ? size : entry.record.compressed_size;
}

bool TCustomArchiverDll::ResolveEntry(Entry entry, platform::ModuleHandle module,
                                      const std::string& name, bool mustExist) {
    void*& field = EntryField(entry);
    if (field != nullptr) {
        return true;
    }
    ++lookups_;
    field = platform::GetProcAddress(module, name.c_str());
    if (field != nullptr) {
        return true;
    }
    if (!mustExist) {
        return false;
    }
    std::string moduleName = platform::GetModuleFileName(module);
    if (moduleName.size() > kModuleNameLimit) {
        moduleName.resize(kModuleNameLimit);
    }
    throw EEntryNotFound(
        FormatMessage("%0:s に %1:s のエントリが見つかりません。", {moduleName, name}));
}

// ---- TArchiverDll: loads, resolves, then calls ------------------------------------------

TArchiverDll::TArchiverDll(std::string kindName, std::string dllName, std::string prefix)
    : kindName_(std::move(kindName)), dllName_(std::move(dllName)), prefix_(std::move(prefix)) {}

TArchiverDll::~TArchiverDll() {
    TArchiverDll::FreeDLL();
}

void TArchiverDll::LoadDLL() {
    if (handle_ == nullptr) {
        handle_ = platform::LoadLibrary(dllName_);
    }
    if (handle_ == nullptr) {
        throw ENoArchiverDLL(MissingLibraryMessage(kindName_, dllName_));
    }
}

void TArchiverDll::FreeDLL() {
    TCustomArchiverDll::FreeDLL();
    if (handle_ != nullptr) {
        platform::FreeLibrary(handle_);
        handle_ = nullptr;
    }
}

bool TArchiverDll::ResolveEntry(Entry entry, bool mustExist) {
    return TCustomArchiverDll::ResolveEntry(entry, handle_, prefix_ + EntrySuffix(entry),
                                            mustExist);
}

int TArchiverDll::Command(WindowHandle window, const std::string& commandLine, char* output,
                          std::uint32_t outputSize) {
    LoadDLL();
    ResolveEntry(Entry::Command, true);
    return TCustomArchiverDll::Command(window, commandLine, output, outputSize);
}

int TArchiverDll::CheckArchive(const std::string& archive, int mode) {
    LoadDLL();
    ResolveEntry(Entry::CheckArchive, true);
    return TCustomArchiverDll::CheckArchive(archive, mode);
}

int TArchiverDll::CloseArchive(HARC archive) {
    LoadDLL();
    ResolveEntry(Entry::CloseArchive, true);
    return TCustomArchiverDll::CloseArchive(archive);
}

int TArchiverDll::ExtractMem(WindowHandle window, const std::string& commandLine,
                             unsigned char* buffer, std::uint32_t bufferSize,
                             std::int64_t* timeStamp, std::uint16_t* attributes,
                             std::uint32_t* written) {
    ResolveEntry(Entry::ExtractMem, true);
    return TCustomArchiverDll::ExtractMem(window, commandLine, buffer, bufferSize, timeStamp,
                                          attributes, written);
}

int TArchiverDll::FindFirst(HARC archive, const std::string& wildcard, TArchiveEntryInfo& entry) {
    LoadDLL();
    ResolveEntry(Entry::FindFirst, true);
    return TCustomArchiverDll::FindFirst(archive, wildcard, entry);
}

int TArchiverDll::FindNext(HARC archive, TArchiveEntryInfo& entry) {
    ResolveEntry(Entry::FindNext, true);
    return TCustomArchiverDll::FindNext(archive, entry);
}

int TArchiverDll::KillOwnerWindowEx(WindowHandle window) {
    ResolveEntry(Entry::KillOwnerWindowEx, true);
    return TCustomArchiverDll::KillOwnerWindowEx(window);
}

HARC TArchiverDll::OpenArchive(WindowHandle window, const std::string& archive,
                               std::uint32_t mode) {
    LoadDLL();
    ResolveEntry(Entry::OpenArchive, true);
    return TCustomArchiverDll::OpenArchive(window, archive, mode);
}

int TArchiverDll::SetOwnerWindowEx(WindowHandle window, ARC_PROGRESS_PROC procedure) {
    ResolveEntry(Entry::SetOwnerWindowEx, true);
    return TCustomArchiverDll::SetOwnerWindowEx(window, procedure);
}

bool TArchiverDll::GetWriteTimeEx(HARC archive, platform::FileTime& time) {
    ResolveEntry(Entry::GetWriteTimeEx, false);
    return TCustomArchiverDll::GetWriteTimeEx(archive, time);
}

bool TArchiverDll::GetCreateTimeEx(HARC archive, platform::FileTime& time) {
    ResolveEntry(Entry::GetCreateTimeEx, false);
    return TCustomArchiverDll::GetCreateTimeEx(archive, time);
}

bool TArchiverDll::GetAccessTimeEx(HARC archive, platform::FileTime& time) {
    ResolveEntry(Entry::GetAccessTimeEx, false);
    return TCustomArchiverDll::GetAccessTimeEx(archive, time);
}

bool TArchiverDll::GetOriginalSizeEx(HARC archive, std::uint64_t& size) {
    ResolveEntry(Entry::GetOriginalSizeEx, false);
    return TCustomArchiverDll::GetOriginalSizeEx(archive, size);
}

bool TArchiverDll::GetCompressedSizeEx(HARC archive, std::uint64_t& size) {
    ResolveEntry(Entry::GetCompressedSizeEx, false);
    return TCustomArchiverDll::GetCompressedSizeEx(archive, size);
}

int TArchiverDll::GetArchiveType(const std::string& archive) {
    LoadDLL();
    ResolveEntry(Entry::GetArchiveType, true);
    return TCustomArchiverDll::GetArchiveType(archive);
}

// ---- TSharedDllBinding --------------------------------------------------------------------

void TSharedDllBinding::Load() {
    if (binding_) {
        return;
    }
    binding_ = std::make_unique<TArchiverDll>(kindName_, dllName_, prefix_);
    binding_->LoadDLL();
}

TArchiverDll& TSharedDllBinding::Loaded() const {
    if (!binding_) {
        throw ENoArchiverDLL(MissingLibraryMessage(kindName_, dllName_));
    }
    return *binding_;
}

}  // namespace zembrat::archives
