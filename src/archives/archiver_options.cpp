#include "archives/archiver_options.h"

namespace zembrat::archives {

TArchiverOptions::TArchiverOptions() {
    Reset();
}

void TArchiverOptions::Reset() {
    a = c = e = f = h = i = l = m = n = o = p = r = s = t = u = -1;
    w = NoValue;
    x = y = z = jc = jd = je = jf = jh = ji = jm = jn = -1;
    jo = job = NoValue;
    jp = jr = jsb = jsc = jsd = jse = jsf = jsl = jso = jss = jst = jsv = jsz = jw = -1;
    jx.clear();
    jyc = jyd = jyk = jyn = jyo = -1;
    jz = NoValue;
    ga = gd = ge = gf = gj = gm = gn = go = gp = -1;
    gr = NoValue;
    gs = gu = gw = -1;
    UserOptions.clear();
    UserFileList.clear();
    PackFilter = pfComponent;
    ResFileName.clear();
    ResFileUsage = {ruOnPack, ruOnUnpack, ruOnRemoveItem};
}

void TArchiverOptions::CopyTo(TArchiverOptions& destination) const {
    if (&destination != this) {
        destination = *this;
    }
}

bool UsesListFile(const TArchiverOptions& options, TResFileUse operation) {
    return options.ResFileUsage.Contains(operation) && !IsUnsetOrEmpty(options.ResFileName);
}

}  // namespace zembrat::archives
