#include "drivers/zip32.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "archives/archiver_errors.h"
#include "archives/archiver_types.h"
#include "archives/cmd_opt.h"
#include "platform/file_system.h"
#include "platform/system_folders.h"

namespace zembrat::drivers {

using archives::Entry;
using archives::TCmdOpt;

namespace {

// The Windows names; the platform maps them to libunzip32.so and so on.
constexpr std::array<const char*, 3> kLibraryNames = {"UNZIP32.DLL", "ZIP32J.DLL", "LMZIP32.DLL"};

constexpr const char* kEntryMissing = "%0:s のエントリが DLL に見つかりませんでした。";
constexpr const char* kUnpackNeedsLibrary =
    "ZIP 形式書庫の解凍には UNZIP32.DLL または LMZIP32.DLL が必要です。";
constexpr const char* kPackNeedsLibrary =
    "ZIP 形式書庫の作成には ZIP32J.DLL または LMZIP32.DLL が必要です。";
constexpr const char* kSfxNeedsZip32j =
    "ZIP 形式書庫からの自己解凍書庫作成には ZIP32J.DLL が必要です。";
constexpr const char* kWin32StubMissing =
    "zip 書庫からのWin32自己解凍書庫の作成には sfx32gui.dat が必要です。";
constexpr const char* kDosStubMissing =
    "zip 書庫からのDOS自己解凍書庫の作成には sfx16.dat が必要です。";

// The content probe: the check mode, then an open that looks inside self-extracting files.
constexpr int kProbeCheckMode = 0x18;
constexpr std::uint32_t kProbeOpenMode = 0x00800002;

// Shared by every TZip32 and by IsZipArchive.
std::unique_ptr<TZipDll>& ZipBinding() {
    static std::unique_ptr<TZipDll> binding;
    return binding;
}

std::string EntryMissingMessage(std::string_view entryName) {
    return archives::FormatMessage(kEntryMissing, {std::string(entryName)});
}

// The binding a call goes through. After FreeDLL there is none: the call then fails as it
// would with no ZIP library loaded, naming the entry it needed, instead of reaching through
// nothing.
TZipDll& Loaded(std::string_view entryName) {
    if (TZipDll* binding = ZipBinding().get()) {
        return *binding;
    }
    throw archives::EEntryNotFound(EntryMissingMessage(entryName));
}

// Whether the library was loaded when the binding last tried; no new attempt.
bool IsLoaded(ZipLibrary library) {
    const TZipDll* binding = ZipBinding().get();
    return binding != nullptr && binding->Handle(library) != nullptr;
}

std::uint32_t BufferSize(const std::string& output) {
    return static_cast<std::uint32_t>(output.size());
}

// ---- MakeSfx's copy ----------------------------------------------------------------------

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

[[noreturn]] void ThrowFileError(const std::string& path, const char* what) {
    throw archives::EStreamError("ファイル " + path + " " + what + "(" + std::strerror(errno) +
                                 ")");
}

File OpenForReading(const std::string& path) {
    File file(std::fopen(path.c_str(), "rbe"));
    if (!file) {
        ThrowFileError(path, "を開けません。");
    }
    return file;
}

// Gives a fresh hidden name beside path ("<folder>.zembrat-<tag>-<random>") to claim until
// it succeeds; claim answers false with errno EEXIST for a name already taken. An empty
// result: no name could be claimed (errno tells why).
template <class Claim>
std::string ClaimSiblingName(const std::string& path, std::string_view tag, Claim&& claim) {
    const std::string folder = platform::ExtractFilePath(path);
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 32; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
        std::string name = folder + ".zembrat-" + std::string(tag) + "-" + suffix;
        if (claim(name)) {
            return name;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return std::string();
}

// A new file beside the target, removed unless Commit renames it over the target.
class StagedTarget {
  public:
    explicit StagedTarget(const std::string& target) : target_(target) {
        path_ = ClaimSiblingName(target, "sfx", [&](const std::string& name) {
            // The mode asks for a program; the process's umask trims it as for any new file.
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0777);
            if (fd < 0) {
                return false;
            }
            file_.reset(::fdopen(fd, "wb"));
            if (!file_) {
                ::close(fd);
                ::unlink(name.c_str());
                errno = ENOMEM;
            }
            return file_ != nullptr;
        });
        if (!file_) {
            ThrowFileError(target_, "を作成できません。");
        }
    }
    ~StagedTarget() {
        file_.reset();
        if (!committed_) {
            ::unlink(path_.c_str());
        }
    }
    StagedTarget(const StagedTarget&) = delete;
    StagedTarget& operator=(const StagedTarget&) = delete;

    void Append(FILE* source, const std::string& sourceName) {
        std::vector<char> buffer(1 << 16);
        while (const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), source)) {
            if (std::fwrite(buffer.data(), 1, count, file_.get()) != count) {
                ThrowFileError(target_, "に書き込めません。");
            }
        }
        if (std::ferror(source)) {
            ThrowFileError(sourceName, "を読めません。");
        }
    }

