// The BGA driver: GZA and BZA archives through the BGA library (BGA32.DLL, libbga32.so here,
// entry prefix "Bga"). It unpacks, packs, removes members, has the library make a
// self-extracting program and lists; updating and memory extraction are not supported.
#pragma once

#include <string>
#include <string_view>

#include "drivers/library_driver.h"

namespace zembrat::drivers {

// The binding every TBGA32 and IsBgaArchive share.
archives::TSharedDllBinding& BgaBinding();

class TBGA32 : public TBoundDriver<BgaBinding> {
  public:
    // "x" and "a" use the list file when useListFile says so.
    int Unpack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
               const std::string& folder, FileItems items, bool useListFile,
               std::string& output) override;
    int Pack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
             const std::string& folder, FileItems items, bool useListFile,
             std::string& output) override;
    // "d" without a folder; the list file as the options' ResFileUsage says, whatever
    // useListFile says.
    int RemoveItem(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                   const std::string& folder, FileItems items, bool useListFile,
                   std::string& output) override;
    // "s" with the folder and no file names. Never a list file: one would only carry an
    // empty list over whatever file ResFileName names.
    int MakeSfx(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                const std::string& folder, std::string& output) override;
    // The library knows check levels 0 and 1 only: level 2 is sent as 1.
    int CheckArchive(const std::string& archive, int mode, int furtherMode) override;

    // The command text followed directly by the switches, archive, folder and files.
    std::string BuildCommand(std::string_view command, const std::string& archive,
                             const TArchiverOptions& options, const std::string& folder,
                             FileItems items, bool useListFile) const;
};

// True when the BGA library opens the file; never raises. A file that does not exist answers
// false without asking the library (which is loaded all the same).
bool IsBgaArchive(const std::string& fileName);

}  // namespace zembrat::drivers
