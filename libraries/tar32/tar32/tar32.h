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
    kGzipTar = 2,       // an archive of the family in gzip
    kGzipFile = 3,      // a lone gzip file
    kCompressTar = 4,   // an archive of the family in compress (.Z)
    kCompressFile = 5,  // a lone .Z file
    kBzip2Tar = 6,      // an archive of the family in bzip2
    kBzip2File = 7,     // a lone bzip2 file
    kXz = 8,            // xz, with or without an archive inside
    kLzma = 9,          // lzma (the old format of xz's maker)
    kZstd = 10,         // zstd
    kLzip = 11,         // lzip
};

int GetArchiveType(const std::string& path);

}  // namespace zembrat::tar32
