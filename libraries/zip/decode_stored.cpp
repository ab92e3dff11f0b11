// Stored (method 0): the data as it is.
#include "decoder.h"

namespace zembrat::zip::decode {

void DecodeStored(Input& in, const Member&, Output& out) {
    for (auto piece = in.Next(); !piece.empty(); piece = in.Next()) {
        out.Write(piece);
    }
}

}  // namespace zembrat::zip::decode
