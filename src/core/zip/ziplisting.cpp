#include "ziplisting.h"

#include <algorithm>
#include <limits>

namespace zipcore {
namespace {

constexpr std::size_t kDirectoryWindow = 1u << 20;  // holds the largest record (46 + 3 * 65,535) five times
constexpr std::uint16_t kUnicodePathId = 0x7075;
constexpr std::uint16_t kExtendedTimeId = 0x5455;
constexpr std::uint16_t kNtfsId = 0x000a;
constexpr std::uint16_t kCheckedFlags = kFlagEncrypted | kFlagDataDescriptor | kFlagStrongEncryption;

bool readAt(RandomAccessSource& source, std::uint64_t offset, std::size_t length, std::vector<std::uint8_t>& bytes) {
    return readBytes(source, offset, length, bytes);
}

bool signatureAt(RandomAccessSource& source, std::uint64_t offset, std::uint32_t signature, bool& failed) {
    std::vector<std::uint8_t> bytes;
    if (!fitsWithin(offset, 4, source.size())) return false;
    if (!readAt(source, offset, 4, bytes)) {
        failed = true;
        return false;
    }
    return readLe32(bytes.data()) == signature;
}

// The fields a reader shows beside the Zip64 one the directory parser applied.
void readExtraFields(const std::uint8_t* extra, std::size_t length, ListedEntry& entry) {
    std::size_t pos = 0;
    while (pos + 4 <= length) {
        const std::uint16_t id = readLe16(extra + pos);
        const std::size_t size = readLe16(extra + pos + 2);
        const std::uint8_t* data = extra + pos + 4;
        if (size > length - pos - 4) return;
        if (id == kUnicodePathId && size >= 5 && data[0] == 1) {
            entry.hasUnicodePath = true;
            entry.unicodePath.assign(reinterpret_cast<const char*>(data), size);
        } else if (id == kExtendedTimeId && size >= 5 && (data[0] & 1)) {
            entry.hasUnixTime = true;
            entry.unixTime = static_cast<std::int32_t>(readLe32(data + 1));
        } else if (id == kNtfsId && size >= 4) {
            for (std::size_t at = 4; at + 4 <= size;) {
                const std::uint16_t tag = readLe16(data + at);
                const std::size_t tagSize = readLe16(data + at + 2);
                if (tagSize > size - at - 4) break;
                if (tag == 1 && tagSize >= 8) {
                    entry.hasNtfsTime = true;
                    entry.ntfsTime = readLe64(data + at + 4);
                }
                at += 4 + tagSize;
            }
        }
        pos += 4 + size;
    }
}

struct EndRecords {
    std::uint64_t entries = 0;
    std::uint64_t directorySize = 0;
    std::uint64_t directoryOffset = 0;  // as declared
    std::uint64_t directoryLimit = 0;   // where the directory must end: the (Zip64) end record
};

ReadStatus readEndRecords(RandomAccessSource& source, EndRecords& records, std::string& comment) {
    std::uint64_t endOffset = 0;
    std::vector<std::uint8_t> end;
    Status failure = Status::Ok;
    if (!findEndRecord(source, endOffset, end, failure))
        return failure == Status::ReadFailed ? ReadStatus::ReadFailed : ReadStatus::NotZip;
    std::vector<std::uint8_t> text;
    if (!readAt(source, endOffset + kEndRecordSize, readLe16(&end[20]), text)) return ReadStatus::ReadFailed;
    comment.assign(text.begin(), text.end());

    const std::uint16_t disk = readLe16(&end[4]), directoryDisk = readLe16(&end[6]);
    const std::uint16_t onDisk = readLe16(&end[8]), total = readLe16(&end[10]);
    const std::uint32_t size32 = readLe32(&end[12]), offset32 = readLe32(&end[16]);
    records = {total, size32, offset32, endOffset};

    bool failed = false;
    const bool zip64 =
        endOffset >= kZip64LocatorSize && signatureAt(source, endOffset - kZip64LocatorSize, kZip64LocatorSignature, failed);
    if (failed) return ReadStatus::ReadFailed;
    if (!zip64) {
        if (disk != 0 || directoryDisk != 0 || onDisk != total) return ReadStatus::BadArchive;
        return ReadStatus::Ok;
    }
    const std::uint64_t locatorOffset = endOffset - kZip64LocatorSize;
    std::vector<std::uint8_t> locator, record;
    if (!readAt(source, locatorOffset, kZip64LocatorSize, locator)) return ReadStatus::ReadFailed;
    if (readLe32(&locator[4]) != 0 || readLe32(&locator[16]) != 1) return ReadStatus::BadArchive;
    // Where the locator says the Zip64 end record is, or (data prepended) right before the locator.
    std::uint64_t recordOffset = readLe64(&locator[8]);
    if (!fitsWithin(recordOffset, kZip64EndRecordSize, locatorOffset) ||
        !signatureAt(source, recordOffset, kZip64EndRecordSignature, failed)) {
        if (failed) return ReadStatus::ReadFailed;
        if (locatorOffset < kZip64EndRecordSize) return ReadStatus::BadArchive;
        recordOffset = locatorOffset - kZip64EndRecordSize;
        if (!signatureAt(source, recordOffset, kZip64EndRecordSignature, failed))
            return failed ? ReadStatus::ReadFailed : ReadStatus::BadArchive;
    }
    if (!readAt(source, recordOffset, kZip64EndRecordSize, record)) return ReadStatus::ReadFailed;
    if (readLe64(&record[4]) < kZip64EndRecordSize - 12 ||
        !fitsWithin(recordOffset, readLe64(&record[4]) + 12, locatorOffset + 1))
        return ReadStatus::BadArchive;
    if (readLe32(&record[16]) != 0 || readLe32(&record[20]) != 0) return ReadStatus::BadArchive;
    const std::uint64_t entries = readLe64(&record[32]);
    if (readLe64(&record[24]) != entries) return ReadStatus::BadArchive;
    const std::uint64_t size = readLe64(&record[40]), offset = readLe64(&record[48]);
    // The classic record holds either the marker or the same value.
    if ((total != 0xFFFF && total != entries) || (onDisk != 0xFFFF && onDisk != total) ||
        (size32 != kNeedsZip64 && size32 != size) || (offset32 != kNeedsZip64 && offset32 != offset) ||
        (disk != 0xFFFF && disk != 0) || (directoryDisk != 0xFFFF && directoryDisk != 0))
        return ReadStatus::BadArchive;
    records = {entries, size, offset, recordOffset};
    return ReadStatus::Ok;
}

// Walks the directory through a window of up to kDirectoryWindow bytes.
ReadStatus readDirectory(RandomAccessSource& source, Listing& listing, std::uint64_t expected) {
    const std::uint64_t start = listing.directoryOffset, end = start + listing.directorySize;
    std::vector<std::uint8_t> window(static_cast<std::size_t>(std::min<std::uint64_t>(listing.directorySize, kDirectoryWindow)));
    std::uint64_t windowStart = start;
    std::size_t filled = 0, pos = 0;
    std::uint64_t position = start;
    listing.entries.clear();
    listing.entries.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(expected, listing.directorySize / kCentralHeaderSize)));
    while (position < end) {
        if (listing.entries.size() == expected) return ReadStatus::BadArchive;  // more records than counted
        std::size_t available = filled - pos;
        // Refill when the record's header or its variable part is not all in the window.
        const bool whole = available >= kCentralHeaderSize &&
                           available >= kCentralHeaderSize + readLe16(&window[pos + 28]) +
                                            readLe16(&window[pos + 30]) + readLe16(&window[pos + 32]);
        if (!whole && windowStart + filled < end) {
            std::copy(window.begin() + static_cast<std::ptrdiff_t>(pos), window.begin() + static_cast<std::ptrdiff_t>(filled),
                      window.begin());
            windowStart += pos;
            filled -= pos;
            pos = 0;
            const std::size_t more = static_cast<std::size_t>(std::min<std::uint64_t>(window.size() - filled, end - windowStart - filled));
            if (!source.readAt(windowStart + filled, window.data() + filled, more)) return ReadStatus::ReadFailed;
            filled += more;
            available = filled;
        }
        ListedEntry entry;
        std::size_t recordSize = 0;
        const Status parsed = parseCentralRecord(window.data() + pos, available, entry.central, recordSize);
        if (parsed != Status::Ok) return ReadStatus::BadArchive;
        const std::uint8_t* record = window.data() + pos;
        const std::size_t nameLength = readLe16(record + 28), extraLength = readLe16(record + 30);
        readExtraFields(record + kCentralHeaderSize + nameLength, extraLength, entry);
        entry.comment.assign(reinterpret_cast<const char*>(record) + kCentralHeaderSize + nameLength + extraLength,
                             recordSize - kCentralHeaderSize - nameLength - extraLength);
        if (!fitsWithin(entry.central.localOffset, listing.prepended, std::numeric_limits<std::uint64_t>::max()))
            return ReadStatus::BadArchive;
        entry.central.localOffset += listing.prepended;
        listing.entries.push_back(std::move(entry));
        pos += recordSize;
        position += recordSize;
    }
    return listing.entries.size() == expected ? ReadStatus::Ok : ReadStatus::BadArchive;
}

