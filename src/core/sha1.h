// SHA-1 (FIPS 180-4), streaming: still asked for as a file's key by some upload services and as a
// checksum header by object stores. Not for signatures.
//
// Pure C++ with no library behind it: the same rounds natively and in WebAssembly, unrolled, the
// message schedule kept in sixteen words.
#pragma once

#include <cstddef>

#include "hashclass.h"

namespace digest {

extern const HashClass kSha1Class;

// One-shot convenience: 20 bytes.
void Sha1(const void* data, std::size_t length, unsigned char digest[20]);

}  // namespace digest
