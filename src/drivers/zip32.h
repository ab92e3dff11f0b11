// The ZIP driver. Unpacking and packing live in different libraries under different entry
// prefixes: UNZIP32.DLL ("UnZip..."), ZIP32J.DLL ("Zip" and the UnZip listing entries) and
// LMZIP32.DLL (both, spelled "Unzip..."), here libunzip32.so, libzip32j.so and liblmzip32.so.
// TZipDll binds all three side by side and looks every entry up in a fixed order of
// libraries; TZip32 picks the command and the switch set by which libraries are present.
#pragma once

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>

#include "archives/archiver.h"
#include "archives/archiver_dll.h"
#include "platform/code_page.h"
#include "platform/path.h"

namespace zembrat::drivers {

using archives::FileItems;
using archives::TArchiverOptions;
using archives::WindowHandle;

// The three libraries, in the order LoadDLL loads them.
enum class ZipLibrary : std::size_t { Unzip32, Zip32j, Lmzip32 };

class TZipDll : public archives::TCustomArchiverDll {
  public:
    // Loads nothing: LoadDLL does.
    TZipDll() = default;
    ~TZipDll() override;
    TZipDll(const TZipDll&) = delete;
    TZipDll& operator=(const TZipDll&) = delete;

    // Loads each library whose handle is still empty; one that does not load stays empty and
    // nothing is reported (the operation that needs it notices).
    void LoadDLL() override;
    // Unloads the libraries and empties every entry.
    void FreeDLL() override;

    int CheckArchive(const std::string& archive, int mode) override;
    int CloseArchive(HARC archive) override;
    int ExtractMem(WindowHandle window, const std::string& commandLine, unsigned char* buffer,
                   std::uint32_t bufferSize, std::int64_t* timeStamp, std::uint16_t* attributes,
                   std::uint32_t* written) override;
    int FindFirst(HARC archive, const std::string& wildcard,
                  archives::TArchiveEntryInfo& entry) override;
    int FindNext(HARC archive, archives::TArchiveEntryInfo& entry) override;
    int KillOwnerWindowEx(WindowHandle window) override;
    HARC OpenArchive(WindowHandle window, const std::string& archive, std::uint32_t mode) override;
    int SetOwnerWindowEx(WindowHandle window, ARC_PROGRESS_PROC procedure) override;
    bool GetWriteTimeEx(HARC archive, platform::FileTime& time) override;
    bool GetCreateTimeEx(HARC archive, platform::FileTime& time) override;
    bool GetAccessTimeEx(HARC archive, platform::FileTime& time) override;
    // The 64-bit sizes too, so that a member of 4 GiB or more is not listed as 4294967295.
    bool GetOriginalSizeEx(HARC archive, std::uint64_t& size) override;
    bool GetCompressedSizeEx(HARC archive, std::uint64_t& size) override;

    // The pack ("Zip") and unpack ("UnZip") command entries; a null output buffer is passed
    // when its size is 0. The library's result is returned unchanged.
    int ZipCommand(WindowHandle window, const std::string& commandLine, char* output,
                   std::uint32_t outputSize);
    int UnZipCommand(WindowHandle window, const std::string& commandLine, char* output,
                     std::uint32_t outputSize);

    platform::ModuleHandle Handle(ZipLibrary library) const {
        return handles_[static_cast<std::size_t>(library)];
    }

  private:
    // Looks the name up in the loaded libraries in the order given and stores what it finds
    // in the field (no caching: every call looks again). LMZIP32.DLL spells the third
    // character 'Z' in lower case. A required entry that none has raises EEntryNotFound.
    bool ResolveZipEntry(void*& field, std::string_view name, bool mustExist,
                         std::initializer_list<ZipLibrary> order);
    bool ResolveZipEntry(archives::Entry entry, std::string_view name, bool mustExist,
                         std::initializer_list<ZipLibrary> order) {
        return ResolveZipEntry(EntryField(entry), name, mustExist, order);
    }

