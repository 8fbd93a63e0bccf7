// CRC-32 as zip archives carry it (ISO 3309 / ITU-T V.42: reflected polynomial 0xEDB88320,
// initial value and final XOR 0xFFFFFFFF), streaming: feed the running value back in.
//
// Pure C++ with no library behind it, for builds that carry no zlib (the WebAssembly module).
// Sixteen bytes a step through sixteen tables ("slicing by 16").
#pragma once

#include <cstddef>
#include <cstdint>

namespace crc {

// The CRC of data[0..length) continued from `crc` (0 for a new stream), as zlib's crc32() does.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t length);

}  // namespace crc
