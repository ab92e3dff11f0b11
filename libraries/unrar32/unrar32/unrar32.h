// libunrar32.so's side of the shared export layer.
#pragma once

#include "export/backend.h"

namespace zembrat::unrar32 {

exports::Backend& UnrarSide();

}  // namespace zembrat::unrar32