    void Commit() {
        if (std::fclose(file_.release()) != 0) {
            ThrowFileError(target_, "に書き込めません。");
        }
        if (std::rename(path_.c_str(), target_.c_str()) != 0) {
            ThrowFileError(target_, "を作成できません。");
        }
        committed_ = true;
    }

  private:
    std::string target_;
    std::string path_;
    File file_;
    bool committed_ = false;
};

// The archive that packing through LMZIP32.DLL replaces, moved aside under a hidden name
// rather than deleted: it comes back when the library fails without leaving a new archive,
// and goes once the library succeeded or wrote a new one.
class ArchiveSetAside {
  public:
    explicit ArchiveSetAside(const std::string& archive) : archive_(archive) {
        if (!platform::FileExists(archive)) {
            return;
        }
        aside_ = ClaimSiblingName(archive, "old", [&](const std::string& name) {
            return platform::RenameFile(archive, name);
        });
        if (aside_.empty()) {
            platform::DeleteFile(archive);  // it cannot move: it goes, as it always did
        }
    }
    ~ArchiveSetAside() {
        if (aside_.empty()) {
            return;
        }
        if (!succeeded_ && !platform::FileExists(archive_)) {
            platform::RenameFile(aside_, archive_);
        } else {
            platform::DeleteFile(aside_);
        }
    }
    ArchiveSetAside(const ArchiveSetAside&) = delete;
    ArchiveSetAside& operator=(const ArchiveSetAside&) = delete;

    void Settle(int libraryResult) { succeeded_ = libraryResult == 0; }

  private:
    std::string archive_;
    std::string aside_;
    bool succeeded_ = false;
};

}  // namespace

// ---- TZipDll -------------------------------------------------------------------------------

TZipDll::~TZipDll() {
    TZipDll::FreeDLL();
}

void TZipDll::LoadDLL() {
    for (std::size_t library = 0; library < handles_.size(); ++library) {
        if (handles_[library] == nullptr) {
            handles_[library] = platform::LoadLibrary(kLibraryNames[library]);
        }
    }
}

void TZipDll::FreeDLL() {
    for (ZipLibrary library : {ZipLibrary::Unzip32, ZipLibrary::Lmzip32, ZipLibrary::Zip32j}) {
        platform::ModuleHandle& handle = handles_[static_cast<std::size_t>(library)];
        if (handle != nullptr) {
            platform::FreeLibrary(handle);
            handle = nullptr;
        }
    }
    packCommand_ = nullptr;
    unpackCommand_ = nullptr;
    TCustomArchiverDll::FreeDLL();
}

bool TZipDll::ResolveZipEntry(void*& field, std::string_view name, bool mustExist,
                              std::initializer_list<ZipLibrary> order) {
    field = nullptr;
    for (ZipLibrary library : order) {
        const platform::ModuleHandle handle = Handle(library);
        if (handle == nullptr) {
            continue;
        }
        std::string spelled(name);
        if (library == ZipLibrary::Lmzip32 && spelled.size() > 2 && spelled[2] == 'Z') {
            spelled[2] = 'z';
        }
        field = platform::GetProcAddress(handle, spelled.c_str());
        if (field != nullptr) {
            return true;
        }
    }
    if (mustExist) {
        throw archives::EEntryNotFound(EntryMissingMessage(name));
    }
    return false;
}