// Each entry's least span against the next entry's local header and the directory.
ReadStatus judgeSpans(Listing& listing) {
    std::vector<std::size_t> order(listing.entries.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return listing.entries[a].central.localOffset < listing.entries[b].central.localOffset;
    });
    for (std::size_t k = 0; k < order.size(); ++k) {
        ListedEntry& entry = listing.entries[order[k]];
        const std::uint64_t limit =
            k + 1 < order.size() ? listing.entries[order[k + 1]].central.localOffset : listing.directoryOffset;
        const std::uint64_t header = kLocalHeaderSize + entry.central.name.size();
        if (!fitsWithin(entry.central.localOffset, header, limit) ||
            !fitsWithin(entry.central.localOffset + header, entry.central.compressedSize, limit))
            return ReadStatus::Overlap;
        entry.spanLimit = limit;
    }
    return ReadStatus::Ok;
}

}  // namespace

const char* readStatusCode(ReadStatus status) {
    switch (status) {
    case ReadStatus::Ok: return "ok";
    case ReadStatus::NotZip: return "not-zip";
    case ReadStatus::BadArchive: return "bad-archive";
    case ReadStatus::Overlap: return "overlap";
    case ReadStatus::HeaderMismatch: return "header-mismatch";
    case ReadStatus::ImpossibleSize: return "impossible-size";
    case ReadStatus::UnsupportedMethod: return "unsupported-method";
    case ReadStatus::Encrypted: return "encrypted";
    case ReadStatus::ReadFailed: return "read-failed";
    }
    return "read-failed";
}

