// What every driver bound to one archiver library of its own shares: listing, checking and
// the owner window go straight to its kind's binding, and the content probe that asks the
// library to open a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archives/archiver.h"
#include "archives/archiver_dll.h"

namespace zembrat::drivers {

using archives::FileItems;
using archives::TArchiverOptions;
using archives::WindowHandle;

// Asks a driver's constructor not to load its kind's library (a descendant bound to another).
struct WithoutLoading {};

class TLibraryDriver : public archives::TArchiver {
  public:
    // The archive name is made absolute first.
    HARC OpenArchive(WindowHandle window, const std::string& archive, std::uint32_t mode) override;
    int FindFirst(HARC archive, archives::TArchiveEntryInfo& entry,
                  const std::string& wildcard) override;
    int FindNext(HARC archive, archives::TArchiveEntryInfo& entry) override;
    int CloseArchive(HARC archive) override;
    // The name as given; the library's mode is mode + furtherMode.
    int CheckArchive(const std::string& archive, int mode, int furtherMode) override;
    // The window is recorded first and stays recorded even when the library refuses.
    bool SetOwnerWindow(WindowHandle window, ARC_PROGRESS_PROC procedure) override;
    // The library lets go of the window first, then the driver forgets it.
    bool KillOwnerWindow(WindowHandle window) override;

  protected:
    TLibraryDriver() = default;
    explicit TLibraryDriver(WithoutLoading) {}

    // The binding the driver's kind shares.
    virtual archives::TSharedDllBinding& KindBinding() const = 0;
    archives::TArchiverDll& Loaded() const { return KindBinding().Loaded(); }

    // The end every line of these kinds shares: UserOptions, the archive and the folder, the
    // files (or the list file) and UserFileList; the command text followed directly by the
    // builder's text.
    static std::string CompleteCommand(archives::TCmdOpt& builder, std::string_view command,
                                       const std::string& archive, const std::string& folder,
                                       const TArchiverOptions& options, FileItems items,
                                       bool useListFile);

    // The library's command entry with the whole output buffer; its result unchanged.
    int RunCommand(WindowHandle window, const std::string& commandLine, std::string& output) const;
    // The library's memory extraction, without time stamp or attributes.
    int RunExtractMem(WindowHandle window, const std::string& commandLine, unsigned char* buffer,
                      std::uint32_t bufferSize, std::uint32_t* written) const;
};

// A driver bound to the binding its kind shares: made and loaded by the first driver or probe,
// kept for the life of the program. Base is TLibraryDriver, or a driver of another kind whose
// lines this kind's library reads.
template <archives::TSharedDllBinding& (*KindsBinding)(), class Base = TLibraryDriver>
class TBoundDriver : public Base {
  public:
    // Makes the binding exist and load its library (ENoArchiverDLL when it cannot).
    TBoundDriver() : Base(WithoutLoading{}) { LoadLibraryBinding(); }

    // Class-level: act on the shared binding only.
    static void LoadLibraryBinding() { KindsBinding().Load(); }
    static void FreeLibraryBinding() { KindsBinding().Free(); }
    // nullptr before the first load or after FreeDLL.
    static archives::TArchiverDll* Binding() { return KindsBinding().Get(); }

    void LoadDLL() override { LoadLibraryBinding(); }
    void FreeDLL() override { FreeLibraryBinding(); }

  protected:
    explicit TBoundDriver(WithoutLoading) : Base(WithoutLoading{}) {}
    archives::TSharedDllBinding& KindBinding() const override { return KindsBinding(); }
};

// The mode a content probe opens a file with: look inside self-extracting programs too.
inline constexpr std::uint32_t kProbeOpenMode = 0x00800002;

// The probe most kinds share: load the kind's library, open the file's absolute name with the
// probe mode, close whatever came back (0 too), and answer whether a handle came back. Never
// raises: a missing library or entry answers false.
bool LibraryOpensArchive(archives::TSharedDllBinding& binding, const std::string& fileName);

}  // namespace zembrat::drivers
