// Extracts an archive: finds the end records, checks the whole central directory, then writes
// every entry through the extraction target, verifying sizes and CRC-32 as it inflates.
#include "zipcore.h"
#include "entryname.h"
#include "zipbytes.h"

#include <zlib.h>

#include <algorithm>

namespace zipcore {
namespace {

constexpr std::size_t kBlockSize = 64 * 1024;
constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::uint8_t kHostUnix = 3;
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixSymlink = 0120000;
constexpr std::uint32_t kUnixOwnerWrite = 0200;
constexpr std::uint32_t kDosReadOnly = 0x01;

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
bool fitsWithin(std::uint64_t a, std::uint64_t b, std::uint64_t limit) {
    return a <= limit && b <= limit - a;
}

bool readBytes(RandomAccessSource& source, std::uint64_t offset, std::size_t length,
               std::vector<std::uint8_t>& bytes) {
    bytes.resize(length);
    return length == 0 || source.readAt(offset, bytes.data(), length);
}

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

class CentralDirectoryReader {
public:
    CentralDirectoryReader(RandomAccessSource& source, const DirectoryLocation& location)
        : source_(source), position_(location.offset), end_(location.offset + location.size) {}

    Status next(CentralEntry& entry) {
        std::vector<std::uint8_t> header, variable;
        if (!fitsWithin(position_, kCentralHeaderSize, end_)) return Status::NotAnArchive;
        if (!readBytes(source_, position_, kCentralHeaderSize, header)) return Status::ReadFailed;
        if (readLe32(&header[0]) != kCentralHeaderSignature) return Status::NotAnArchive;
        const std::size_t nameLength = readLe16(&header[28]);
        const std::size_t extraLength = readLe16(&header[30]);
        const std::size_t commentLength = readLe16(&header[32]);
        const std::uint64_t recordSize = kCentralHeaderSize + nameLength + extraLength + commentLength;
        if (!fitsWithin(position_, recordSize, end_)) return Status::NotAnArchive;
        if (!readBytes(source_, position_ + kCentralHeaderSize, nameLength + extraLength, variable))
            return Status::ReadFailed;

        entry.madeBy = readLe16(&header[4]);
        entry.flags = readLe16(&header[8]);
        entry.method = readLe16(&header[10]);
        entry.dosTime = readLe16(&header[12]);
        entry.dosDate = readLe16(&header[14]);
        entry.crc = readLe32(&header[16]);
        entry.compressedSize = readLe32(&header[20]);
        entry.size = readLe32(&header[24]);
        const std::uint16_t diskStart = readLe16(&header[34]);
        entry.externalAttributes = readLe32(&header[38]);
        entry.localOffset = readLe32(&header[42]);
        entry.name.assign(variable.begin(), variable.begin() + static_cast<std::ptrdiff_t>(nameLength));
        position_ += recordSize;
        if (diskStart != 0 && diskStart != 0xFFFF) return Status::Unsupported;
        return applyZip64Extra(variable.data() + nameLength, extraLength, diskStart, entry);
    }

private:
    RandomAccessSource& source_;
    std::uint64_t position_;
    std::uint64_t end_;
};

bool isSymbolicLink(const CentralEntry& entry) {
    return ((entry.externalAttributes >> 16) & kUnixTypeMask) == kUnixSymlink;
}

bool isReadOnly(const CentralEntry& entry) {
    const std::uint32_t unixMode = entry.externalAttributes >> 16;
    if ((entry.madeBy >> 8) == kHostUnix && unixMode != 0) return (unixMode & kUnixOwnerWrite) == 0;
    return (entry.externalAttributes & kDosReadOnly) != 0;
}

Status entryPathOf(const CentralEntry& entry, ExtractionTarget& target, EntryPath& path) {
    std::u16string name;
    if (!target.decodeName(entry.name, (entry.flags & kFlagUtf8Name) != 0, name)) return Status::UnsafeName;
    return toSafeEntryPath(name, path) ? Status::Ok : Status::UnsafeName;
}

// Everything that can be judged from the central directory alone.
Status checkEntry(const CentralEntry& entry, const EntryPath& path) {
    if (entry.flags & (kFlagEncrypted | kFlagStrongEncryption | kFlagMaskedDirectory)) return Status::Unsupported;
    if (isSymbolicLink(entry)) return Status::Unsupported;
    if (path.isDirectory) return Status::Ok;
    if (entry.method != kMethodStored && entry.method != kMethodDeflated) return Status::Unsupported;
    if (entry.method == kMethodStored && entry.compressedSize != entry.size) return Status::SizeMismatch;
    return Status::Ok;
}

template <typename Visit>
Status forEachEntry(RandomAccessSource& source, const DirectoryLocation& location, ExtractionTarget& target,
                    Visit visit) {
    CentralDirectoryReader reader(source, location);
    CentralEntry entry;
    EntryPath path;
    for (std::uint64_t i = 0; i < location.entries; ++i) {
        Status status = reader.next(entry);
        if (status == Status::Ok) status = entryPathOf(entry, target, path);
        if (status == Status::Ok) status = visit(entry, path);
        if (status != Status::Ok) return status;
    }
    return Status::Ok;
}

// ---- entry data -------------------------------------------------------------------------------

// Counts inflated bytes against the entry's declared size and the extraction's byte bound, and
// computes the CRC of what was really produced.
class OutputMeter {
public:
    OutputMeter(std::uint64_t declaredSize, std::uint64_t& budget) : declared_(declaredSize), budget_(budget) {}

