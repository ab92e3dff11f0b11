// libunrar32.so: the read-only RAR library, entries under the prefix "Unrar".
#include "export/entries.h"
#include "unrar32/unrar32.h"

using zembrat::unrar32::UnrarSide;

ZEMBRAT_EXPORT_COMMAND(Unrar, UnrarSide)
ZEMBRAT_EXPORT_LISTING(Unrar, UnrarSide)
ZEMBRAT_EXPORT_OWNER_WINDOW(Unrar, UnrarSide)
ZEMBRAT_EXPORT_EXTRACT_MEM(UnrarExtractMem, UnrarSide)
ZEMBRAT_EXPORT_GETTERS(Unrar)
