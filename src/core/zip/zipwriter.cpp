// Writes an archive with a single entry, streaming the source through zlib in blocks.
#include "zipcore.h"
#include "zipbytes.h"

#include <zlib.h>

namespace zipcore {
namespace {

constexpr std::size_t kBlockSize = 256 * 1024;
constexpr int kDeflateLevel = 6;
constexpr std::uint16_t kVersionPlain = 20;   // 2.0: deflate
constexpr std::uint16_t kVersionZip64 = 45;   // 4.5: Zip64 extensions

struct WrittenData {
    std::uint16_t method = kMethodStored;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
};

bool needsZip64(std::uint64_t value) { return value >= kNeedsZip64; }

std::uint32_t field32(std::uint64_t value, bool zip64) {
    return zip64 ? kNeedsZip64 : static_cast<std::uint32_t>(value);
}

std::uint16_t entryFlags(const NewEntry& entry) { return entry.utf8Name ? kFlagUtf8Name : 0; }

std::vector<std::uint8_t> localHeader(const NewEntry& entry, const WrittenData& data, bool zip64) {
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

// The entry's local header is at offset 0, so only the sizes may need Zip64 fields.
std::vector<std::uint8_t> centralHeader(const NewEntry& entry, const WrittenData& data, bool zip64) {
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

bool appendAll(ArchiveSink& sink, const std::vector<std::uint8_t>& bytes) {
    return sink.append(bytes.data(), bytes.size());
}

Status copyStored(RewindableSource& source, ArchiveSink& sink, WrittenData& data) {
    std::vector<std::uint8_t> block(kBlockSize);
    data = WrittenData{};
    for (;;) {
        std::size_t got = 0;
        if (!source.read(block.data(), block.size(), got)) return Status::ReadFailed;
        if (got == 0) break;
        data.crc = static_cast<std::uint32_t>(crc32(data.crc, block.data(), static_cast<uInt>(got)));
        if (!sink.append(block.data(), got)) return Status::WriteFailed;
        data.size += got;
    }
    data.compressedSize = data.size;
    return Status::Ok;
}

class Deflater {
public:
    Deflater() {
        ready_ = deflateInit2(&stream_, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~Deflater() {
        if (ready_) deflateEnd(&stream_);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    bool ready() const { return ready_; }
    z_stream& stream() { return stream_; }

private:
    z_stream stream_{};
    bool ready_ = false;
};

enum class DeflateOutcome { Shrunk, DidNotShrink, Failed };

// Deflates the whole source; gives up as soon as the output reaches the announced input size,
// since the result could then no longer be smaller than storing.
DeflateOutcome deflateData(RewindableSource& source, ArchiveSink& sink, std::uint64_t announcedSize,
                           WrittenData& data, Status& failure) {
    Deflater deflater;
    if (!deflater.ready()) {
        failure = Status::OutOfMemory;
        return DeflateOutcome::Failed;
    }
    z_stream& z = deflater.stream();
    std::vector<std::uint8_t> in(kBlockSize), out(kBlockSize);
    data = WrittenData{};
    data.method = kMethodDeflated;
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
        std::size_t got = 0;
        if (!source.read(in.data(), in.size(), got)) {
            failure = Status::ReadFailed;
            return DeflateOutcome::Failed;
        }
        flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
        data.crc = static_cast<std::uint32_t>(crc32(data.crc, in.data(), static_cast<uInt>(got)));
        data.size += got;
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(got);
        int result = Z_OK;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            result = deflate(&z, flush);
            const std::size_t produced = out.size() - z.avail_out;
            if (produced > 0 && !sink.append(out.data(), produced)) {
                failure = Status::WriteFailed;
                return DeflateOutcome::Failed;
            }
            data.compressedSize += produced;
            if (data.compressedSize >= announcedSize) return DeflateOutcome::DidNotShrink;
        } while (z.avail_out == 0 && result != Z_STREAM_END);
    }
    return DeflateOutcome::Shrunk;
}

Status writeEntryData(RewindableSource& source, const NewEntry& entry, ArchiveSink& sink,
                      std::uint64_t dataStart, WrittenData& data) {
    if (entry.size > 0) {
        Status failure = Status::Ok;
        switch (deflateData(source, sink, entry.size, data, failure)) {
        case DeflateOutcome::Shrunk: return Status::Ok;
        case DeflateOutcome::Failed: return failure;
        case DeflateOutcome::DidNotShrink: break;
        }
        if (!source.rewind() || !sink.truncateTo(dataStart)) return Status::WriteFailed;
    }
    return copyStored(source, sink, data);
}

}  // namespace

Status writeSingleEntryArchive(RewindableSource& source, const NewEntry& entry, ArchiveSink& sink) {
    if (entry.storedName.empty() || entry.storedName.size() > 0xFFFF) return Status::UnsafeName;
    const bool zip64 = needsZip64(entry.size);
    WrittenData data;
    data.size = entry.size;
    const std::vector<std::uint8_t> placeholder = localHeader(entry, data, zip64);
    if (!appendAll(sink, placeholder)) return Status::WriteFailed;

    const Status written = writeEntryData(source, entry, sink, placeholder.size(), data);
    if (written != Status::Ok) return written;
    if (data.size != entry.size) return Status::SourceChanged;

    const std::vector<std::uint8_t> header = localHeader(entry, data, zip64);
    if (!sink.overwriteAt(0, header.data(), header.size())) return Status::WriteFailed;
    const std::vector<std::uint8_t> central = centralHeader(entry, data, zip64);
    const std::uint64_t directoryOffset = header.size() + data.compressedSize;
    if (!appendAll(sink, central) || !appendAll(sink, endRecords(directoryOffset, central.size())))
        return Status::WriteFailed;
    return Status::Ok;
}

}  // namespace zipcore
