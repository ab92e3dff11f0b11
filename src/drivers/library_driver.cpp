#include "drivers/library_driver.h"

#include "platform/path.h"

namespace zembrat::drivers {

HARC TLibraryDriver::OpenArchive(WindowHandle window, const std::string& archive,
                                 std::uint32_t mode) {
    return Loaded().OpenArchive(window, platform::ExpandFileName(archive), mode);
}

int TLibraryDriver::FindFirst(HARC archive, archives::TArchiveEntryInfo& entry,
                              const std::string& wildcard) {
    return Loaded().FindFirst(archive, wildcard, entry);
}

int TLibraryDriver::FindNext(HARC archive, archives::TArchiveEntryInfo& entry) {
    return Loaded().FindNext(archive, entry);
}

int TLibraryDriver::CloseArchive(HARC archive) {
    return Loaded().CloseArchive(archive);
}

int TLibraryDriver::CheckArchive(const std::string& archive, int mode, int furtherMode) {
    return Loaded().CheckArchive(archive, mode + furtherMode);
}

bool TLibraryDriver::SetOwnerWindow(WindowHandle window, ARC_PROGRESS_PROC procedure) {
    TArchiver::SetOwnerWindow(window, procedure);
    return Loaded().SetOwnerWindowEx(window, procedure) != 0;
}

bool TLibraryDriver::KillOwnerWindow(WindowHandle window) {
    const bool accepted = Loaded().KillOwnerWindowEx(window) != 0;
    TArchiver::KillOwnerWindow(window);
    return accepted;
}

std::string TLibraryDriver::CompleteCommand(archives::TCmdOpt& builder, std::string_view command,
                                            const std::string& archive, const std::string& folder,
                                            const TArchiverOptions& options, FileItems items,
                                            bool useListFile) {
    builder.Add(options.UserOptions);
    AddArchiveAndFolder(builder, archive, folder);
    AddFileList(builder, options, items, useListFile);
    return std::string(command) + builder.Text;
}

int TLibraryDriver::RunCommand(WindowHandle window, const std::string& commandLine,
                               std::string& output) const {
    return Loaded().Command(window, commandLine, output.data(),
                            static_cast<std::uint32_t>(output.size()));
}

int TLibraryDriver::RunExtractMem(WindowHandle window, const std::string& commandLine,
                                  unsigned char* buffer, std::uint32_t bufferSize,
                                  std::uint32_t* written) const {
    return Loaded().ExtractMem(window, commandLine, buffer, bufferSize, nullptr, nullptr, written);
}

bool LibraryOpensArchive(archives::TSharedDllBinding& binding, const std::string& fileName) {
    try {
        binding.Load();
        archives::TArchiverDll& library = binding.Loaded();
        const HARC handle =
            library.OpenArchive(0, platform::ExpandFileName(fileName), kProbeOpenMode);
        library.CloseArchive(handle);
        return handle != 0;
    } catch (...) {
        return false;
    }
}

}  // namespace zembrat::drivers
