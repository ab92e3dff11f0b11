// The one option set every format driver receives, named after the LHA library's switch
// letters. Every switch field starts not set: -1 for the signed 8-bit fields, NoValue for
// the switch strings; a driver writes no switch for a field that is not set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archives/archiver_types.h"

namespace zembrat::archives {

class TArchiverOptions {
  public:
    TArchiverOptions();

    // Every field back to its start value; jx is emptied.
    void Reset();
    // Copies every field into the destination, jx as a list of its own. ResFileUsage is
    // carried over too, so that a private copy decides about the list file as its source.
    void CopyTo(TArchiverOptions& destination) const;

    std::int8_t a, c, e, f, h, i, l, m, n, o, p, r, s, t, u;
    std::string w;
    std::int8_t x, y, z, jc, jd, je, jf, jh, ji, jm, jn;
    std::string jo, job;
    std::int8_t jp, jr, jsb, jsc, jsd, jse, jsf, jsl, jso, jss, jst, jsv, jsz, jw;
    std::vector<std::string> jx;  // exclusion patterns, one per line
    std::int8_t jyc, jyd, jyk, jyn, jyo;
    std::string jz;
    std::int8_t ga, gd, ge, gf, gj, gm, gn, go, gp;
    std::string gr;
    std::int8_t gs, gu, gw;
    std::string UserOptions;   // free text written after the generated switches
    std::string UserFileList;  // free text written after the file list
    TPackFilter PackFilter;
    std::string ResFileName;  // list file carrying the names; empty or NoValue: none
    TResFileUsage ResFileUsage;
};

// True when the list file is to be used for the operation.
bool UsesListFile(const TArchiverOptions& options, TResFileUse operation);

}  // namespace zembrat::archives
