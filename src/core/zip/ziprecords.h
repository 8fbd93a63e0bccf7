// The records of a one-entry archive, apart from the entry's data: the local header at offset 0,
// and the central directory with its end records after the data. No compression library here:
// whoever produces the data (zlib in the writer, the browser's deflate in the WebAssembly module)
// reports what it wrote and gets the bytes that frame it.
#pragma once

#include "zipcore.h"

#include <cstdint>
#include <vector>

namespace zipcore {

// What the entry's data turned out to be.
struct EntryData {
    std::uint16_t method = 0;  // stored (0) or deflated (8)
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
};

// Sizes of 4 GiB - 1 and more need Zip64 fields; decided from the source size before any data
// is written, so the local header keeps its length when it is rewritten with the real values.
bool needsZip64(std::uint64_t value);

std::vector<std::uint8_t> localHeader(const NewEntry& entry, const EntryData& data, bool zip64);

// The central directory record and the end records for an entry whose local header is at offset 0
// and whose data took data.compressedSize bytes after it.
std::vector<std::uint8_t> archiveTrailer(const NewEntry& entry, const EntryData& data, bool zip64);

}  // namespace zipcore
