// Extracts an archive: checks the whole central directory (zipdirectory.h), then writes every
// entry through the extraction target, verifying sizes and CRC-32 as it inflates.
#include "zipcore.h"
#include "zipdirectory.h"

#include <zlib.h>

#include <algorithm>

namespace zipcore {
namespace {

constexpr std::size_t kBlockSize = 64 * 1024;
constexpr std::uint8_t kHostUnix = 3;
constexpr std::uint32_t kUnixOwnerWrite = 0200;
constexpr std::uint32_t kDosReadOnly = 0x01;

bool isReadOnly(const CentralEntry& entry) {
    const std::uint32_t unixMode = entry.externalAttributes >> 16;
    if ((entry.madeBy >> 8) == kHostUnix && unixMode != 0) return (unixMode & kUnixOwnerWrite) == 0;
    return (entry.externalAttributes & kDosReadOnly) != 0;
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
