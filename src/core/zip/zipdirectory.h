// The central directory of an archive: where it is, its records one by one, and the checks that
// can be made from it (and from the local headers) without inflating anything. No compression
// library here; the extraction in zipreader.cpp and the inspection below build on it.
#pragma once

#include "zipcore.h"
#include "entryname.h"
#include "zipbytes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zipcore {

struct DirectoryLocation {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t entries = 0;
};

struct CentralEntry {
    std::uint16_t madeBy = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t dosTime = 0;
    std::uint16_t dosDate = 0;
    std::uint32_t crc = 0;
    std::uint32_t externalAttributes = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t localOffset = 0;
    std::string name;
};

// a + b <= limit, without overflowing.
inline bool fitsWithin(std::uint64_t a, std::uint64_t b, std::uint64_t limit) {
    return a <= limit && b <= limit - a;
}

bool readBytes(RandomAccessSource& source, std::uint64_t offset, std::size_t length,
               std::vector<std::uint8_t>& bytes);

Status locateCentralDirectory(RandomAccessSource& source, DirectoryLocation& location);

// The last end record in the file's tail whose comment fits; on false, `failure` says why.
bool findEndRecord(RandomAccessSource& source, std::uint64_t& recordOffset, std::vector<std::uint8_t>& record,
                   Status& failure);

// One central record at the start of `available` bytes: the entry, and the record's size with its
// comment. Zip64 values replace the 32-bit fields that ask for them.
Status parseCentralRecord(const std::uint8_t* record, std::size_t available, CentralEntry& entry,
                          std::size_t& recordSize);

// Applies a Zip64 extra field found among `extra`'s fields to the entry's sizes and offset.
Status applyZip64Extra(const std::uint8_t* extra, std::size_t length, std::uint16_t diskStart, CentralEntry& entry);

class CentralDirectoryReader {
public:
    CentralDirectoryReader(RandomAccessSource& source, const DirectoryLocation& location)
        : source_(source), position_(location.offset), end_(location.offset + location.size) {}
    Status next(CentralEntry& entry);

private:
    RandomAccessSource& source_;
    std::uint64_t position_;
    std::uint64_t end_;
};

Status entryPathOf(const CentralEntry& entry, NameDecoder& names, EntryPath& path);

// Everything that can be judged from the central directory alone.
Status checkEntry(const CentralEntry& entry, const EntryPath& path);

// Where the entry's data starts, after checking its local header against the central one.
Status locateEntryData(RandomAccessSource& source, const CentralEntry& entry, const DirectoryLocation& location,
                       std::uint64_t& dataOffset);

template <typename Visit>
Status forEachEntry(RandomAccessSource& source, const DirectoryLocation& location, NameDecoder& names,
                    Visit visit) {
    CentralDirectoryReader reader(source, location);
    CentralEntry entry;
    EntryPath path;
    for (std::uint64_t i = 0; i < location.entries; ++i) {
        Status status = reader.next(entry);
        if (status == Status::Ok) status = entryPathOf(entry, names, path);
        if (status == Status::Ok) status = visit(entry, path);
        if (status != Status::Ok) return status;
    }
    return Status::Ok;
}


}  // namespace zipcore
