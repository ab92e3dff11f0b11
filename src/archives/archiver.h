// The abstract format driver. Every driver offers the same operations; the base answers
// the listing operations with an empty result and the others with an error naming the
// missing capability.
#pragma once

#include <cstdint>
#include <string>

#include "archiver_api.h"
#include "archives/archiver_dll.h"
#include "archives/archiver_options.h"
#include "archives/cmd_opt.h"
#include "archives/file_items.h"

namespace zembrat::archives {

class TArchiver {
  public:
    virtual ~TArchiver() = default;
    TArchiver(const TArchiver&) = delete;
    TArchiver& operator=(const TArchiver&) = delete;

    // Make the kind's library available / release it. Drivers implement them on their
    // class (the binding is shared by every driver of a kind).
    virtual void LoadDLL();
    virtual void FreeDLL();

    virtual HARC OpenArchive(WindowHandle window, const std::string& archive, std::uint32_t mode);
    virtual int FindFirst(HARC archive, TArchiveEntryInfo& entry, const std::string& wildcard);
    virtual int FindNext(HARC archive, TArchiveEntryInfo& entry);
    virtual int CloseArchive(HARC archive);
    virtual int Unpack(WindowHandle window, const std::string& archive,
                       const TArchiverOptions& options, const std::string& folder, FileItems items,
                       bool useListFile, std::string& output) = 0;
    virtual int Pack(WindowHandle window, const std::string& archive,
                     const TArchiverOptions& options, const std::string& folder, FileItems items,
                     bool useListFile, std::string& output);
    virtual int RemoveItem(WindowHandle window, const std::string& archive,
                           const TArchiverOptions& options, const std::string& folder,
                           FileItems items, bool useListFile, std::string& output);
    virtual int Update(WindowHandle window, const std::string& archive,
                       const TArchiverOptions& options, const std::string& folder, FileItems items,
                       bool useListFile, std::string& output);
    virtual int MakeSfx(WindowHandle window, const std::string& archive,
                        const TArchiverOptions& options, const std::string& folder,
                        std::string& output);
    virtual int ExtractMem(WindowHandle window, const std::string& archive,
                           const TArchiverOptions& options, const std::string& member,
                           unsigned char* buffer, std::uint32_t bufferSize, std::uint32_t* written);
    // The library's check mode is mode + furtherMode.
    virtual int CheckArchive(const std::string& archive, int mode, int furtherMode);
    virtual bool SetOwnerWindow(WindowHandle window, ARC_PROGRESS_PROC procedure);
    virtual bool KillOwnerWindow(WindowHandle window);
    void EnsureDLL() { LoadDLL(); }

    bool HasOwnerWindow() const { return OwnerWindow != 0; }

    WindowHandle OwnerWindow = 0;
    // The command text the driver built for its last library call.
    std::string CommandLine;

  protected:
    // Drivers call their kind's LoadDLL in their own constructor, after this one.
    TArchiver() = default;

    // The archive quoted, then the folder quoted with a trailing delimiter (if any).
    static void AddArchiveAndFolder(TCmdOpt& builder, const std::string& archive,
                                    const std::string& folder);
    // The names inline, or through the list file when asked for and one is named; then
    // UserFileList. The count of names.
    static int AddFileList(TCmdOpt& builder, const TArchiverOptions& options, FileItems items,
                           bool useListFile);
};

}  // namespace zembrat::archives
