// Method 0 is stored data, and methods 1 to 3 are one format, the static Huffman coding of
// LHA's -lh7-: only the encoder's effort and its 26 KiB window differ, and the 64 KiB
// window of that decoder holds every distance they write. Method 4 is ARJ's own.
#include <array>

#include "decoder.h"
#include "decoders.h"

namespace zembrat::arj {

namespace {

constexpr std::array<DecodeFunction, 5> kDecoders = {
    lha::DecodeStored, lha::DecodeLh7, lha::DecodeLh7, lha::DecodeLh7, DecodeFastest,
};

}  // namespace

DecodeFunction FindDecoder(std::uint8_t method) {
    return method < kDecoders.size() ? kDecoders[method] : nullptr;
}

bool CanDecode(std::uint8_t method) {
    return FindDecoder(method) != nullptr;
}

std::string MethodName(std::uint8_t method) {
    return method == 0 ? "Stored" : "Method" + std::to_string(method);
}

}  // namespace zembrat::arj
