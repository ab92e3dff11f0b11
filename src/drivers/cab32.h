// The CAB driver: cabinets through the cabinet library (CAB32.DLL, libcab32.so here, entry
// prefix "Cab"). It unpacks, packs, has the library make a self-extracting program and
// extracts one member into memory; removing members and updating are not supported.
#pragma once

#include <string>
#include <string_view>

#include "drivers/library_driver.h"

namespace zembrat::drivers {

// The binding every TCab32 and IsCabArchive share.
archives::TSharedDllBinding& CabBinding();

class TCab32 : public TBoundDriver<CabBinding> {
  public:
    // "-x" with the archive made absolute. Unpack and Pack take the list-file decision from
    // the options' ResFileUsage, not from useListFile.
    int Unpack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
               const std::string& folder, FileItems items, bool useListFile,
               std::string& output) override;
    // "-a", the archive as given.
    int Pack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
             const std::string& folder, FileItems items, bool useListFile,
             std::string& output) override;
    // "-f": the library writes the self-extracting program itself; no file names, no list file.
    int MakeSfx(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                const std::string& folder, std::string& output) override;
    // A line without a command: the switches, the archive and the member.
    int ExtractMem(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                   const std::string& member, unsigned char* buffer, std::uint32_t bufferSize,
                   std::uint32_t* written) override;

    // The command text followed directly by the switches, archive, folder and files.
    std::string BuildCommand(std::string_view command, const std::string& archive, bool useListFile,
                             FileItems items, const std::string& folder,
                             const TArchiverOptions& options) const;
};

// True when the cabinet library opens the file; never raises. No check step, and the file's
// existence is left to the library.
bool IsCabArchive(const std::string& fileName);

}  // namespace zembrat::drivers
