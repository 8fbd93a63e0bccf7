// MD5 (RFC 1321), streaming, for what upload services still key files and parts by: the whole-file
// key of an "already on the server?" check, Content-MD5 per part, the multipart ETag.
//
// Pure C++ with no library behind it: the same rounds natively and in WebAssembly, unrolled, with
// the round functions in their shortest forms.
#pragma once

#include <cstddef>

#include "hashclass.h"

namespace digest {

extern const HashClass kMd5Class;

// One-shot convenience: 16 bytes.
void Md5(const void* data, std::size_t length, unsigned char digest[16]);

}  // namespace digest
