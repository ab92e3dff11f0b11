// libunzip32.so: the unpacking library. Its write-time getter is spelled with a lower-case
// "z", unlike its siblings, because that is the name the ZIP driver looks for.
#include "export/entries.h"
#include "zip32/backends.h"

using zembrat::zip32::UnzipSide;

ZEMBRAT_EXPORT_COMMAND(UnZip, UnzipSide)
ZEMBRAT_EXPORT_LISTING(UnZip, UnzipSide)
ZEMBRAT_EXPORT_OWNER_WINDOW(UnZip, UnzipSide)
ZEMBRAT_EXPORT_EXTRACT_MEM(UnZipExtractMem, UnzipSide)
ZEMBRAT_EXPORT_GETTER(UnzipGetWriteTimeEx, kWriteTime)
ZEMBRAT_EXPORT_GETTER(UnZipGetCreateTimeEx, kCreateTime)
ZEMBRAT_EXPORT_GETTER(UnZipGetAccessTimeEx, kAccessTime)
ZEMBRAT_EXPORT_GETTER(UnZipGetOriginalSizeEx, kOriginalSize)
ZEMBRAT_EXPORT_GETTER(UnZipGetCompressedSizeEx, kCompressedSize)
