#include "zipdirectory.h"

#include <algorithm>

namespace zipcore {
namespace {

constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixSymlink = 0120000;

}  // namespace

// ---- end records ------------------------------------------------------------------------------

// The last end record whose comment fits in the file, searching the tail backwards.
bool findEndRecord(RandomAccessSource& source, std::uint64_t& recordOffset, std::vector<std::uint8_t>& record,
                   Status& failure) {
    const std::uint64_t fileSize = source.size();
    failure = Status::NotAnArchive;
    if (fileSize < kEndRecordSize) return false;
    const std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kEndRecordSize + kMaxCommentSize));
    const std::uint64_t tailStart = fileSize - tailSize;
    std::vector<std::uint8_t> tail;
    if (!readBytes(source, tailStart, tailSize, tail)) {
        failure = Status::ReadFailed;
        return false;
    }
    for (std::size_t i = tailSize - kEndRecordSize + 1; i-- > 0;) {
        if (readLe32(&tail[i]) != kEndRecordSignature) continue;
        if (i + kEndRecordSize + readLe16(&tail[i + 20]) > tailSize) continue;
        recordOffset = tailStart + i;
        record.assign(tail.begin() + static_cast<std::ptrdiff_t>(i),
                      tail.begin() + static_cast<std::ptrdiff_t>(i + kEndRecordSize));
        return true;
    }
    return false;
}

namespace {

Status readZip64EndRecord(RandomAccessSource& source, std::uint64_t locatorOffset, DirectoryLocation& location,
                          std::uint64_t& recordOffset) {
    std::vector<std::uint8_t> locator, record;
    if (!readBytes(source, locatorOffset, kZip64LocatorSize, locator)) return Status::ReadFailed;
    if (readLe32(&locator[4]) != 0 || readLe32(&locator[16]) != 1) return Status::Unsupported;
    recordOffset = readLe64(&locator[8]);
    if (!fitsWithin(recordOffset, kZip64EndRecordSize, locatorOffset)) return Status::NotAnArchive;
    if (!readBytes(source, recordOffset, kZip64EndRecordSize, record)) return Status::ReadFailed;
    if (readLe32(&record[0]) != kZip64EndRecordSignature) return Status::NotAnArchive;
    if (readLe32(&record[16]) != 0 || readLe32(&record[20]) != 0) return Status::Unsupported;
    if (readLe64(&record[24]) != readLe64(&record[32])) return Status::Unsupported;
    location.entries = readLe64(&record[32]);
    location.size = readLe64(&record[40]);
    location.offset = readLe64(&record[48]);
    return Status::Ok;
}

}  // namespace

Status locateCentralDirectory(RandomAccessSource& source, DirectoryLocation& location) {
    std::uint64_t endOffset = 0;
    std::vector<std::uint8_t> end;
    Status failure = Status::Ok;
    if (!findEndRecord(source, endOffset, end, failure)) return failure;

    std::uint64_t directoryLimit = endOffset;
    bool zip64 = false;
    if (endOffset >= kZip64LocatorSize) {
        std::vector<std::uint8_t> signature;
        if (!readBytes(source, endOffset - kZip64LocatorSize, 4, signature)) return Status::ReadFailed;
        zip64 = readLe32(signature.data()) == kZip64LocatorSignature;
    }
    if (zip64) {
        const Status status = readZip64EndRecord(source, endOffset - kZip64LocatorSize, location, directoryLimit);
        if (status != Status::Ok) return status;
    } else {
        if (readLe16(&end[4]) != 0 || readLe16(&end[6]) != 0 || readLe16(&end[8]) != readLe16(&end[10]))
            return Status::Unsupported;
        location.entries = readLe16(&end[10]);
        location.size = readLe32(&end[12]);
        location.offset = readLe32(&end[16]);
    }
    if (!fitsWithin(location.offset, location.size, directoryLimit)) return Status::NotAnArchive;
    return Status::Ok;
}

