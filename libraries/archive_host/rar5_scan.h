// What the headers of the newer RAR format say about encryption, read by the helper itself:
// the decoder of this Debian release does not mark encrypted members of that format, and
// fails on their data with words that do not say why.
#pragma once

#include <set>
#include <span>
#include <string>

namespace zembrat::archive_host {

struct Rar5Encryption {
    std::set<std::string> members;  // names (as stored, UTF-8) whose header has a crypt record
    bool headers = false;           // an archive encryption header: every header is encrypted
};

// Walks the headers of every volume (descriptors, in order; a self-extracting program before
// the first is skipped). Files in the older format, or not RAR at all, give nothing.
Rar5Encryption ScanRar5Encryption(std::span<const int> volumes);

}  // namespace zembrat::archive_host
