// The TAR driver: tar archives and their gzip and bzip2 forms through the tar family library
// (TAR32.DLL, libtar32.so here, entry prefix "Tar"). TTgz32 and TBZ232 are TTar32 in all but
// the compression switch and MakeSfx, which the bzip2 kind refuses.
#pragma once

#include <string>
#include <string_view>

#include "drivers/library_driver.h"

namespace zembrat::drivers {

// The binding the three kinds and TarArchiverType share.
archives::TSharedDllBinding& TarBinding();

class TTar32 : public TBoundDriver<TarBinding> {
  public:
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
