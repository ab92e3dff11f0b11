// The LHA driver: turns each driver operation into one command line of the LHA archiver
// library (UNLHA32.DLL, libunlha32.so here) and runs it through the shared binding.
#pragma once

#include <string>
#include <string_view>

#include "archives/archiver.h"
#include "archives/archiver_dll.h"

namespace zembrat::drivers {

using archives::FileItems;
using archives::TArchiverOptions;
using archives::WindowHandle;

class TLha32 : public archives::TArchiver {
  public:
    // Makes the LHA binding exist and load its library (ENoArchiverDLL when it cannot).
    TLha32();

    // Class-level: act on the shared binding only.
    static void LoadLibraryBinding();
    static void FreeLibraryBinding();
    // The binding every TLha32 shares; nullptr before the first load or after FreeDLL.
    static archives::TArchiverDll* Binding();

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
    int CheckArchive(const std::string& archive, int mode, int furtherMode) override;
    bool SetOwnerWindow(WindowHandle window, ARC_PROGRESS_PROC procedure) override;
    bool KillOwnerWindow(WindowHandle window) override;

    // The command word followed by the switches, archive, folder and files. Raises
    // EAssertionFailed when jso (or, for "x", jse) is not set. Also used by drivers of
    // other kinds whose library speaks the same switches.
    static std::string BuildCommand(const archives::TArchiver& driver, std::string_view command,
                                    const std::string& archive, const TArchiverOptions& options,
                                    const std::string& folder, FileItems items, bool useListFile);

  private:
    int RunCommand(WindowHandle window, const std::string& commandLine, std::string& output);
    int RunFileCommand(WindowHandle window, std::string_view command, const std::string& archive,
                       const TArchiverOptions& options, const std::string& folder, FileItems items,
                       archives::TResFileUse listFileUse, std::string& output);
};

// True when the LHA library accepts the file as an archive; never raises.
bool IsLhaArchive(const std::string& fileName);

}  // namespace zembrat::drivers
