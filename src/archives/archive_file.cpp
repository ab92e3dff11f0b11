#include "archives/archive_file.h"

#include <array>
#include <atomic>
#include <utility>

#include "archives/archiver_errors.h"
#include "archives/driver_registry.h"
#include "filters/file_filter.h"
#include "platform/file_system.h"
#include "platform/path.h"

namespace zembrat::archives {

namespace {

std::atomic<platform::MessageId> arcExtractMessage{0};

constexpr const char* kUnknownKind = "書庫の形式を特定できませんでした。";

bool EqualsIgnoringAsciiCase(std::string_view left, std::string_view right) {
    if (left.size() != right.size()) {
        return false;
    }
    for (std::size_t i = 0; i < left.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        if (lower(left[i]) != lower(right[i])) {
            return false;
        }
    }
    return true;
}

struct ExtensionKind {
    std::string_view extension;
    TArchiverType type;
};

// Extensions and the kinds they name. A kind whose driver is not linked into the program
// (no entry in the driver registry) is refused as an unsupported kind when chosen, and its
// content recogniser is simply absent from detection. Every other name (".cbz", ".txz", a
// program saved as ".bin", no extension at all) is recognised by content, as ".exe" is.
constexpr std::array<ExtensionKind, 21> kExtensionKinds{{
    {".z", atTgz},          {".gz", atTgz},  {".tgz", atTgz}, {".taz", atTgz}, {".a", atTar},
    {".lib", atTar},        {".tar", atTar}, {".deb", atTar}, {".rpm", atTar}, {".cpio", atTar},
    {".bz2", atBZ2},        {".gza", atBga}, {".bza", atBga}, {".gca", atGCA}, {".rar", atRar},
    {".arj", atArj},        {".jar", atZip}, {".zip", atZip}, {".cab", atCab}, {".lzh", atLha},
    {".exe", atAutoDetect},  // by content
}};

}  // namespace

TArchiveFile::TArchiveFile() : options_(std::make_unique<TArchiverOptions>()) {}

TArchiveFile::~TArchiveFile() {
    window_.reset();
    archiver_.reset();
}

void TArchiveFile::SetFileName(const std::string& fileName) {
    const TArchiverType type = DetectArchiverType(fileName, true);
    // A file that is there and that no recogniser claims must not fall to whichever driver
    // the previous file left; a name not yet there (an archive about to be made) keeps it.
    if (type == atNone && platform::FileExists(fileName)) {
        throw EArchiver(kUnknownKind);
    }
    SetArchiverType(type);
    fileName_ = fileName;
}

void TArchiveFile::SetOutputSize(int size) {
    if (size <= 0) {
        output_.clear();
        return;
    }
    output_.assign(static_cast<std::size_t>(size), '\0');
}

void TArchiveFile::SetOptions(const TArchiverOptions& options) {
    options.CopyTo(*options_);
}

void TArchiveFile::SetArchiverType(TArchiverType type) {
    if (designing_) {
        archiverType_ = type;
        return;
    }
    if (type == atNone) {
        return;
    }
    if (type == atAutoDetect) {
        archiverType_ = type;
        return;
    }
    const DriverKind* kind = DriverRegistry::Instance().Find(type);
    if (kind == nullptr || !kind->create) {
        if (loading_) {
            archiverType_ = type;
            return;
        }
        throw EArchiver(kUnknownKind);
    }
    std::unique_ptr<TArchiver> driver = kind->create();  // may raise; nothing changes then
    archiver_ = std::move(driver);
    archiverType_ = type;
}

std::string TArchiveFile::OutputText() const {
    return std::string(output_.c_str());
}

WindowHandle TArchiveFile::ProgressWindow() const {
    return window_ ? window_->Handle() : 0;
}

TArchiverType TArchiveFile::DetectArchiverType(const std::string& fileName, bool byExtension) {
    if (byExtension) {
        const std::string extension = platform::ExtractFileExt(fileName);
        bool exe = false;
        for (const auto& [known, type] : kExtensionKinds) {
            if (EqualsIgnoringAsciiCase(extension, known)) {
                if (type != atAutoDetect) {
                    return type;
                }
                exe = true;
            }
        }
        // A name the table does not know has no content to ask about until the file is there.
        if (!exe && !platform::FileExists(fileName)) {
            return atNone;
        }
    }
    return DriverRegistry::Instance().DetectByContent(fileName);
}

std::vector<std::string> TArchiveFile::ArchiveExtensions() {
    std::vector<std::string> extensions;
    for (const auto& [extension, type] : kExtensionKinds) {
        if (type == atAutoDetect || DriverRegistry::Instance().Find(type) != nullptr) {
            extensions.emplace_back(extension);
        }
    }
    return extensions;
}

platform::MessageId TArchiveFile::ArcExtractMessage() {
    return arcExtractMessage.load();
}

void TArchiveFile::ResolveAutoDetect() {
    if (archiverType_ == atAutoDetect) {
        SetArchiverType(DetectArchiverType(fileName_, false));
    }
}

void TArchiveFile::CheckArchiver() const {
    if (!archiver_) {
        throw EArchiver("書庫の形式を判別できません。");
    }
}

void TArchiveFile::HookProgress() {
    if (!onProgress_) {
        return;
    }
    if (arcExtractMessage.load() == 0) {
        arcExtractMessage.store(platform::RegisterWindowMessage(ARC_EXTRACT_MESSAGE_NAME));
    }
    if (!window_) {
        window_ = std::make_unique<platform::HiddenWindow>(
            [this](platform::MessageId message, std::uintptr_t wParam, std::intptr_t lParam) {
                return WndProc(message, wParam, lParam);
            });
    }
    try {
        archiver_->SetOwnerWindow(window_->Handle(), nullptr);
    } catch (...) {
        // Progress is a courtesy: a library that cannot take an owner still does the work.
    }
}

void TArchiveFile::UnhookProgress() {
    if (!onProgress_ || !archiver_) {
        return;
    }
    try {
        archiver_->KillOwnerWindow(window_ ? window_->Handle() : 0);
    } catch (...) {
        // As for HookProgress.
    }
}

std::intptr_t TArchiveFile::WndProc(platform::MessageId message, std::uintptr_t wParam,
                                    std::intptr_t lParam) {
    if (message != 0 && message == arcExtractMessage.load()) {
        bool abort = false;
        DoProgress(static_cast<int>(wParam), reinterpret_cast<LPEXTRACTINGINFOEX>(lParam), abort);
        return abort ? 1 : 0;
    }
    return platform::DefWindowProc(ProgressWindow(), message, wParam, lParam);
}

void TArchiveFile::DoProgress(int state, LPEXTRACTINGINFOEX record, bool& abort) {
    if (onProgress_) {
        onProgress_(*this, state, record, abort);
    }
}

template <class Operation>
int TArchiveFile::RunOperation(Operation&& operation) {
    HookProgress();
    int result = 0;
    try {
        result = operation();
    } catch (...) {
        commandLine_ = archiver_ ? archiver_->CommandLine : std::string();
        UnhookProgress();
        throw;
    }
    commandLine_ = archiver_ ? archiver_->CommandLine : std::string();
    UnhookProgress();
    return result;
}

int TArchiveFile::PackCall(WindowHandle window, const TArchiverOptions& options,
                           const std::string& baseFolder, FileItems items) {
    return RunOperation([&] {
        return archiver_->Pack(window, fileName_, options, baseFolder, items,
                               options.ResFileUsage.Contains(ruOnPack), output_);
    });
}

int TArchiveFile::Pack(WindowHandle window, const TArchiverOptions* options,
                       const std::string& baseFolder, FileItems items) {
    ResolveAutoDetect();
    CheckArchiver();
    const TArchiverOptions& chosen = options != nullptr ? *options : *options_;
    archiver_->EnsureDLL();

    int result = 0;
    if (chosen.PackFilter == pfComponent) {
        TArchiverOptions copy;
        chosen.CopyTo(copy);
        bool abort = false;
        const StringList files = filters::ExpandFileList(
            copy, baseFolder,
            [this](int state, LPEXTRACTINGINFOEX record, bool& stop) {
                DoProgress(state, record, stop);
            },
            items, abort);
        if (abort) {
            return kPackAborted;
        }
        if (!files.empty()) {
            copy.jx.clear();  // the filter has already applied the exclusions
            const std::array<FileItem, 1> filtered{FileItem(std::cref(files))};
            result = PackCall(window, copy, baseFolder, filtered);
        } else if (!output_.empty()) {
            output_[0] = '\0';
        }
    } else {
        result = PackCall(window, chosen, baseFolder, items);
    }
    commandLine_ = archiver_->CommandLine;
    return result;
}

int TArchiveFile::Unpack(WindowHandle window, const TArchiverOptions* options,
                         const std::string& folder, FileItems items) {
    CheckArchiver();
    const TArchiverOptions& chosen = options != nullptr ? *options : *options_;
    return RunOperation([&] {
        return archiver_->Unpack(window, fileName_, chosen, folder, items,
                                 chosen.ResFileUsage.Contains(ruOnUnpack), output_);
    });
}

int TArchiveFile::MakeSfx(WindowHandle window, const TArchiverOptions* options,
                          const std::string& folder) {
    CheckArchiver();
    const TArchiverOptions& chosen = options != nullptr ? *options : *options_;
    return RunOperation(
        [&] { return archiver_->MakeSfx(window, fileName_, chosen, folder, output_); });
}

}  // namespace zembrat::archives
