#include "drivers/tar32.h"

#include <memory>
#include <optional>

#include "archives/archiver_errors.h"
#include "archives/cmd_opt.h"
#include "drivers/zip32.h"
#include "platform/path.h"
#include "platform/system_folders.h"

namespace zembrat::drivers {

using archives::TCmdOpt;

namespace {

constexpr const char* kKindName = "tar/tgz/taz/bz2 形式書庫";
constexpr const char* kDllName = "TAR32.DLL";
constexpr const char* kStubName = "kmtarsef.exe";
constexpr const char* kBz2SfxRefused = "BZ2 形式書庫は自己解凍形式にできません。";
constexpr const char* kStubMissing =
    "tar/tgz 書庫からの自己解凍書庫の作成には kmtarsef.exe が必要です。";

// The compression switch name for the driver's kind: "z" (gzip), "B" (bzip2), or none.
const char* CompressionSwitch(const TTar32& driver) {
    if (dynamic_cast<const TTgz32*>(&driver) != nullptr) {
        return "z";
    }
    if (dynamic_cast<const TBZ232*>(&driver) != nullptr) {
        return "B";
    }
    return nullptr;
}

}  // namespace

archives::TSharedDllBinding& TarBinding() {
    static archives::TSharedDllBinding binding(kKindName, kDllName, "Tar");
    return binding;
}

std::string TTar32::BuildCommand(std::string_view command, const std::string& archive,
                                 bool useListFile, FileItems items, const std::string& folder,
                                 const TArchiverOptions& options) const {
    const TArchiverOptions& o = options;
    TCmdOpt builder;
    builder.QuoteSwitch = true;  // -f "archive", -o "folder"
    builder.AddSwitch("AH", o.a > 0);
    builder.AddSwitch("I", o.a == 0);
    builder.AddSwitch("-display-dialog=0", !HasOwnerWindow() && o.n > 0);
    builder.AddSwitch("g", o.o > 0);
    builder.AddNumber("-check-all-path=", o.p);
    builder.AddNumber("-use-directory=", o.x);
    if (const char* compression = CompressionSwitch(*this)) {
        // A level below 1 (none set) leaves the level to the library.
        if (o.jm < 1) {
            builder.AddSwitch(compression, true);
        } else {
            builder.AddNumber(compression, o.jm);
        }
    }
    builder.Add(o.UserOptions);
    if (!archives::IsUnsetOrEmpty(archive)) {
        builder.AddValue("f", archive);
    }
    builder.AddFolder("o", folder);
    AddFileList(builder, options, items, useListFile);
    return std::string(command) + builder.Text;
}

int TTar32::RunFileCommand(WindowHandle window, std::string_view command,
                           const std::string& archive, const TArchiverOptions& options,
                           const std::string& folder, FileItems items,
                           archives::TResFileUse listFileUse, std::string& output) {
    CommandLine = BuildCommand(command, archive, options.ResFileUsage.Contains(listFileUse), items,
                               folder, options);
    return RunCommand(window, CommandLine, output);
}

int TTar32::Unpack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                   const std::string& folder, FileItems items, bool, std::string& output) {
    return RunFileCommand(window, "x", archive, options, folder, items, archives::ruOnUnpack,
                          output);
}

int TTar32::Pack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                 const std::string& folder, FileItems items, bool, std::string& output) {
    return RunFileCommand(window, "c", archive, options, folder, items, archives::ruOnPack, output);
}

int TTar32::MakeSfx(WindowHandle, const std::string& archive, const TArchiverOptions&,
                    const std::string& folder, std::string&) {
    if (dynamic_cast<const TBZ232*>(this) != nullptr) {
        throw archives::EArchiver(kBz2SfxRefused);
    }
    const std::optional<std::string> stub = platform::SearchPath(kStubName);
    if (!stub) {
        throw archives::EArchiver(kStubMissing);
    }
    WriteSelfExtractor(*stub, archive, SfxTargetName(archive, folder));
    return 0;
}

int TTar32::ExtractMem(WindowHandle window, const std::string& archive,
                       const TArchiverOptions& options, const std::string& member,
                       unsigned char* buffer, std::uint32_t bufferSize, std::uint32_t* written) {
    const archives::FileItem memberItem{member};
    CommandLine = BuildCommand("", archive, false, FileItems(&memberItem, 1), "", options);
    return RunExtractMem(window, CommandLine, buffer, bufferSize, written);
}

archives::TArchiverType TarArchiverType(const std::string& fileName) {
    try {
        TTar32::LoadLibraryBinding();
        switch (TarBinding().Loaded().GetArchiveType(fileName)) {
            case 1:
                return archives::atTar;
            case 2:
            case 3:
            case 4:
            case 5:
                return archives::atTgz;
            case 6:
            case 7:
                return archives::atBZ2;
            default:
                return archives::atNone;
        }
    } catch (...) {
        return archives::atNone;
    }
}

}  // namespace zembrat::drivers
