// The ARJ driver: ARJ archives through the ARJ library (UNARJ32J.DLL, libunarj32j.so here,
// entry prefix "Unarj"), which reads the LHA driver's lines. TArj32 is the LHA driver bound to
// that library: unpacking, listing, checking and memory extraction send the LHA lines there.
// The library only reads, so making, changing and self-extracting are refused with the
// driver base's messages and reach no library.
#pragma once

#include <string>

#include "drivers/lha32.h"

namespace zembrat::drivers {

// The binding every TArj32 and IsArjArchive share.
archives::TSharedDllBinding& ArjBinding();

class TArj32 : public TBoundDriver<ArjBinding, TLha32> {
  public:
    // Loads the ARJ library; the LHA library is not needed.
    TArj32() = default;

    // The LHA "x" line; the list file exactly when useListFile says so (this driver does not
    // read ResFileUsage itself).
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
};

// True when the ARJ library opens the file; never raises. Unlike the LHA probe there is no
// check step.
bool IsArjArchive(const std::string& fileName);

}  // namespace zembrat::drivers
