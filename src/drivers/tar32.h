// The TAR driver: tar archives and their gzip and bzip2 forms through the tar family library
// (TAR32.DLL, libtar32.so here, entry prefix "Tar"). TTgz32 and TBZ232 are TTar32 in all but
// the compression switch and MakeSfx, which the bzip2 kind refuses.
#pragma once

#include <string>
#include <string_view>

#include "archives/archiver.h"
#include "archives/archiver_dll.h"

namespace zembrat::drivers {

using archives::FileItems;
using archives::TArchiverOptions;
using archives::WindowHandle;

class TTar32 : public archives::TArchiver {
  public:
    // Makes the tar binding exist and load its library (ENoArchiverDLL when it cannot).
    TTar32();

    // Class-level: act on the binding shared by the three kinds and TarArchiverType.
    static void LoadLibraryBinding();
    static void FreeLibraryBinding();
    // nullptr before the first load or after FreeDLL.
    static archives::TArchiverDll* Binding();

    void LoadDLL() override { LoadLibraryBinding(); }
    void FreeDLL() override { FreeLibraryBinding(); }
    HARC OpenArchive(WindowHandle window, const std::string& archive, std::uint32_t mode) override;
    int FindFirst(HARC archive, archives::TArchiveEntryInfo& entry,
                  const std::string& wildcard) override;
    int FindNext(HARC archive, archives::TArchiveEntryInfo& entry) override;
    int CloseArchive(HARC archive) override;
    // Both take the list-file decision from the options' ResFileUsage, not from useListFile.
    int Unpack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
               const std::string& folder, FileItems items, bool useListFile,
               std::string& output) override;
    int Pack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
             const std::string& folder, FileItems items, bool useListFile,
             std::string& output) override;
    // Copies "kmtarsef.exe" and the archive into the archive's name with ".EXE" (in the folder
    // when one is given); the library is not called and CommandLine is left alone.
    int MakeSfx(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                const std::string& folder, std::string& output) override;
    int ExtractMem(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                   const std::string& member, unsigned char* buffer, std::uint32_t bufferSize,
                   std::uint32_t* written) override;
    int CheckArchive(const std::string& archive, int mode, int furtherMode) override;
    bool SetOwnerWindow(WindowHandle window, ARC_PROGRESS_PROC procedure) override;
    bool KillOwnerWindow(WindowHandle window) override;

    // The command text followed by the switches, -f archive, -o folder and the files.
    std::string BuildCommand(std::string_view command, const std::string& archive, bool useListFile,
                             FileItems items, const std::string& folder,
                             const TArchiverOptions& options) const;

  private:
    int RunFileCommand(WindowHandle window, std::string_view command, const std::string& archive,
                       const TArchiverOptions& options, const std::string& folder, FileItems items,
                       archives::TResFileUse listFileUse, std::string& output);
};

// tar.gz (and the other gzip and compress kinds): packs with -z[level].
class TTgz32 : public TTar32 {};

// tar.bz2: packs with -B[level]; cannot be made self-extracting.
class TBZ232 : public TTar32 {};

// The kind the tar library finds in the file: atTar, atTgz, atBZ2 or atNone. Never raises.
archives::TArchiverType TarArchiverType(const std::string& fileName);

}  // namespace zembrat::drivers
