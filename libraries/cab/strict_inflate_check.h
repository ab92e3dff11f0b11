// Whether a raw deflate stream is one that the strictest MSZIP readers take. Those readers
// (libmspack, which cabextract and our self-extracting program use) build every Huffman code
// of a dynamic block as a complete code: a code with no symbols at all (a block of literals
// only, with no distance codes) or with an unused codeword is refused, although deflate
// itself allows both. The cabinet writer checks each block it compresses with this.
#pragma once

#include <span>

namespace zembrat::cab {

// True when every code of every dynamic block (the code-length code, the literal/length
// code, the distance code) is complete, within the span, and no symbol outside deflate's
// alphabets is used. The bodies are decoded only to find the next block: the last block's
// body is not looked at (the stream is our compressor's, not a stranger's).
bool StrictReadersTake(std::span<const unsigned char> stream);

}  // namespace zembrat::cab
