#include "drivers/bga32.h"

#include "archives/cmd_opt.h"
#include "platform/file_system.h"
#include "platform/path.h"

namespace zembrat::drivers {

archives::TSharedDllBinding& BgaBinding() {
    static archives::TSharedDllBinding binding("BGA 形式書庫", "BGA32.DLL", "Bga");
    return binding;
}

std::string TBGA32::BuildCommand(std::string_view command, const std::string& archive,
                                 const TArchiverOptions& options, const std::string& folder,
                                 FileItems items, bool useListFile) const {
    const TArchiverOptions& o = options;
    archives::TCmdOpt builder;
    builder.AddSwitch("a", o.a > 0);
    builder.Add(o.c > 0 ? "-o" : "-n");  // one of the two, also when c is not set
    // No questions from the library while progress goes to a window.
    builder.AddSwitch("i", o.n > 0 || HasOwnerWindow());
    builder.AddSwitch("r", o.r > 0);
    builder.AddSwitch("j", o.x < 1);
    builder.AddNumber("l", o.jm);
    return CompleteCommand(builder, command, archive, folder, options, items, useListFile);
}

int TBGA32::Unpack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                   const std::string& folder, FileItems items, bool useListFile,
                   std::string& output) {
    CommandLine = BuildCommand("x", archive, options, folder, items, useListFile);
    return RunCommand(window, CommandLine, output);
}

int TBGA32::Pack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                 const std::string& folder, FileItems items, bool useListFile,
                 std::string& output) {
    CommandLine = BuildCommand("a", archive, options, folder, items, useListFile);
    return RunCommand(window, CommandLine, output);
}

int TBGA32::RemoveItem(WindowHandle window, const std::string& archive,
                       const TArchiverOptions& options, const std::string&, FileItems items, bool,
                       std::string& output) {
    CommandLine = BuildCommand("d", archive, options, "", items,
                               options.ResFileUsage.Contains(archives::ruOnRemoveItem));
    return RunCommand(window, CommandLine, output);
}

int TBGA32::MakeSfx(WindowHandle window, const std::string& archive,
                    const TArchiverOptions& options, const std::string& folder,
                    std::string& output) {
    CommandLine = BuildCommand("s", archive, options, folder, {}, false);
    return RunCommand(window, CommandLine, output);
}

int TBGA32::CheckArchive(const std::string& archive, int mode, int furtherMode) {
    return TLibraryDriver::CheckArchive(archive, mode == 2 ? 1 : mode, furtherMode);
}

bool IsBgaArchive(const std::string& fileName) {
    try {
        TBGA32::LoadLibraryBinding();
        if (!platform::FileExists(platform::ExpandFileName(fileName))) {
            return false;
        }
    } catch (...) {
        return false;
    }
    return LibraryOpensArchive(BgaBinding(), fileName);
}

}  // namespace zembrat::drivers
