// libtar32.so: the tar-family library, entries under the prefix "Tar".
#include "export/entries.h"
#include "tar32/tar32.h"

using zembrat::tar32::TarSide;

ZEMBRAT_EXPORT_COMMAND(Tar, TarSide)
ZEMBRAT_EXPORT_LISTING(Tar, TarSide)
ZEMBRAT_EXPORT_OWNER_WINDOW(Tar, TarSide)
ZEMBRAT_EXPORT_EXTRACT_MEM(TarExtractMem, TarSide)
ZEMBRAT_EXPORT_GETTERS(Tar)

// The kind of archive, by content (the codes are in tar32/tar32.h and the README); never
// throws.
ZEMBRAT_ARCHIVER_ENTRY int TarGetArchiveType(const char* archive) {
    try {
        return archive ? zembrat::tar32::GetArchiveType(archive) : 0;
    } catch (...) {
        return 0;
    }
}