    Status accept(OutputFile& file, const std::uint8_t* data, std::size_t length) {
        if (length > budget_) return Status::TooLarge;
        if (length > declared_ - produced_) return Status::SizeMismatch;
        budget_ -= length;
        produced_ += length;
        crc_ = static_cast<std::uint32_t>(crc32(crc_, data, static_cast<uInt>(length)));
        return file.write(data, length) ? Status::Ok : Status::WriteFailed;
    }

    Status verify(std::uint32_t declaredCrc) const {
        if (produced_ != declared_) return Status::SizeMismatch;
        return crc_ == declaredCrc ? Status::Ok : Status::CrcMismatch;
    }

private:
    std::uint64_t declared_;
    std::uint64_t& budget_;
    std::uint64_t produced_ = 0;
    std::uint32_t crc_ = 0;
};

Status copyStoredData(RandomAccessSource& source, std::uint64_t offset, std::uint64_t length, OutputMeter& meter,
                      OutputFile& file) {
    std::vector<std::uint8_t> block(kBlockSize);
    while (length > 0) {
        const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length, block.size()));
        if (!source.readAt(offset, block.data(), chunk)) return Status::ReadFailed;
        const Status status = meter.accept(file, block.data(), chunk);
        if (status != Status::Ok) return status;
        offset += chunk;
        length -= chunk;
    }
    return Status::Ok;
}

class Inflater {
public:
    Inflater() { ready_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (ready_) inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    bool ready() const { return ready_; }
    z_stream& stream() { return stream_; }

private:
    z_stream stream_{};
    bool ready_ = false;
};

Status inflateData(RandomAccessSource& source, std::uint64_t offset, std::uint64_t compressedSize, OutputMeter& meter,
                   OutputFile& file) {
    Inflater inflater;
    if (!inflater.ready()) return Status::OutOfMemory;
    z_stream& z = inflater.stream();
    std::vector<std::uint8_t> in(kBlockSize), out(kBlockSize);
    for (;;) {
        if (z.avail_in == 0 && compressedSize > 0) {
            const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(compressedSize, in.size()));
            if (!source.readAt(offset, in.data(), chunk)) return Status::ReadFailed;
            offset += chunk;
            compressedSize -= chunk;
            z.next_in = in.data();
            z.avail_in = static_cast<uInt>(chunk);
        }
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        const uInt inputBefore = z.avail_in;
        const int result = inflate(&z, Z_NO_FLUSH);
        if (result == Z_MEM_ERROR) return Status::OutOfMemory;
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) return Status::Corrupt;
        const std::size_t produced = out.size() - z.avail_out;
        const Status status = meter.accept(file, out.data(), produced);
        if (status != Status::Ok) return status;
        if (result == Z_STREAM_END) return Status::Ok;
        // zlib may still hold output when the input is used up: only a call that neither takes
        // input nor gives output, with nothing left to read, means the stream was cut short.
        if (produced == 0 && z.avail_in == inputBefore && (compressedSize == 0 || inputBefore > 0))
            return Status::Corrupt;
    }
}