    std::array<platform::ModuleHandle, 3> handles_{};
    void* packCommand_ = nullptr;
    void* unpackCommand_ = nullptr;
};

class TZip32 : public archives::TArchiver {
  public:
    // Makes the shared binding exist; never fails (missing libraries are noticed later).
    TZip32();

    // Class-level: act on the shared binding only.
    static void LoadLibraryBinding();
    static void FreeLibraryBinding();
    // The binding every TZip32 and IsZipArchive share; nullptr before the first load or
    // after FreeDLL.
    static TZipDll* Binding();

    void LoadDLL() override { LoadLibraryBinding(); }
    void FreeDLL() override { FreeLibraryBinding(); }
    HARC OpenArchive(WindowHandle window, const std::string& archive, std::uint32_t mode) override;
    int FindFirst(HARC archive, archives::TArchiveEntryInfo& entry,
                  const std::string& wildcard) override;
    int FindNext(HARC archive, archives::TArchiveEntryInfo& entry) override;
    int CloseArchive(HARC archive) override;
    int Unpack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
               const std::string& folder, FileItems items, bool useListFile,
               std::string& output) override;
    int Pack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
             const std::string& folder, FileItems items, bool useListFile,
             std::string& output) override;
    int RemoveItem(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                   const std::string& folder, FileItems items, bool useListFile,
                   std::string& output) override;
    int Update(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
               const std::string& folder, FileItems items, bool useListFile,
               std::string& output) override;
    int MakeSfx(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                const std::string& folder, std::string& output) override;
    int ExtractMem(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                   const std::string& member, unsigned char* buffer, std::uint32_t bufferSize,
                   std::uint32_t* written) override;
    // The further mode is not added: the ZIP libraries take the plain mode.
    int CheckArchive(const std::string& archive, int mode, int furtherMode) override;
    bool SetOwnerWindow(WindowHandle window, ARC_PROGRESS_PROC procedure) override;
    bool KillOwnerWindow(WindowHandle window) override;

    // The command text followed by the switches, archive, folder and files, in the switch
    // syntax of each library. The unzip and zip lines escape file names (EscapeZipName);
    // the LMZIP32 line sends them unchanged.
    static std::string BuildUnzipCommand(const archives::TArchiver& driver,
                                         std::string_view command, const std::string& archive,
                                         const TArchiverOptions& options, const std::string& folder,
                                         FileItems items, bool useListFile);
    static std::string BuildZipCommand(std::string_view command, const std::string& archive,
                                       const TArchiverOptions& options, const std::string& folder,
                                       FileItems items, bool useListFile);
    static std::string BuildLmzipCommand(std::string_view command, const std::string& archive,
                                         const TArchiverOptions& options, FileItems items,
                                         bool useListFile);

  private:
    int RunZipCommand(WindowHandle window, std::string commandLine, std::string& output);
};

// A file name as the ZIP libraries read it: a leading '-' becomes "[-]" (not a switch), '['
// becomes "[[]" (not a wildcard class), and '\\' becomes '/' where it is a delimiter of the
// path syntax, "[\\]" (itself) where it is part of a name, as on Linux. Characters are taken
// whole under the syntax's code page, so a Shift-JIS trail byte 0x5C or 0x5B is left alone.
std::string EscapeZipName(std::string_view name,
                          const platform::PathSyntax& syntax = platform::PathSyntax::Host());

// Where MakeSfx writes: the archive with the extension ".EXE", moved into the folder when
// one is given.
std::string SfxTargetName(std::string_view archive, std::string_view folder,
                          const platform::PathSyntax& syntax = platform::PathSyntax::Host());

// Writes the stub followed by the archive as target (a program file). The target appears
// only when complete; EStreamError when a file cannot be read or written.
void WriteSelfExtractor(const std::string& stub, const std::string& archive,
                        const std::string& target);

// True when the ZIP libraries both check and open the file; never raises.
bool IsZipArchive(const std::string& fileName);

}  // namespace zembrat::drivers
