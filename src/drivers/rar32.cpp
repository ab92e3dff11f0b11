#include "drivers/rar32.h"

#include <cstring>

#include "archives/cmd_opt.h"

namespace zembrat::drivers {

namespace {
constexpr std::size_t kTestOutputSize = 4096;
}  // namespace

archives::TSharedDllBinding& RarBinding() {
    static archives::TSharedDllBinding binding("RAR 形式書庫", "UNRAR32.DLL", "Unrar");
    return binding;
}

std::string TRar32::BuildCommand(std::string_view command, const std::string& archive,
                                 const TArchiverOptions& options, const std::string& folder,
                                 FileItems items, bool useListFile) {
    const TArchiverOptions& o = options;
    archives::TCmdOpt builder;
    builder.AddSwitch("u", o.c < 1);  // also when c is not set
    builder.AddSwitch("y", o.m > 0);
    builder.AddSwitch("s", o.p > 0);
    return CompleteCommand(builder, command, archive, folder, options, items, useListFile);
}

int TRar32::Unpack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                   const std::string& folder, FileItems items, bool, std::string& output) {
    CommandLine = BuildCommand(options.x == 0 ? "-e" : "-x", archive, options, folder, items,
                               options.ResFileUsage.Contains(archives::ruOnUnpack));
    return RunCommand(window, CommandLine, output);
}

int TRar32::ExtractMem(WindowHandle window, const std::string& archive,
                       const TArchiverOptions& options, const std::string& member,
                       unsigned char* buffer, std::uint32_t bufferSize, std::uint32_t* written) {
    const archives::FileItem memberItem{member};
    CommandLine = BuildCommand("", archive, options, "", FileItems(&memberItem, 1), false);
    return RunExtractMem(window, CommandLine, buffer, bufferSize, written);
}

int TRar32::Test(const std::string& archive, std::string& output) {
    CommandLine = "-t \"" + archive + "\"";
    output.assign(kTestOutputSize, '\0');
    const int result = RunCommand(0, CommandLine, output);
    output.resize(::strnlen(output.data(), output.size()));
    return result;
}

bool IsRarArchive(const std::string& fileName) {
    return LibraryOpensArchive(RarBinding(), fileName);
}

}  // namespace zembrat::drivers