namespace {
// Lookup orders: listing entries prefer the library that both reads and writes, the check
// and memory extraction the pure unpacker.
constexpr std::initializer_list<ZipLibrary> kListingOrder = {
    ZipLibrary::Lmzip32, ZipLibrary::Zip32j, ZipLibrary::Unzip32};
constexpr std::initializer_list<ZipLibrary> kUnpackerOrder = {
    ZipLibrary::Unzip32, ZipLibrary::Lmzip32, ZipLibrary::Zip32j};
}  // namespace

namespace {
// A command entry gets a null output buffer when its size is 0.
int CallCommand(void* entry, WindowHandle window, const std::string& commandLine, char* output,
                std::uint32_t outputSize) {
    return reinterpret_cast<ARC_COMMAND>(entry)(window, commandLine.c_str(),
                                                outputSize == 0 ? nullptr : output, outputSize);
}
}  // namespace

int TZipDll::ZipCommand(WindowHandle window, const std::string& commandLine, char* output,
                        std::uint32_t outputSize) {
    LoadDLL();
    ResolveZipEntry(packCommand_, "Zip", true, {ZipLibrary::Zip32j, ZipLibrary::Lmzip32});
    return CallCommand(packCommand_, window, commandLine, output, outputSize);
}

int TZipDll::UnZipCommand(WindowHandle window, const std::string& commandLine, char* output,
                          std::uint32_t outputSize) {
    LoadDLL();
    ResolveZipEntry(unpackCommand_, "UnZip", true, {ZipLibrary::Unzip32, ZipLibrary::Lmzip32});
    return CallCommand(unpackCommand_, window, commandLine, output, outputSize);
}

HARC TZipDll::OpenArchive(WindowHandle window, const std::string& archive, std::uint32_t mode) {
    LoadDLL();
    ResolveZipEntry(Entry::OpenArchive, "UnZipOpenArchive", true, kListingOrder);
    return TCustomArchiverDll::OpenArchive(window, archive, mode);
}

int TZipDll::CloseArchive(HARC archive) {
    LoadDLL();
    ResolveZipEntry(Entry::CloseArchive, "UnZipCloseArchive", true, kListingOrder);
    return TCustomArchiverDll::CloseArchive(archive);
}

int TZipDll::FindFirst(HARC archive, const std::string& wildcard,
                       archives::TArchiveEntryInfo& entry) {
    LoadDLL();
    ResolveZipEntry(Entry::FindFirst, "UnZipFindFirst", true, kListingOrder);
    return TCustomArchiverDll::FindFirst(archive, wildcard, entry);
}

int TZipDll::FindNext(HARC archive, archives::TArchiveEntryInfo& entry) {
    ResolveZipEntry(Entry::FindNext, "UnZipFindNext", true, kListingOrder);
    return TCustomArchiverDll::FindNext(archive, entry);
}

// The write-time entry is spelled with a lower-case 'z' in every library.
bool TZipDll::GetWriteTimeEx(HARC archive, platform::FileTime& time) {
    ResolveZipEntry(Entry::GetWriteTimeEx, "UnzipGetWriteTimeEx", false, kListingOrder);
    return TCustomArchiverDll::GetWriteTimeEx(archive, time);
}

bool TZipDll::GetCreateTimeEx(HARC archive, platform::FileTime& time) {
    ResolveZipEntry(Entry::GetCreateTimeEx, "UnZipGetCreateTimeEx", false, kListingOrder);
    return TCustomArchiverDll::GetCreateTimeEx(archive, time);
}

bool TZipDll::GetAccessTimeEx(HARC archive, platform::FileTime& time) {
    ResolveZipEntry(Entry::GetAccessTimeEx, "UnZipGetAccessTimeEx", false, kListingOrder);
    return TCustomArchiverDll::GetAccessTimeEx(archive, time);
}

bool TZipDll::GetOriginalSizeEx(HARC archive, std::uint64_t& size) {
    ResolveZipEntry(Entry::GetOriginalSizeEx, "UnZipGetOriginalSizeEx", false, kListingOrder);
    return TCustomArchiverDll::GetOriginalSizeEx(archive, size);
}

