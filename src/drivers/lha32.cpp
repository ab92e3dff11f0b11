#include "drivers/lha32.h"

#include <memory>

#include "archives/archiver_errors.h"
#include "archives/cmd_opt.h"
#include "platform/path.h"

namespace zembrat::drivers {

using archives::TCmdOpt;

namespace {

// The assertion texts keep the unit name and line numbers users have always seen.
constexpr const char* kJseMissing = "jse オプションが設定されていません。 (LHA32, 258 行)";
constexpr const char* kJsoMissing = "jso オプションが設定されていません。 (LHA32, 264 行)";

constexpr const char* kKindName = "LHA 形式書庫";
constexpr const char* kDllName = "UNLHA32.DLL";

constexpr int kProbeCheckMode = 16;

}  // namespace

archives::TSharedDllBinding& LhaBinding() {
    static archives::TSharedDllBinding binding(kKindName, kDllName, "Unlha");
    return binding;
}

std::string TLha32::BuildCommand(const archives::TArchiver& driver, std::string_view command,
                                 const std::string& archive, const TArchiverOptions& options,
                                 const std::string& folder, FileItems items, bool useListFile) {
    TCmdOpt builder;
    builder.Add("-+");  // every line of this driver starts with it
    if (command == "x" && options.jse == -1) {
        throw archives::EAssertionFailed(kJseMissing);
    }
    if (options.jso == -1) {
        throw archives::EAssertionFailed(kJsoMissing);
    }
    const auto& o = options;
    for (auto [name, value] : {std::pair{"a", o.a},
                               {"c", o.c},
                               {"e", o.e},
                               {"f", o.f},
                               {"h", o.h},
                               {"i", o.i},
                               {"l", o.l},
                               {"m", o.m}}) {
        builder.AddNumber(name, value);
    }
    // The library must not ask questions while progress is routed to a window.
    builder.AddNumber("n", driver.HasOwnerWindow() ? 1 : o.n);
    for (auto [name, value] :
         {std::pair{"o", o.o}, {"p", o.p}, {"r", o.r}, {"s", o.s}, {"t", o.t}, {"u", o.u}}) {
        builder.AddNumber(name, value);
    }
    builder.AddFolder("w", o.w);
    for (auto [name, value] : {std::pair{"x", o.x},
                               {"y", o.y},
                               {"z", o.z},
                               {"jc", o.jc},
                               {"jd", o.jd},
                               {"je", o.je},
                               {"jf", o.jf},
                               {"jh", o.jh},
                               {"ji", o.ji},
                               {"jm", o.jm},
                               {"jn", o.jn}}) {
        builder.AddNumber(name, value);
    }
    builder.AddQuoted("jo", o.jo);
    builder.AddQuoted("job", o.job);
    for (auto [name, value] : {std::pair{"jp", o.jp},
                               {"jr", o.jr},
                               {"jsb", o.jsb},
                               {"jsc", o.jsc},
                               {"jsd", o.jsd},
                               {"jse", o.jse},
                               {"jsf", o.jsf},
                               {"jsl", o.jsl},
                               {"jso", o.jso},
                               {"jss", o.jss},
                               {"jst", o.jst},
                               {"jsv", o.jsv},
                               {"jsz", o.jsz},
                               {"jw", o.jw}}) {
        builder.AddNumber(name, value);
    }
    const archives::FileItem exclusions{std::cref(o.jx)};
    builder.AddFiles("jx", FileItems(&exclusions, 1));
    for (auto [name, value] : {std::pair{"jyc", o.jyc},
                               {"jyd", o.jyd},
                               {"jyk", o.jyk},
                               {"jyn", o.jyn},
                               {"jyo", o.jyo}}) {
        builder.AddNumber(name, value);
    }
    builder.AddQuoted("jz", o.jz);
    for (auto [name, value] : {std::pair{"ga", o.ga},
                               {"gd", o.gd},
                               {"ge", o.ge},
                               {"gf", o.gf},
                               {"gj", o.gj},
                               {"gm", o.gm},
                               {"gn", o.gn},
                               {"go", o.go},
                               {"gp", o.gp}}) {
        builder.AddNumber(name, value);
    }
    builder.AddQuoted("gr", o.gr);
    for (auto [name, value] : {std::pair{"gs", o.gs}, {"gu", o.gu}, {"gw", o.gw}}) {
        builder.AddNumber(name, value);
    }
    return CompleteCommand(builder, command, archive, folder, options, items, useListFile);
}

int TLha32::RunFileCommand(WindowHandle window, std::string_view command,
                           const std::string& archive, const TArchiverOptions& options,
                           const std::string& folder, FileItems items,
                           archives::TResFileUse listFileUse, std::string& output) {
    // The driver decides about the list file from the options, whatever the caller asked.
    CommandLine = BuildCommand(*this, command, archive, options, folder, items,
                               options.ResFileUsage.Contains(listFileUse));
    return RunCommand(window, CommandLine, output);
}

int TLha32::Unpack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                   const std::string& folder, FileItems items, bool, std::string& output) {
    return RunFileCommand(window, "x", archive, options, folder, items, archives::ruOnUnpack,
                          output);
}

int TLha32::Pack(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                 const std::string& folder, FileItems items, bool, std::string& output) {
    return RunFileCommand(window, "u", archive, options, folder, items, archives::ruOnPack, output);
}

int TLha32::RemoveItem(WindowHandle window, const std::string& archive,
                       const TArchiverOptions& options, const std::string&, FileItems items, bool,
                       std::string& output) {
    return RunFileCommand(window, "d", archive, options, "", items, archives::ruOnRemoveItem,
                          output);
}

int TLha32::Update(WindowHandle window, const std::string& archive, const TArchiverOptions& options,
                   const std::string& folder, FileItems items, bool, std::string& output) {
    return RunFileCommand(window, "f", archive, options, folder, items, archives::ruOnUpdate,
                          output);
}

int TLha32::MakeSfx(WindowHandle window, const std::string& archive,
                    const TArchiverOptions& options, const std::string& folder,
                    std::string& output) {
    CommandLine = BuildCommand(*this, "s", archive, options, folder, {}, false);
    return RunCommand(window, CommandLine, output);
}

int TLha32::ExtractMem(WindowHandle window, const std::string& archive,
                       const TArchiverOptions& options, const std::string& member,
                       unsigned char* buffer, std::uint32_t bufferSize, std::uint32_t* written) {
    const archives::FileItem memberItem{member};
    CommandLine = BuildCommand(*this, "", archive, options, "", FileItems(&memberItem, 1), false);
    return RunExtractMem(window, CommandLine, buffer, bufferSize, written);
}

bool IsLhaArchive(const std::string& fileName) {
    // The LHA library is asked to check the file before it is asked to open it.
    try {
        TLha32::LoadLibraryBinding();
        if (LhaBinding().Loaded().CheckArchive(platform::ExpandFileName(fileName),
                                               kProbeCheckMode) == 0) {
            return false;
        }
    } catch (...) {
        return false;
    }
    return LibraryOpensArchive(LhaBinding(), fileName);
}

}  // namespace zembrat::drivers
