// The framing records of a one-entry archive.
#include "ziprecords.h"
#include "zipbytes.h"

namespace zipcore {
namespace {

constexpr std::uint16_t kVersionPlain = 20;   // 2.0: deflate
constexpr std::uint16_t kVersionZip64 = 45;   // 4.5: Zip64 extensions

std::uint32_t field32(std::uint64_t value, bool zip64) {
    return zip64 ? kNeedsZip64 : static_cast<std::uint32_t>(value);
}

std::uint16_t entryFlags(const NewEntry& entry) { return entry.utf8Name ? kFlagUtf8Name : 0; }

// The entry's local header is at offset 0, so only the sizes may need Zip64 fields.
std::vector<std::uint8_t> centralHeader(const NewEntry& entry, const EntryData& data, bool zip64) {
    RecordBuilder r;
    const std::uint16_t version = zip64 ? kVersionZip64 : kVersionPlain;
    r.u32(kCentralHeaderSignature)
        .u16(version)  // made by: MS-DOS attributes
        .u16(version)
        .u16(entryFlags(entry))
        .u16(data.method)
        .u16(entry.dosTime)
        .u16(entry.dosDate)
        .u32(data.crc)
        .u32(field32(data.compressedSize, zip64))
        .u32(field32(data.size, zip64))
        .u16(static_cast<std::uint16_t>(entry.storedName.size()))
        .u16(zip64 ? 20 : 0)
        .u16(0)   // comment length
        .u16(0)   // disk number start
        .u16(0)   // internal attributes
        .u32(0)   // external attributes
        .u32(0)   // local header offset
        .text(entry.storedName);
    if (zip64) r.u16(kZip64ExtraId).u16(16).u64(data.size).u64(data.compressedSize);
    return r.bytes();
}

std::vector<std::uint8_t> endRecords(std::uint64_t directoryOffset, std::uint64_t directorySize) {
    RecordBuilder r;
    const bool zip64 = needsZip64(directoryOffset);
    if (zip64) {
        const std::uint64_t zip64RecordOffset = directoryOffset + directorySize;
        r.u32(kZip64EndRecordSignature)
            .u64(kZip64EndRecordSize - 12)
            .u16(kVersionZip64)
            .u16(kVersionZip64)
            .u32(0)   // this disk
            .u32(0)   // disk with the central directory
            .u64(1)   // entries on this disk
            .u64(1)   // entries in total
            .u64(directorySize)
            .u64(directoryOffset);
        r.u32(kZip64LocatorSignature).u32(0).u64(zip64RecordOffset).u32(1);
    }
    r.u32(kEndRecordSignature)
        .u16(0)
        .u16(0)
        .u16(1)
        .u16(1)
        .u32(static_cast<std::uint32_t>(directorySize))
        .u32(field32(directoryOffset, zip64))
        .u16(0);
    return r.bytes();
}

}  // namespace

bool needsZip64(std::uint64_t value) { return value >= kNeedsZip64; }

std::vector<std::uint8_t> localHeader(const NewEntry& entry, const EntryData& data, bool zip64) {
    RecordBuilder r;
    r.u32(kLocalHeaderSignature)
        .u16(zip64 ? kVersionZip64 : kVersionPlain)
        .u16(entryFlags(entry))
        .u16(data.method)
        .u16(entry.dosTime)
        .u16(entry.dosDate)
        .u32(data.crc)
        .u32(field32(data.compressedSize, zip64))
        .u32(field32(data.size, zip64))
        .u16(static_cast<std::uint16_t>(entry.storedName.size()))
        .u16(zip64 ? 20 : 0)
        .text(entry.storedName);
    if (zip64) r.u16(kZip64ExtraId).u16(16).u64(data.size).u64(data.compressedSize);
    return r.bytes();
}

std::vector<std::uint8_t> archiveTrailer(const NewEntry& entry, const EntryData& data, bool zip64) {
    std::vector<std::uint8_t> trailer = centralHeader(entry, data, zip64);
    const std::uint64_t directorySize = trailer.size();
    const std::uint64_t directoryOffset = localHeader(entry, data, zip64).size() + data.compressedSize;
    const std::vector<std::uint8_t> end = endRecords(directoryOffset, directorySize);
    trailer.insert(trailer.end(), end.begin(), end.end());
    return trailer;
}

}  // namespace zipcore
