// libcab32.so's side of the shared export layer.
#pragma once

#include "export/backend.h"

namespace zembrat::cab32 {

exports::Backend& CabSide();

}  // namespace zembrat::cab32
