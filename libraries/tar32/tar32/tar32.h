// libtar32.so's side of the shared export layer: its backend and its archive-type probe.
#pragma once

#include <string>

#include "export/backend.h"

namespace zembrat::tar32 {

exports::Backend& TarSide();

// What TarGetArchiveType answers (the README lists the codes).
enum ArchiveType : int {
    kNotOurs = 0,
    kTar = 1,           // tar, cpio, ar (.a, .lib, .deb) or rpm, uncompressed
    kGzipTar = 2,       // an archive of the family in gzip, xz, lzma, zstd or lzip
    kGzipFile = 3,      // a lone file in one of those
    kCompressTar = 4,   // an archive of the family in compress (.Z)
    kCompressFile = 5,  // a lone .Z file
    kBzip2Tar = 6,      // an archive of the family in bzip2
    kBzip2File = 7,     // a lone bzip2 file
};

int GetArchiveType(const std::string& path);

}  // namespace zembrat::tar32
