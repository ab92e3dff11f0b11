// The two command sides of the ZIP libraries behind the shared export layer. Both open,
// check and extract to memory alike; they differ in the command line their entry takes.
#pragma once

#include "export/backend.h"

namespace zembrat::zip32 {

exports::Backend& UnzipSide();  // "UnZip" / "Unzip": -x, -l, -t
exports::Backend& ZipSide();    // "Zip": add, -u, -f, -d, -A, -FF, -J

}  // namespace zembrat::zip32