// Where the entry's data starts, after checking its local header against the central one.
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

Status extractFile(RandomAccessSource& source, const CentralEntry& entry, const EntryPath& path,
                   const DirectoryLocation& location, ExtractionTarget& target, std::uint64_t& budget) {
    std::uint64_t dataOffset = 0;
    Status status = locateEntryData(source, entry, location, dataOffset);
    if (status != Status::Ok) return status;
    if (!target.makeDirectories(path.parts, path.parts.size() - 1)) return Status::WriteFailed;
    const std::unique_ptr<OutputFile> file = target.createFile(path.parts);
    if (!file) return Status::WriteFailed;
    OutputMeter meter(entry.size, budget);
    status = entry.method == kMethodStored
                 ? copyStoredData(source, dataOffset, entry.compressedSize, meter, *file)
                 : inflateData(source, dataOffset, entry.compressedSize, meter, *file);
    if (status == Status::Ok) status = meter.verify(entry.crc);
    if (status != Status::Ok) return status;
    const FileDetails details{entry.dosTime, entry.dosDate, isReadOnly(entry)};
    return file->finish(details) ? Status::Ok : Status::WriteFailed;
}

// Removes the root on destruction unless the extraction completed.
class RootGuard {
public:
    explicit RootGuard(ExtractionTarget& target) : target_(target) {}
    ~RootGuard() {
        if (!completed_) target_.removeRoot();
    }
    RootGuard(const RootGuard&) = delete;
    RootGuard& operator=(const RootGuard&) = delete;
    void complete() { completed_ = true; }

private:
    ExtractionTarget& target_;
    bool completed_ = false;
};

}  // namespace

Limits defaultLimits() { return Limits{kMaxEntries, kMaxInflatedBytes}; }

Status extractArchive(RandomAccessSource& archive, ExtractionTarget& target, const Limits& limits,
                      std::uint32_t& filesWritten) {
    filesWritten = 0;
    DirectoryLocation location;
    Status status = locateCentralDirectory(archive, location);
    if (status != Status::Ok) return status;
    if (location.entries > limits.maxEntries) return Status::TooManyEntries;

    status = forEachEntry(archive, location, target,
                          [](const CentralEntry& entry, const EntryPath& path) { return checkEntry(entry, path); });
    if (status != Status::Ok) return status;

    if (!target.createRoot()) return Status::WriteFailed;
    RootGuard guard(target);
    std::uint64_t budget = limits.maxInflatedBytes;  // spent on bytes really inflated
    std::uint32_t written = 0;
    status = forEachEntry(archive, location, target, [&](const CentralEntry& entry, const EntryPath& path) {
        if (path.isDirectory)
            return target.makeDirectories(path.parts, path.parts.size()) ? Status::Ok : Status::WriteFailed;
        const Status extracted = extractFile(archive, entry, path, location, target, budget);
        if (extracted == Status::Ok) ++written;
        return extracted;
    });
    if (status != Status::Ok) return status;
    guard.complete();
    filesWritten = written;
    return Status::Ok;
}

}  // namespace zipcore
