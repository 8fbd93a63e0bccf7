// Reading an archive for a page: every central record as stored (raw name bytes, the extra fields
// a reader shows), and the checks that keep a hostile archive from being read as something else:
// end records that disagree, entries whose bytes overlap, local headers that contradict the
// directory, sizes no method could produce. Nothing here decodes names or inflates.
#pragma once

#include "zipdirectory.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zipcore {

// Each with the code the page's reader reports (readStatusCode).
enum class ReadStatus {
    Ok,
    NotZip,             // no end record
    BadArchive,         // end records, Zip64 records, counts or offsets disagree; a record cut short
    Overlap,            // entries' bytes overlap each other or the directory
    HeaderMismatch,     // a local header disagrees with its central record
    ImpossibleSize,     // more bytes declared than the method can make of the compressed ones
    UnsupportedMethod,  // neither stored, deflate nor Deflate64
    Encrypted,
    ReadFailed
};

const char* readStatusCode(ReadStatus status);

constexpr std::uint16_t kMethodDeflate64 = 9;

struct ListedEntry {
    CentralEntry central;         // localOffset already moved by any prepended data
    std::string comment;
    bool hasUnicodePath = false;  // the 0x7075 field: version, CRC-32 of the stored name, UTF-8 name
    std::string unicodePath;
    bool hasUnixTime = false;     // 0x5455 modification time, seconds since 1970
    std::int64_t unixTime = 0;
    bool hasNtfsTime = false;     // 0x000a modification time, 100 ns since 1601
    std::uint64_t ntfsTime = 0;
    std::uint64_t spanLimit = 0;  // where the next entry's local header (or the directory) starts
};

struct Listing {
    std::uint64_t prepended = 0;  // bytes before the archive proper (a self-extracting stub)
    std::uint64_t directoryOffset = 0;
    std::uint64_t directorySize = 0;
    std::string comment;
    std::vector<ListedEntry> entries;
};

// Reads the end records and the whole central directory (in large windows, not record by record),
// and judges the entries' spans from it: each takes at least its local header, name and
// compressed bytes, and none may reach into the next or into the directory.
ReadStatus listArchive(RandomAccessSource& source, Listing& listing);

// The checks made before any byte of an entry is read: encryption, method, a declared size the
// method cannot produce from the compressed size (stored: equal; deflate: 1032:1; Deflate64, whose
// matches reach 65,538 bytes from 18 bits: 29,128:1).
ReadStatus checkReadable(const CentralEntry& entry);

// Reads and checks the entry's local header against its central record (name bytes, method,
// encryption and data-descriptor flags, and CRC and sizes unless a data descriptor follows), and
// the exact span of its data; `dataOffset` is where the compressed bytes start.
ReadStatus locateEntry(RandomAccessSource& source, const ListedEntry& entry, std::uint64_t& dataOffset);

}  // namespace zipcore
