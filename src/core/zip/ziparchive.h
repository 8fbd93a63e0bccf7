// The records of an archive of many entries, written front to back in one pass (to a stream, so
// nothing already written is rewritten): each entry's local header, its data (from whoever
// deflates it), a data descriptor after the data when the header went out before the data was
// known, and at the end the central directory and the end records. Zip64 fields appear exactly
// where a value needs them: a size or offset of 4 GiB - 1 or more, more than 65,535 entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zipcore {

// Why a name cannot be an entry of an archive that Windows unpacks as it was meant.
enum class ArchiveNameProblem {
    None,
    Empty,           // no name, or an empty component ("a//b")
    Absolute,        // starts with a separator
    Drive,           // "C:..."
    Stream,          // any other ':' (an alternate data stream)
    DotComponent,    // a "." or ".." component
    Device,          // a component that names a device (CON, nul.txt, COM1, ...)
    BadCharacter,    // a control character or one of <>"|?*
    TrailingDot,     // a component that ends in a dot or a blank (Windows drops them)
};

// Checks an entry name whose components are separated by '/' ('\' counts as one too); a trailing
// '/' marks a folder.
ArchiveNameProblem checkArchiveName(const std::u16string& name);

struct ArchiveEntry {
    std::string storedName;         // bytes as they go into the archive
    bool utf8Name = false;          // general-purpose flag bit 11
    bool directory = false;         // a folder: stored, empty, its name ending in '/'
    bool descriptor = false;        // sizes and CRC follow the data (flag bit 3)
    bool zip64Local = false;        // a descriptor entry that may reach 4 GiB: 8-byte sizes
    std::uint16_t dosTime = 0;
    std::uint16_t dosDate = 0;
    std::uint16_t method = 0;       // stored (0) or deflated (8)
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;       // of the local header
};

// Whether an entry whose data goes out before its sizes are known needs 8-byte sizes: its source
// size, or what deflate may make of it (data that does not shrink goes into stored blocks, which
// add a few bytes in each few KiB: a bound of 1/1024 more and 1 KiB), reaches 4 GiB - 1.
bool descriptorNeedsZip64(std::uint64_t size);

// The local header. With `descriptor` the CRC and sizes are zero (all ones for a Zip64 entry,
// whose extra field then holds zeros) and follow the data.
std::vector<std::uint8_t> entryLocalHeader(const ArchiveEntry& entry);

// The data descriptor of a descriptor entry, with its final CRC and sizes.
std::vector<std::uint8_t> entryDataDescriptor(const ArchiveEntry& entry);

// The entry's record in the central directory, appended to `directory`.
void appendCentralHeader(const ArchiveEntry& entry, std::vector<std::uint8_t>& directory);

// The end records after a central directory of `count` entries.
std::vector<std::uint8_t> archiveEndRecords(std::uint64_t count, std::uint64_t directoryOffset,
                                            std::uint64_t directorySize);

}  // namespace zipcore