bool TZipDll::GetCompressedSizeEx(HARC archive, std::uint64_t& size) {
    ResolveZipEntry(Entry::GetCompressedSizeEx, "UnZipGetCompressedSizeEx", false, kListingOrder);
    return TCustomArchiverDll::GetCompressedSizeEx(archive, size);
}

int TZipDll::CheckArchive(const std::string& archive, int mode) {
    LoadDLL();
    ResolveZipEntry(Entry::CheckArchive, "UnZipCheckArchive", true, kUnpackerOrder);
    return TCustomArchiverDll::CheckArchive(archive, mode);
}

int TZipDll::ExtractMem(WindowHandle window, const std::string& commandLine, unsigned char* buffer,
                        std::uint32_t bufferSize, std::int64_t* timeStamp,
                        std::uint16_t* attributes, std::uint32_t* written) {
    ResolveZipEntry(Entry::ExtractMem, "UnZipExtractMem", true, kUnpackerOrder);
    return TCustomArchiverDll::ExtractMem(window, commandLine, buffer, bufferSize, timeStamp,
                                          attributes, written);
}

// The owner-window entries come from UNZIP32.DLL alone, through the general resolver.
int TZipDll::SetOwnerWindowEx(WindowHandle window, ARC_PROGRESS_PROC procedure) {
    ResolveEntry(Entry::SetOwnerWindowEx, Handle(ZipLibrary::Unzip32), "UnZipSetOwnerWindowEx",
                 true);
    return TCustomArchiverDll::SetOwnerWindowEx(window, procedure);
}

int TZipDll::KillOwnerWindowEx(WindowHandle window) {
    ResolveEntry(Entry::KillOwnerWindowEx, Handle(ZipLibrary::Unzip32), "UnZipKillOwnerWindowEx",
                 true);
    return TCustomArchiverDll::KillOwnerWindowEx(window);
}

// ---- Command lines -------------------------------------------------------------------------

std::string EscapeZipName(std::string_view name, const platform::PathSyntax& syntax) {
    std::string escaped;
    std::size_t offset = 0;
    if (name.starts_with('-')) {
        escaped = "[-]";
        offset = 1;
    }
    while (offset < name.size()) {
        const std::size_t length = platform::CharacterLength(name, offset, syntax.codePage);
        const std::string_view character = name.substr(offset, length);
        if (character == "\\" && syntax.delimiters.find('\\') != std::string_view::npos) {
            escaped += '/';
        } else if (character == "\\") {
            // Part of a Linux name: bracketed, the library takes it as itself.
            escaped += "[\\]";
        } else if (character == "[") {
            escaped += "[[]";
        } else {
            escaped += character;
        }
        offset += length;
    }
    return escaped;
}

namespace {
void InstallEscapeHook(TCmdOpt& builder) {
    builder.FileNameHook = [](const std::string& name) { return EscapeZipName(name); };
}
}  // namespace

std::string TZip32::BuildUnzipCommand(const archives::TArchiver& driver, std::string_view command,
                                      const std::string& archive, const TArchiverOptions& options,
                                      const std::string& folder, FileItems items,
                                      bool useListFile) {
    TCmdOpt builder;
    InstallEscapeHook(builder);
    builder.AddSwitch("o", options.c == 1);
    // No questions while progress goes to a window.
    builder.AddSwitch("-i", options.n > 0 || driver.HasOwnerWindow());
    builder.AddSwitch("j", options.x == 0);
    builder.Add(options.UserOptions);
    AddArchiveAndFolder(builder, archive, folder);
    AddFileList(builder, options, items, useListFile);
    return std::string(command) + builder.Text;
}

std::string TZip32::BuildZipCommand(std::string_view command, const std::string& archive,
                                    const TArchiverOptions& options, const std::string& folder,
                                    FileItems items, bool useListFile) {
    const TArchiverOptions& o = options;
    TCmdOpt builder;
    InstallEscapeHook(builder);
    builder.AddSwitch("S", o.a > 0);
    builder.AddSwitch("D", o.a < 2);
    builder.AddSwitch("v", o.l > 0);
    builder.AddSwitch("q", o.n > 0);
    builder.AddSwitch("r", o.r > 0);
    builder.AddSwitch("o", o.n > 0);  // the library's -o follows n as well; o is not read
    builder.AddSwitch("u", o.u > 0);
    builder.AddSwitch("j", o.x == 0);
    builder.AddSwitch("FF", o.jc > 0);
    builder.AddSwitch("k", o.ji > 0);
    builder.AddNumber("", o.jm);  // the compression level, -0 ... -9
    builder.AddSwitch("J", o.gd > 0);
    builder.Add(o.UserOptions);
    AddArchiveAndFolder(builder, archive, folder);
    AddFileList(builder, options, items, useListFile);
    return std::string(command) + builder.Text;
}

