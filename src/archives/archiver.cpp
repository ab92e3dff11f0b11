#include "archives/archiver.h"

#include "archives/archiver_errors.h"

namespace zembrat::archives {

void TArchiver::LoadDLL() {
    throw EArchiver("Abstract method 'TArchiver.LoadDLL' was called");
}

void TArchiver::FreeDLL() {
    throw EArchiver("Abstract method 'TArchiver.FreeDLL' was called");
}

HARC TArchiver::OpenArchive(WindowHandle, const std::string&, std::uint32_t) {
    return 0;
}

int TArchiver::FindFirst(HARC, TArchiveEntryInfo&, const std::string&) {
    return -1;
}

int TArchiver::FindNext(HARC, TArchiveEntryInfo&) {
    return -1;
}

int TArchiver::CloseArchive(HARC) {
    return 0;
}

int TArchiver::Pack(WindowHandle, const std::string&, const TArchiverOptions&, const std::string&,
                    FileItems, bool, std::string&) {
    throw EArchiver("この形式では書庫ファイルの作成をサポートしておりません。");
}

int TArchiver::RemoveItem(WindowHandle, const std::string&, const TArchiverOptions&,
                          const std::string&, FileItems, bool, std::string&) {
    throw EArchiver("この形式の書庫ではファイルの削除をサポートしておりません。");
}

int TArchiver::Update(WindowHandle, const std::string&, const TArchiverOptions&, const std::string&,
                      FileItems, bool, std::string&) {
    throw EArchiver("この形式の書庫では書庫の更新をサポートしておりません。");
}

int TArchiver::MakeSfx(WindowHandle, const std::string&, const TArchiverOptions&,
                       const std::string&, std::string&) {
    throw EArchiver("この形式では自己解凍書庫の作成をサポートしておりません。");
}

int TArchiver::ExtractMem(WindowHandle, const std::string&, const TArchiverOptions&,
                          const std::string&, unsigned char*, std::uint32_t, std::uint32_t*) {
    throw EArchiver("この形式ではメモリへの展開をサポートしておりません。");
}

int TArchiver::CheckArchive(const std::string&, int, int) {
    throw EArchiver("この形式では書庫チェック機能をサポートしておりません。");
}

bool TArchiver::SetOwnerWindow(WindowHandle window, ARC_PROGRESS_PROC) {
    OwnerWindow = window;
    return false;
}

bool TArchiver::KillOwnerWindow(WindowHandle) {
    OwnerWindow = 0;
    return false;
}

void TArchiver::AddArchiveAndFolder(TCmdOpt& builder, const std::string& archive,
                                    const std::string& folder) {
    builder.AddValue("", archive);
    builder.AddFolder("", folder);
}

int TArchiver::AddFileList(TCmdOpt& builder, const TArchiverOptions& options, FileItems items,
                           bool useListFile) {
    const int count = useListFile && !IsUnsetOrEmpty(options.ResFileName)
                          ? builder.WriteListFile(items, options.ResFileName)
                          : builder.AddFiles("", items);
    builder.Add(options.UserFileList);
    return count;
}

}  // namespace zembrat::archives
