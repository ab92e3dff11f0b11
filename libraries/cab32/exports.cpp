// libcab32.so: the cabinet library, entries under the prefix "Cab".
#include "cab32/cab32.h"
#include "export/entries.h"

using zembrat::cab32::CabSide;

ZEMBRAT_EXPORT_COMMAND(Cab, CabSide)
ZEMBRAT_EXPORT_LISTING(Cab, CabSide)
ZEMBRAT_EXPORT_OWNER_WINDOW(Cab, CabSide)
ZEMBRAT_EXPORT_EXTRACT_MEM(CabExtractMem, CabSide)
ZEMBRAT_EXPORT_GETTERS(Cab)
