#include "decoder.h"

namespace zembrat::zip::decode {

DecodeFunction FindDecoder(std::uint16_t method) {
    switch (method) {
        case 0:
            return DecodeStored;
        case 1:
            return DecodeShrink;
        case 2:
        case 3:
        case 4:
        case 5:
            return DecodeReduce;
        case 6:
            return DecodeImplode;
        case 8:
            return DecodeDeflate;
        case 9:
            return DecodeDeflate64;
        case 12:
            return DecodeBzip2;
        case 14:
            return DecodeLzma;
        case 20:
        case 93:
            return DecodeZstd;
        case 95:
            return DecodeXz;
        default:
            return nullptr;  // PPMd (98) and the rest: the helper process
    }
}

}  // namespace zembrat::zip::decode
