// Writes an archive with a single entry, streaming the source through zlib in blocks.
#include "zipcore.h"
#include "zipbytes.h"
#include "ziprecords.h"

#include <zlib.h>

namespace zipcore {
namespace {

constexpr std::size_t kBlockSize = 256 * 1024;
constexpr int kDeflateLevel = 6;

bool appendAll(ArchiveSink& sink, const std::vector<std::uint8_t>& bytes) {
    return sink.append(bytes.data(), bytes.size());
}

Status copyStored(RewindableSource& source, ArchiveSink& sink, EntryData& data) {
    std::vector<std::uint8_t> block(kBlockSize);
    data = EntryData{};
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
                           EntryData& data, Status& failure) {
    Deflater deflater;
    if (!deflater.ready()) {
        failure = Status::OutOfMemory;
        return DeflateOutcome::Failed;
    }
    z_stream& z = deflater.stream();
    std::vector<std::uint8_t> in(kBlockSize), out(kBlockSize);
    data = EntryData{};
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
                      std::uint64_t dataStart, EntryData& data) {
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
    EntryData data;
    data.size = entry.size;
    const std::vector<std::uint8_t> placeholder = localHeader(entry, data, zip64);
    if (!appendAll(sink, placeholder)) return Status::WriteFailed;

    const Status written = writeEntryData(source, entry, sink, placeholder.size(), data);
    if (written != Status::Ok) return written;
    if (data.size != entry.size) return Status::SourceChanged;

    const std::vector<std::uint8_t> header = localHeader(entry, data, zip64);
    if (!sink.overwriteAt(0, header.data(), header.size())) return Status::WriteFailed;
    if (!appendAll(sink, archiveTrailer(entry, data, zip64))) return Status::WriteFailed;
    return Status::Ok;
}

}  // namespace zipcore
