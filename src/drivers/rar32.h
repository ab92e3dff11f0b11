// The RAR driver: unpacks, lists, tests and extracts into memory through the RAR library
// (UNRAR32.DLL, libunrar32.so here, entry prefix "Unrar"). RAR archives cannot be made or
// changed: Pack, RemoveItem, Update and MakeSfx are the base's refusals.
#pragma once

#include <string>
#include <string_view>

#include "drivers/library_driver.h"

namespace zembrat::drivers {

// The binding every TRar32 and IsRarArchive share.
archives::TSharedDllBinding& RarBinding();

class TRar32 : public TBoundDriver<RarBinding> {
  public:
    // "-x" (with folders), or "-e" when x is 0; the list file as the options' ResFileUsage
    // says, whatever useListFile says.
    int Unpack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
               const std::string& folder, FileItems items, bool useListFile,
               std::string& output) override;
    // A line without a command: the switches, the archive and the member; never a list file.
    int ExtractMem(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                   const std::string& member, unsigned char* buffer, std::uint32_t bufferSize,
                   std::uint32_t* written) override;

    // "-t" and the archive: every member of the set decoded and checked; a later volume of a
    // set answers ARC_WARNING_SKIPPED with the first volume named in output, unread.
    int Test(const std::string& archive, std::string& output);

    // The command text followed directly by "-u", "-y", "-s", the archive, folder and files.
    static std::string BuildCommand(std::string_view command, const std::string& archive,
                                    const TArchiverOptions& options, const std::string& folder,
                                    FileItems items, bool useListFile);
};

// True when the RAR library opens the file; never raises.
bool IsRarArchive(const std::string& fileName);

}  // namespace zembrat::drivers
