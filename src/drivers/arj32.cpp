#include "drivers/arj32.h"

namespace zembrat::drivers {

archives::TSharedDllBinding& ArjBinding() {
    static archives::TSharedDllBinding binding("ARJ 形式書庫", "UNARJ32J.DLL", "Unarj");
    return binding;
}

int TArj32::Unpack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                   const std::string& folder, FileItems items, bool useListFile,
                   std::string& output) {
    CommandLine = BuildCommand(*this, "x", archive, options, folder, items, useListFile);
    return RunCommand(window, CommandLine, output);
}

// The ARJ library only reads: the driver base's refusals, instead of LHA lines it would reject.
int TArj32::Pack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                 const std::string& folder, FileItems items, bool useListFile,
                 std::string& output) {
    return TArchiver::Pack(window, archive, options, folder, items, useListFile, output);
}

int TArj32::RemoveItem(WindowHandle window, const std::string& archive,
                       const TArchiverOptions& options, const std::string& folder, FileItems items,
                       bool useListFile, std::string& output) {
    return TArchiver::RemoveItem(window, archive, options, folder, items, useListFile, output);
}

int TArj32::Update(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                   const std::string& folder, FileItems items, bool useListFile,
                   std::string& output) {
    return TArchiver::Update(window, archive, options, folder, items, useListFile, output);
}

int TArj32::MakeSfx(WindowHandle window, const std::string& archive,
                    const TArchiverOptions& options, const std::string& folder,
                    std::string& output) {
    return TArchiver::MakeSfx(window, archive, options, folder, output);
}

bool IsArjArchive(const std::string& fileName) {
    return LibraryOpensArchive(ArjBinding(), fileName);
}

}  // namespace zembrat::drivers
