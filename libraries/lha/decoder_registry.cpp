// Maps method ids to decoders. A further method is one more line here and one more file.
#include <array>

#include "decoder.h"

namespace zembrat::lha {
namespace {

void DecodeNothing(InputStream&, std::uint64_t, std::uint64_t originalSize, OutputStream&) {
    if (originalSize != 0) {
        throw Error(ErrorKind::kCorruptData, "a folder entry claims data");
    }
}

struct DecoderEntry {
    std::string_view method;
    DecodeFunction decode;
};

constexpr std::array kDecoders = {
    DecoderEntry{"-lh0-", DecodeStored},  DecoderEntry{"-lz4-", DecodeStored},
    DecoderEntry{"-lhd-", DecodeNothing}, DecoderEntry{"-lh4-", DecodeLh4},
    DecoderEntry{"-lh5-", DecodeLh5},     DecoderEntry{"-lh6-", DecodeLh6},
    DecoderEntry{"-lh7-", DecodeLh7},     DecoderEntry{"-lhx-", DecodeLhx},
    DecoderEntry{"-lk7-", DecodeLk7},     DecoderEntry{"-lh1-", DecodeLh1},
    DecoderEntry{"-lh2-", DecodeLh2},     DecoderEntry{"-lh3-", DecodeLh3},
    DecoderEntry{"-lzs-", DecodeLzs},     DecoderEntry{"-lz5-", DecodeLz5},
    DecoderEntry{"-pm0-", DecodeStored},  DecoderEntry{"-pm1-", DecodePm1},
    DecoderEntry{"-pm2-", DecodePm2},
};

}  // namespace

DecodeFunction FindDecoder(std::string_view method) {
    for (const auto& entry : kDecoders) {
        if (entry.method == method) {
            return entry.decode;
        }
    }
    return nullptr;
}

bool CanDecode(std::string_view method) {
    return FindDecoder(method) != nullptr;
}

}  // namespace zembrat::lha