bool readBytes(RandomAccessSource& source, std::uint64_t offset, std::size_t length,
               std::vector<std::uint8_t>& bytes) {
    bytes.resize(length);
    return length == 0 || source.readAt(offset, bytes.data(), length);
}

// ---- central directory ------------------------------------------------------------------------

// Replaces 32-bit fields that say "see Zip64 extra" by the 64-bit values, in the field order the
// format prescribes.
Status applyZip64Extra(const std::uint8_t* extra, std::size_t length, std::uint16_t diskStart, CentralEntry& entry) {
    std::size_t pos = 0;
    while (pos + 4 <= length) {
        const std::uint16_t id = readLe16(extra + pos);
        const std::size_t blockSize = readLe16(extra + pos + 2);
        pos += 4;
        if (blockSize > length - pos) return Status::NotAnArchive;
        if (id == kZip64ExtraId) {
            const std::uint8_t* field = extra + pos;
            std::size_t left = blockSize;
            for (std::uint64_t* value : {&entry.size, &entry.compressedSize, &entry.localOffset}) {
                if (*value != kNeedsZip64) continue;
                if (left < 8) return Status::NotAnArchive;
                *value = readLe64(field);
                field += 8;
                left -= 8;
            }
            if (diskStart == 0xFFFF && (left < 4 || readLe32(field) != 0)) return Status::Unsupported;
            return Status::Ok;
        }
        pos += blockSize;
    }
    return Status::Ok;
}

namespace {

bool isSymbolicLink(const CentralEntry& entry) {
    return ((entry.externalAttributes >> 16) & kUnixTypeMask) == kUnixSymlink;
}

}  // namespace

Status entryPathOf(const CentralEntry& entry, NameDecoder& names, EntryPath& path) {
    std::u16string name;
    if (!names.decodeName(entry.name, (entry.flags & kFlagUtf8Name) != 0, name)) return Status::UnsafeName;
    return toSafeEntryPath(name, path) ? Status::Ok : Status::UnsafeName;
}

Status checkEntry(const CentralEntry& entry, const EntryPath& path) {
    if (entry.flags & (kFlagEncrypted | kFlagStrongEncryption | kFlagMaskedDirectory)) return Status::Unsupported;
    if (isSymbolicLink(entry)) return Status::Unsupported;
    if (path.isDirectory) return Status::Ok;
    if (entry.method != kMethodStored && entry.method != kMethodDeflated) return Status::Unsupported;
    if (entry.method == kMethodStored && entry.compressedSize != entry.size) return Status::SizeMismatch;
    return Status::Ok;
}

Status parseCentralRecord(const std::uint8_t* record, std::size_t available, CentralEntry& entry,
                          std::size_t& recordSize) {
    if (available < kCentralHeaderSize || readLe32(record) != kCentralHeaderSignature) return Status::NotAnArchive;
    const std::size_t nameLength = readLe16(record + 28);
    const std::size_t extraLength = readLe16(record + 30);
    const std::size_t commentLength = readLe16(record + 32);
    recordSize = kCentralHeaderSize + nameLength + extraLength + commentLength;
    if (recordSize > available) return Status::NotAnArchive;
    entry.madeBy = readLe16(record + 4);
    entry.flags = readLe16(record + 8);
    entry.method = readLe16(record + 10);
    entry.dosTime = readLe16(record + 12);
    entry.dosDate = readLe16(record + 14);
    entry.crc = readLe32(record + 16);
    entry.compressedSize = readLe32(record + 20);
    entry.size = readLe32(record + 24);
    const std::uint16_t diskStart = readLe16(record + 34);
    entry.externalAttributes = readLe32(record + 38);
    entry.localOffset = readLe32(record + 42);
    entry.name.assign(reinterpret_cast<const char*>(record) + kCentralHeaderSize, nameLength);
    if (diskStart != 0 && diskStart != 0xFFFF) return Status::Unsupported;
    return applyZip64Extra(record + kCentralHeaderSize + nameLength, extraLength, diskStart, entry);
}

