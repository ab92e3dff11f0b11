// PPMd variant H as version 2.9 archives use it: the model over a sub-allocator of 12-byte
// units (its exact behaviour, running out of memory included, decides what decodes), and the
// range coder that reads the packed bytes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "bit_input.h"

namespace zembrat::rar {

class PpmModel {
  public:
    PpmModel();
    ~PpmModel();

    // Reads a block's start: its flags, the model's memory and order when it restarts, and
    // the escape character. False when the block cannot start (no model to continue, an
    // order of 1, memory refused).
    bool Init(BitInput& input, int& escChar);

    // The next byte, or -1 when the data is damaged.
    int DecodeChar(BitInput& input);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zembrat::rar
