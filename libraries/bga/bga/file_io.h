// File descriptors for the container's reader and writer: owned, read at an offset, written
// whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "common/unique_fd.h"

namespace zembrat::bga {

using common::UniqueFd;

// Reads up to buffer.size() bytes at offset, retrying short reads; the count read (less only
// at the end of the file). Throws common::Failure (ARC_ERROR_CANNOT_READ).
std::size_t ReadAt(int fd, std::uint64_t offset, std::span<std::byte> buffer);

// Writes everything at the file's position. Throws common::Failure (ARC_ERROR_CANNOT_WRITE).
void WriteAll(int fd, std::span<const std::byte> data);

// Copies bytes [start, end) of one file to the other's position. Throws common::Failure
// (ARC_ERROR_CANNOT_READ when the file is shorter, ARC_ERROR_CANNOT_WRITE).
void CopyBytes(int from, std::uint64_t start, std::uint64_t end, int out);

}  // namespace zembrat::bga
