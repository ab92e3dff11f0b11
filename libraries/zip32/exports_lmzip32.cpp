// liblmzip32.so: packing and unpacking in one library, every unzip entry spelled with a
// lower-case third character ("Unzip", "UnzipOpenArchive", ...).
#include "export/entries.h"
#include "zip32/backends.h"

using zembrat::zip32::UnzipSide;
using zembrat::zip32::ZipSide;

ZEMBRAT_EXPORT_COMMAND(Unzip, UnzipSide)
ZEMBRAT_EXPORT_COMMAND(Zip, ZipSide)
ZEMBRAT_EXPORT_LISTING(Unzip, UnzipSide)
ZEMBRAT_EXPORT_OWNER_WINDOW(Unzip, UnzipSide)
ZEMBRAT_EXPORT_EXTRACT_MEM(UnzipExtractMem, UnzipSide)
ZEMBRAT_EXPORT_GETTER(UnzipGetWriteTimeEx, kWriteTime)
ZEMBRAT_EXPORT_GETTER(UnzipGetCreateTimeEx, kCreateTime)
ZEMBRAT_EXPORT_GETTER(UnzipGetAccessTimeEx, kAccessTime)
ZEMBRAT_EXPORT_GETTER(UnzipGetOriginalSizeEx, kOriginalSize)
ZEMBRAT_EXPORT_GETTER(UnzipGetCompressedSizeEx, kCompressedSize)