Status CentralDirectoryReader::next(CentralEntry& entry) {
    std::vector<std::uint8_t> record;
    if (!fitsWithin(position_, kCentralHeaderSize, end_)) return Status::NotAnArchive;
    if (!readBytes(source_, position_, kCentralHeaderSize, record)) return Status::ReadFailed;
    if (readLe32(&record[0]) != kCentralHeaderSignature) return Status::NotAnArchive;
    // The record without its comment: what the entry needs.
    const std::size_t needed = kCentralHeaderSize + readLe16(&record[28]) + readLe16(&record[30]);
    const std::uint64_t recordSize = needed + readLe16(&record[32]);
    if (!fitsWithin(position_, recordSize, end_)) return Status::NotAnArchive;
    record.resize(needed);
    if (needed > kCentralHeaderSize &&
        !source_.readAt(position_ + kCentralHeaderSize, record.data() + kCentralHeaderSize, needed - kCentralHeaderSize))
        return Status::ReadFailed;
    record[32] = record[33] = 0;  // the comment was left out
    std::size_t parsed = 0;
    position_ += recordSize;
    return parseCentralRecord(record.data(), record.size(), entry, parsed);
}

Status locateEntryData(RandomAccessSource& source, const CentralEntry& entry, const DirectoryLocation& location,
                       std::uint64_t& dataOffset) {
    std::vector<std::uint8_t> header, name;
    if (!fitsWithin(entry.localOffset, kLocalHeaderSize, location.offset)) return Status::NotAnArchive;
    if (!readBytes(source, entry.localOffset, kLocalHeaderSize, header)) return Status::ReadFailed;
    if (readLe32(&header[0]) != kLocalHeaderSignature) return Status::NotAnArchive;
    if (readLe16(&header[6]) & (kFlagEncrypted | kFlagStrongEncryption)) return Status::Unsupported;
    const std::size_t nameLength = readLe16(&header[26]);
    const std::size_t extraLength = readLe16(&header[28]);
    if (nameLength != entry.name.size()) return Status::NotAnArchive;
    if (!fitsWithin(entry.localOffset + kLocalHeaderSize, nameLength, location.offset)) return Status::NotAnArchive;
    if (!readBytes(source, entry.localOffset + kLocalHeaderSize, nameLength, name)) return Status::ReadFailed;
    if (!std::equal(name.begin(), name.end(), entry.name.begin(), entry.name.end(),
                    [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }))
        return Status::NotAnArchive;
    dataOffset = entry.localOffset + kLocalHeaderSize + nameLength + extraLength;
    if (!fitsWithin(dataOffset, entry.compressedSize, location.offset)) return Status::NotAnArchive;
    return Status::Ok;
}

Limits defaultLimits() { return Limits{kMaxEntries, kMaxInflatedBytes}; }

Status inspectArchive(RandomAccessSource& archive, NameDecoder& names, const Limits& limits,
                      std::vector<PathParts>& files) {
    files.clear();
    DirectoryLocation location;
    Status status = locateCentralDirectory(archive, location);
    if (status != Status::Ok) return status;
    if (location.entries > limits.maxEntries) return Status::TooManyEntries;
    std::uint64_t budget = limits.maxInflatedBytes;  // spent on declared sizes
    return forEachEntry(archive, location, names, [&](const CentralEntry& entry, const EntryPath& path) {
        Status checked = checkEntry(entry, path);
        if (checked != Status::Ok || path.isDirectory) return checked;
        std::uint64_t dataOffset = 0;
        checked = locateEntryData(archive, entry, location, dataOffset);
        if (checked != Status::Ok) return checked;
        if (entry.size > budget) return Status::TooLarge;
        budget -= entry.size;
        files.push_back(path.parts);
        return Status::Ok;
    });
}

}  // namespace zipcore