std::string TZip32::BuildLmzipCommand(std::string_view command, const std::string& archive,
                                      const TArchiverOptions& options, FileItems items,
                                      bool useListFile) {
    TCmdOpt builder;  // no hook: LMZIP32 takes file names as they are
    builder.AddSwitch("o", options.c == 1);
    builder.AddSwitch("j", options.x == 0);
    builder.Add(options.UserOptions);
    AddArchiveAndFolder(builder, archive, "");
    AddFileList(builder, options, items, useListFile);
    return std::string(command) + builder.Text;
}

void WriteSelfExtractor(const std::string& stub, const std::string& archive,
                        const std::string& target) {
    // The program is written under a temporary name and takes the target's name only when
    // whole: a failed copy leaves no broken program, and an archive that already bears the
    // target's name is read to the end before it is replaced.
    const File archiveFile = OpenForReading(archive);
    const File stubFile = OpenForReading(stub);
    StagedTarget staged(target);
    staged.Append(stubFile.get(), stub);
    staged.Append(archiveFile.get(), archive);
    staged.Commit();
}

std::string SfxTargetName(std::string_view archive, std::string_view folder,
                          const platform::PathSyntax& syntax) {
    const std::string target = platform::ChangeFileExt(archive, ".EXE", syntax);
    if (archives::IsUnsetOrEmpty(folder)) {
        return target;
    }
    return platform::JoinPath(folder, platform::ExtractFileName(target, syntax), syntax);
}

// ---- TZip32 --------------------------------------------------------------------------------

TZip32::TZip32() {
    LoadLibraryBinding();
}

void TZip32::LoadLibraryBinding() {
    auto& binding = ZipBinding();
    if (!binding) {
        binding = std::make_unique<TZipDll>();
        binding->LoadDLL();
    }
}

void TZip32::FreeLibraryBinding() {
    ZipBinding().reset();
}

TZipDll* TZip32::Binding() {
    return ZipBinding().get();
}

int TZip32::RunZipCommand(WindowHandle window, std::string commandLine, std::string& output) {
    CommandLine = std::move(commandLine);
    return Loaded("Zip").ZipCommand(window, CommandLine, output.data(), BufferSize(output));
}

int TZip32::Unpack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                   const std::string& folder, FileItems items, bool useListFile,
                   std::string& output) {
    if (!IsLoaded(ZipLibrary::Unzip32) && !IsLoaded(ZipLibrary::Lmzip32)) {
        throw archives::EArchiver(kUnpackNeedsLibrary);
    }
    CommandLine = BuildUnzipCommand(*this, "-x", archive, options, folder, items, useListFile);
    return Loaded("UnZip").UnZipCommand(window, CommandLine, output.data(), BufferSize(output));
}

int TZip32::Pack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                 const std::string& folder, FileItems items, bool useListFile,
                 std::string& output) {
    if (IsLoaded(ZipLibrary::Zip32j)) {
        return RunZipCommand(
            window, BuildZipCommand("", archive, options, folder, items, useListFile), output);
    }
    if (!IsLoaded(ZipLibrary::Lmzip32)) {
        throw archives::EArchiver(kPackNeedsLibrary);
    }
    std::string commandLine = BuildLmzipCommand("-ru", archive, options, items, useListFile);
    // LMZIP32 adds to what is there: the old archive steps aside first, so that the library
    // writes a new one holding the named files only.
    ArchiveSetAside oldArchive(archive);
    const int result = RunZipCommand(window, std::move(commandLine), output);
    oldArchive.Settle(result);
    return result;
}

int TZip32::RemoveItem(WindowHandle window, const std::string& archive,
                       const TArchiverOptions& options, const std::string&, FileItems items,
                       bool useListFile, std::string& output) {
    return RunZipCommand(window, BuildZipCommand("-d", archive, options, "", items, useListFile),
                         output);
}

