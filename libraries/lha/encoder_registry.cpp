// Maps method ids to encoders.
#include <array>

#include "encoder.h"

namespace zembrat::lha {
namespace {

struct EncoderEntry {
    std::string_view method;
    EncodeFunction encode;
};

constexpr std::array kEncoders = {
    EncoderEntry{"-lh0-", EncodeStored},
    EncoderEntry{"-lh5-", EncodeLh5},
    EncoderEntry{"-lh6-", EncodeLh6},
    EncoderEntry{"-lh7-", EncodeLh7},
};

}  // namespace

EncodeFunction FindEncoder(std::string_view method) {
    for (const auto& entry : kEncoders) {
        if (entry.method == method) {
            return entry.encode;
        }
    }
    return nullptr;
}

bool CanEncode(std::string_view method) {
    return FindEncoder(method) != nullptr;
}

}  // namespace zembrat::lha
