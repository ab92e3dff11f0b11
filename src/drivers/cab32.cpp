#include "drivers/cab32.h"

#include "archives/cmd_opt.h"
#include "platform/path.h"

namespace zembrat::drivers {

archives::TSharedDllBinding& CabBinding() {
    static archives::TSharedDllBinding binding("CAB 形式書庫", "CAB32.DLL", "Cab");
    return binding;
}

std::string TCab32::BuildCommand(std::string_view command, const std::string& archive,
                                 bool useListFile, FileItems items, const std::string& folder,
                                 const TArchiverOptions& options) const {
    const TArchiverOptions& o = options;
    archives::TCmdOpt builder;
    builder.AddSwitch("o", o.c == 1);
    // No questions from the library while progress goes to a window.
    builder.AddSwitch("i", o.n > 0 || HasOwnerWindow());
    builder.AddSwitch("r", o.r > 0);
    builder.AddFolder("h", o.w);  // "-h<folder>/" in one pair of quotes
    builder.AddSwitch("j", o.x == 0);
    builder.AddSwitch("q", o.ji > 0);
    return CompleteCommand(builder, command, archive, folder, options, items, useListFile);
}

int TCab32::Unpack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                   const std::string& folder, FileItems items, bool, std::string& output) {
    CommandLine =
        BuildCommand("-x", platform::ExpandFileName(archive),
                     options.ResFileUsage.Contains(archives::ruOnUnpack), items, folder, options);
    return RunCommand(window, CommandLine, output);
}

int TCab32::Pack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                 const std::string& folder, FileItems items, bool, std::string& output) {
    CommandLine = BuildCommand("-a", archive, options.ResFileUsage.Contains(archives::ruOnPack),
                               items, folder, options);
    return RunCommand(window, CommandLine, output);
}

int TCab32::MakeSfx(WindowHandle window, const std::string& archive,
                    const TArchiverOptions& options, const std::string& folder,
                    std::string& output) {
    CommandLine = BuildCommand("-f", archive, false, {}, folder, options);
    return RunCommand(window, CommandLine, output);
}

int TCab32::ExtractMem(WindowHandle window, const std::string& archive,
                       const TArchiverOptions& options, const std::string& member,
                       unsigned char* buffer, std::uint32_t bufferSize, std::uint32_t* written) {
    const archives::FileItem memberItem{member};
    CommandLine = BuildCommand("", archive, false, FileItems(&memberItem, 1), "", options);
    return RunExtractMem(window, CommandLine, buffer, bufferSize, written);
}

bool IsCabArchive(const std::string& fileName) {
    return LibraryOpensArchive(CabBinding(), fileName);
}

}  // namespace zembrat::drivers