ReadStatus listArchive(RandomAccessSource& source, Listing& listing) {
    listing = Listing();
    EndRecords records;
    ReadStatus status = readEndRecords(source, records, listing.comment);
    if (status != ReadStatus::Ok) return status;
    if (!fitsWithin(records.directoryOffset, records.directorySize, records.directoryLimit)) return ReadStatus::BadArchive;
    if (records.entries > records.directorySize / kCentralHeaderSize) return ReadStatus::BadArchive;
    // Bytes before the archive proper move every offset by the same amount: the directory is found
    // where it must be, right before the end record, unless it is where the record says.
    const std::uint64_t actual = records.directoryLimit - records.directorySize;
    bool failed = false;
    if (actual != records.directoryOffset && records.entries > 0 &&
        !signatureAt(source, records.directoryOffset, kCentralHeaderSignature, failed)) {
        if (failed) return ReadStatus::ReadFailed;
        listing.prepended = actual - records.directoryOffset;
    }
    listing.directoryOffset = records.directoryOffset + listing.prepended;
    listing.directorySize = records.directorySize;
    status = readDirectory(source, listing, records.entries);
    if (status != ReadStatus::Ok) return status;
    return judgeSpans(listing);
}

ReadStatus checkReadable(const CentralEntry& entry) {
    if (entry.flags & (kFlagEncrypted | kFlagStrongEncryption)) return ReadStatus::Encrypted;
    const std::uint64_t c = entry.compressedSize;
    switch (entry.method) {
    case kMethodStored: return entry.size == c ? ReadStatus::Ok : ReadStatus::ImpossibleSize;
    case kMethodDeflated: return c >= entry.size / 1032 + (entry.size % 1032 != 0) ? ReadStatus::Ok : ReadStatus::ImpossibleSize;
    case kMethodDeflate64: return c >= entry.size / 29128 + (entry.size % 29128 != 0) ? ReadStatus::Ok : ReadStatus::ImpossibleSize;
    default: return ReadStatus::UnsupportedMethod;
    }
}

ReadStatus locateEntry(RandomAccessSource& source, const ListedEntry& listed, std::uint64_t& dataOffset) {
    const CentralEntry& entry = listed.central;
    std::vector<std::uint8_t> header, variable;
    if (!readAt(source, entry.localOffset, kLocalHeaderSize, header)) return ReadStatus::ReadFailed;
    if (readLe32(&header[0]) != kLocalHeaderSignature) return ReadStatus::HeaderMismatch;
    const std::uint16_t flags = readLe16(&header[6]);
    const std::size_t nameLength = readLe16(&header[26]), extraLength = readLe16(&header[28]);
    if ((flags & kCheckedFlags) != (entry.flags & kCheckedFlags) || readLe16(&header[8]) != entry.method ||
        nameLength != entry.name.size())
        return ReadStatus::HeaderMismatch;
    if (!fitsWithin(entry.localOffset + kLocalHeaderSize, nameLength + extraLength, listed.spanLimit))
        return ReadStatus::Overlap;
    if (!readAt(source, entry.localOffset + kLocalHeaderSize, nameLength + extraLength, variable))
        return ReadStatus::ReadFailed;
    if (!std::equal(entry.name.begin(), entry.name.end(), variable.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
        return ReadStatus::HeaderMismatch;
    if (!(flags & kFlagDataDescriptor)) {
        CentralEntry local;
        local.compressedSize = readLe32(&header[18]);
        local.size = readLe32(&header[22]);
        if (applyZip64Extra(variable.data() + nameLength, extraLength, 0, local) != Status::Ok)
            return ReadStatus::HeaderMismatch;
        if (readLe32(&header[14]) != entry.crc || local.compressedSize != entry.compressedSize || local.size != entry.size)
            return ReadStatus::HeaderMismatch;
    }
    dataOffset = entry.localOffset + kLocalHeaderSize + nameLength + extraLength;
    if (!fitsWithin(dataOffset, entry.compressedSize, listed.spanLimit)) return ReadStatus::Overlap;
    return ReadStatus::Ok;
}

}  // namespace zipcore
