// libzip32j.so: the packing library ("Zip"), with the unzip listing entries the ZIP driver
// looks up in it.
#include "export/entries.h"
#include "zip32/backends.h"

using zembrat::zip32::ZipSide;

ZEMBRAT_EXPORT_COMMAND(Zip, ZipSide)
ZEMBRAT_EXPORT_LISTING(UnZip, ZipSide)
ZEMBRAT_EXPORT_EXTRACT_MEM(UnZipExtractMem, ZipSide)
ZEMBRAT_EXPORT_GETTER(UnzipGetWriteTimeEx, kWriteTime)
ZEMBRAT_EXPORT_GETTER(UnZipGetCreateTimeEx, kCreateTime)
ZEMBRAT_EXPORT_GETTER(UnZipGetAccessTimeEx, kAccessTime)
ZEMBRAT_EXPORT_GETTER(UnZipGetOriginalSizeEx, kOriginalSize)
ZEMBRAT_EXPORT_GETTER(UnZipGetCompressedSizeEx, kCompressedSize)