int TZip32::Update(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                   const std::string& folder, FileItems items, bool useListFile,
                   std::string& output) {
    return RunZipCommand(
        window, BuildZipCommand("-f", archive, options, folder, items, useListFile), output);
}

int TZip32::MakeSfx(WindowHandle window, const std::string& archive,
                    const TArchiverOptions& options, const std::string& folder,
                    std::string& output) {
    if (!IsLoaded(ZipLibrary::Zip32j)) {
        throw archives::EArchiver(kSfxNeedsZip32j);
    }
    const bool windowStub = options.gw > 0;
    const std::optional<std::string> stub =
        platform::SearchPath(windowStub ? "sfx32gui.dat" : "sfx16.dat");
    if (!stub) {
        throw archives::EArchiver(windowStub ? kWin32StubMissing : kDosStubMissing);
    }
    const std::string target = SfxTargetName(archive, folder);
    WriteSelfExtractor(*stub, archive, target);
    return RunZipCommand(window, "-A " + target, output);
}

int TZip32::ExtractMem(WindowHandle window, const std::string& archive,
                       const TArchiverOptions& options, const std::string& member,
                       unsigned char* buffer, std::uint32_t bufferSize, std::uint32_t* written) {
    const archives::FileItem memberItem{member};
    CommandLine =
        BuildUnzipCommand(*this, "", archive, options, "", FileItems(&memberItem, 1), false);
    return Loaded("UnZipExtractMem")
        .ExtractMem(window, CommandLine, buffer, bufferSize, nullptr, nullptr, written);
}

HARC TZip32::OpenArchive(WindowHandle window, const std::string& archive, std::uint32_t mode) {
    return Loaded("UnZipOpenArchive").OpenArchive(window, platform::ExpandFileName(archive), mode);
}

int TZip32::FindFirst(HARC archive, archives::TArchiveEntryInfo& entry,
                      const std::string& wildcard) {
    return Loaded("UnZipFindFirst").FindFirst(archive, wildcard, entry);
}

int TZip32::FindNext(HARC archive, archives::TArchiveEntryInfo& entry) {
    return Loaded("UnZipFindNext").FindNext(archive, entry);
}

int TZip32::CloseArchive(HARC archive) {
    return Loaded("UnZipCloseArchive").CloseArchive(archive);
}

int TZip32::CheckArchive(const std::string& archive, int mode, int) {
    return Loaded("UnZipCheckArchive").CheckArchive(archive, mode);
}

bool TZip32::SetOwnerWindow(WindowHandle window, ARC_PROGRESS_PROC procedure) {
    const bool accepted = Loaded("UnZipSetOwnerWindowEx").SetOwnerWindowEx(window, procedure) != 0;
    TArchiver::SetOwnerWindow(window, procedure);
    return accepted;
}

bool TZip32::KillOwnerWindow(WindowHandle window) {
    const bool accepted = Loaded("UnZipKillOwnerWindowEx").KillOwnerWindowEx(window) != 0;
    TArchiver::KillOwnerWindow(window);
    return accepted;
}

// ---- Content probe -------------------------------------------------------------------------

namespace {

bool CheckStep(const std::string& fileName) {
    try {
        TZip32::LoadLibraryBinding();
        return TZip32::Binding()->CheckArchive(platform::ExpandFileName(fileName),
                                               kProbeCheckMode) != 0;
    } catch (...) {
        return false;
    }
}

bool OpenStep(const std::string& fileName) {
    try {
        TZip32::LoadLibraryBinding();
        TZipDll& binding = *TZip32::Binding();
        const std::string path = platform::ExpandFileName(fileName);
        if (!platform::FileExists(path)) {
            return false;
        }
        const HARC handle = binding.OpenArchive(0, path, kProbeOpenMode);
        if (handle != 0) {
            binding.CloseArchive(handle);
        }
        return handle != 0;
    } catch (...) {
        return false;
    }
}

}  // namespace

bool IsZipArchive(const std::string& fileName) {
    return CheckStep(fileName) && OpenStep(fileName);
}

}  // namespace zembrat::drivers
