// The object a program holds to work on one archive at a time, whatever its kind. Setting
// FileName chooses the driver from the extension (or the content, for ".exe" and every
// extension the table does not name); Pack, Unpack
// and MakeSfx call the driver, routing the library's progress messages to OnProgress when a
// handler is set.
//
// Component machinery kept from the window framework: the holder owns the object (RAII),
// and two life states matter: design mode (a kind written is only stored) and loading (an
// unsupported kind written is stored instead of refused).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archiver_api.h"
#include "archives/archiver.h"
#include "archives/archiver_options.h"
#include "archives/archiver_types.h"
#include "archives/file_items.h"
#include "platform/messages.h"

namespace zembrat::archives {

class TArchiveFile;

// Sender, state, the library's progress record (passed on unread) and Abort, which the
// handler sets to stop the library.
using TArchiverProgressEvent =
    std::function<void(TArchiveFile& sender, int state, LPEXTRACTINGINFOEX lpEis, bool& abort)>;

// The result of Pack when the progress handler stopped the file selection.
inline constexpr int kPackAborted = 0x8020;

class TArchiveFile {
  public:
    TArchiveFile();
    ~TArchiveFile();
    TArchiveFile(const TArchiveFile&) = delete;
    TArchiveFile& operator=(const TArchiveFile&) = delete;

    const std::string& FileName() const { return fileName_; }
    // Re-chooses the driver by extension or content first, then stores the name. Raises
    // "書庫の形式を特定できませんでした。" for an existing file that no recogniser claims.
    void SetFileName(const std::string& fileName);

    int OutputSize() const { return static_cast<int>(output_.size()); }
    void SetOutputSize(int size);

    TArchiverOptions& Options() { return *options_; }
    // Takes the values of the given set; the component keeps its own object.
    void SetOptions(const TArchiverOptions& options);

    TArchiverType ArchiverType() const { return archiverType_; }
    void SetArchiverType(TArchiverType type);

    const TArchiverProgressEvent& OnProgress() const { return onProgress_; }
    void SetOnProgress(TArchiverProgressEvent handler) { onProgress_ = std::move(handler); }

    TArchiver* Archiver() const { return archiver_.get(); }
    const std::string& CommandLine() const { return commandLine_; }
    // The output buffer handed to the library (its length is OutputSize).
    const std::string& Output() const { return output_; }
    // Output up to its first NUL.
    std::string OutputText() const;
    // The hidden window receiving progress messages; 0 until first needed.
    WindowHandle ProgressWindow() const;

    // Operations; options nullptr means the component's own. Each returns the driver's
    // result unchanged.
    int Pack(WindowHandle window, const TArchiverOptions* options, const std::string& baseFolder,
             FileItems items);
    int Unpack(WindowHandle window, const TArchiverOptions* options, const std::string& folder,
               FileItems items);
    int MakeSfx(WindowHandle window, const TArchiverOptions* options, const std::string& folder);

    // The kind named by the extension (".exe" and names the table does not know: by
    // content), or by content alone.
    static TArchiverType DetectArchiverType(const std::string& fileName, bool byExtension);
    // The extensions (".lzh", ...) whose kind has a driver, and ".exe": what a file chooser
    // offers as archives.
    static std::vector<std::string> ArchiveExtensions();
    // The id of "wm_arcextract"; 0 until a component with a progress handler registered it.
    static platform::MessageId ArcExtractMessage();

    void SetDesigning(bool designing) { designing_ = designing; }
    void SetLoading(bool loading) { loading_ = loading; }

  private:
    void ResolveAutoDetect();
    void CheckArchiver() const;
    void HookProgress();
    void UnhookProgress();
    std::intptr_t WndProc(platform::MessageId message, std::uintptr_t wParam, std::intptr_t lParam);
    void DoProgress(int state, LPEXTRACTINGINFOEX record, bool& abort);
    int PackCall(WindowHandle window, const TArchiverOptions& options,
                 const std::string& baseFolder, FileItems items);
    template <class Operation>
    int RunOperation(Operation&& operation);

    TArchiverType archiverType_ = atAutoDetect;
    std::unique_ptr<TArchiver> archiver_;
    std::unique_ptr<TArchiverOptions> options_;
    std::string fileName_ = NoValue;
    std::string commandLine_;
    std::string output_;
    std::unique_ptr<platform::HiddenWindow> window_;
    TArchiverProgressEvent onProgress_;
    bool designing_ = false;
    bool loading_ = false;
};

}  // namespace zembrat::archives
