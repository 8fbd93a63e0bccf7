// The CRCs object stores check uploads with, all in their reflected forms (initial value and final
// XOR all ones), streaming: feed the previous result back in (0 for a new stream), as zlib's
// crc32() does.
//   CRC-32C     Castagnoli, polynomial 0x1EDC6F41 (reflected 0x82F63B78); check 0xE3069283
//   CRC-64/XZ   ECMA-182, polynomial 0x42F0E1EBA9EA3693 (reflected 0xC96C5795D7870F42);
//               check 0x995DC9BBDF1939FA
//   CRC-64/NVME polynomial 0xAD93D23594C93659 (reflected 0x9A6C9329AC4BC9B5); check 0xAE8B14860A799888
// ("check" is the CRC of the nine bytes "123456789".) Pure C++ with no library behind it:
// sixteen bytes a step through sixteen tables ("slicing by 16"), the fastest table form in
// WebAssembly, which has no carry-less multiply.
//
// Each CRC, and zip's CRC-32 (crc32.h), is also a digest class: the result as its big-endian
// bytes, a saved state of a four-byte tag and the running value (little-endian).
#pragma once

#include <cstddef>
#include <cstdint>

#include "hashclass.h"

namespace crc {

std::uint32_t Crc32c(std::uint32_t crc, const void* data, std::size_t length);
std::uint64_t Crc64Ecma(std::uint64_t crc, const void* data, std::size_t length);
std::uint64_t Crc64Nvme(std::uint64_t crc, const void* data, std::size_t length);

}  // namespace crc

namespace digest {

extern const HashClass kCrc32Class;      // "crc32", zip's
extern const HashClass kCrc32cClass;     // "crc32c"
extern const HashClass kCrc64EcmaClass;  // "crc64ecma"
extern const HashClass kCrc64NvmeClass;  // "crc64nvme"

}  // namespace digest
