// The LHA driver: turns each driver operation into one command line of the LHA archiver
// library (UNLHA32.DLL, libunlha32.so here) and runs it through the shared binding.
#pragma once

#include <string>
#include <string_view>

#include "drivers/library_driver.h"

namespace zembrat::drivers {

// The binding every TLha32 and IsLhaArchive share.
archives::TSharedDllBinding& LhaBinding();

class TLha32 : public TBoundDriver<LhaBinding> {
  public:
    // Loads the LHA library (ENoArchiverDLL when it cannot).
    TLha32() = default;

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

    // The command word followed by the switches, archive, folder and files. Raises
    // EAssertionFailed when jso (or, for "x", jse) is not set. Also used by drivers of
    // other kinds whose library speaks the same switches.
    static std::string BuildCommand(const archives::TArchiver& driver, std::string_view command,
                                    const std::string& archive, const TArchiverOptions& options,
                                    const std::string& folder, FileItems items, bool useListFile);

  protected:
    // For a kind whose own library reads these lines: loads no LHA library.
    explicit TLha32(WithoutLoading tag) : TBoundDriver(tag) {}

  private:
    int RunFileCommand(WindowHandle window, std::string_view command, const std::string& archive,
                       const TArchiverOptions& options, const std::string& folder, FileItems items,
                       archives::TResFileUse listFileUse, std::string& output);
};

// True when the LHA library accepts the file as an archive; never raises.
bool IsLhaArchive(const std::string& fileName);

}  // namespace zembrat::drivers
