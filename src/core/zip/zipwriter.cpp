// Writes an archive with a single entry, streaming the source through zlib in blocks.
#include "zipcore.h"
#include "zipbytes.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

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

// ---- deflate on all cores ----------------------------------------------------------------------
//
// A large input is cut into blocks that worker threads deflate at once. Each block is primed with
// the last 32 KiB of the input before it (so matches reach back as in one stream), ends with a
// sync flush (byte-aligned, not final) and the last one is finished: the pieces, written in order,
// are one deflate stream. The CRC-32 of the blocks is joined with crc32_combine.

constexpr std::size_t kParallelBlock = 1u << 20;
constexpr std::size_t kDictionarySize = 32u << 10;
constexpr std::uint64_t kParallelThreshold = 4u << 20;  // smaller inputs stay on the calling thread

struct Job {
    std::vector<std::uint8_t> input;       // the dictionary first, then the block itself
    std::size_t dictionary = 0;
    bool last = false;
    std::vector<std::uint8_t> output;
    std::uint32_t crc = 0;
    bool ok = false;
    bool done = false;
};

void deflateJob(Job& job) {
    Deflater deflater;
    if (!deflater.ready()) return;
    z_stream& z = deflater.stream();
    if (job.dictionary > 0 &&
        deflateSetDictionary(&z, job.input.data(), static_cast<uInt>(job.dictionary)) != Z_OK)
        return;
    const std::size_t length = job.input.size() - job.dictionary;
    const std::uint8_t* data = job.input.data() + job.dictionary;
    job.crc = static_cast<std::uint32_t>(crc32(0, data, static_cast<uInt>(length)));
    job.output.resize(deflateBound(&z, static_cast<uLong>(length)) + 16);
    z.next_in = const_cast<std::uint8_t*>(data);
    z.avail_in = static_cast<uInt>(length);
    z.next_out = job.output.data();
    z.avail_out = static_cast<uInt>(job.output.size());
    const int result = deflate(&z, job.last ? Z_FINISH : Z_SYNC_FLUSH);
    if (job.last ? result != Z_STREAM_END : (result != Z_OK || z.avail_in != 0)) return;
    job.output.resize(job.output.size() - z.avail_out);
    job.ok = true;
}

// Worker threads taking jobs in order of submission.
class DeflatePool {
public:
    explicit DeflatePool(unsigned threads) {
        try {
            for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { run(); });
        } catch (...) {
            stopAndJoin();
            throw;
        }
    }
    ~DeflatePool() { stopAndJoin(); }
    void submit(Job* job) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            queue_.push_back(job);
        }
        changed_.notify_all();
    }
    void wait(Job* job) {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [&] { return job->done; });
    }

private:
    void stopAndJoin() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            stop_ = true;
        }
        changed_.notify_all();
        for (std::thread& worker : workers_) worker.join();
    }
    void run() {
        for (;;) {
            Job* job;
            {
                std::unique_lock<std::mutex> hold(lock_);
                changed_.wait(hold, [&] { return stop_ || !queue_.empty(); });
                if (queue_.empty()) return;
                job = queue_.front();
                queue_.pop_front();
            }
            deflateJob(*job);
            {
                std::lock_guard<std::mutex> hold(lock_);
                job->done = true;
            }
            changed_.notify_all();
        }
    }
    std::vector<std::thread> workers_;
    std::deque<Job*> queue_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool stop_ = false;
};

unsigned deflateThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::min(cores == 0 ? 1u : cores, 8u);
}

// As deflateData, with the blocks deflated on worker threads.
DeflateOutcome deflateDataInParallel(RewindableSource& source, ArchiveSink& sink, std::uint64_t announcedSize,
                                     unsigned threads, WrittenData& data, Status& failure) {
    data = WrittenData{};
    data.method = kMethodDeflated;
    // The jobs outlive the pool: its workers are joined before any job goes.
    std::deque<std::unique_ptr<Job>> jobs;  // submitted, oldest first
    std::unique_ptr<Job> pending;
    DeflatePool pool(threads);
    const std::size_t inFlight = 2 * threads;
    std::vector<std::uint8_t> previousTail;  // the last 32 KiB of input read so far

    // Writes the oldest job once it is done.
    auto retire = [&]() -> DeflateOutcome {
        Job* job = jobs.front().get();
        pool.wait(job);
        if (!job->ok) {
            failure = Status::OutOfMemory;
            return DeflateOutcome::Failed;
        }
        const std::size_t length = job->input.size() - job->dictionary;
        data.crc = static_cast<std::uint32_t>(crc32_combine(data.crc, job->crc, static_cast<z_off_t>(length)));
        if (!sink.append(job->output.data(), job->output.size())) {
            failure = Status::WriteFailed;
            return DeflateOutcome::Failed;
        }
        data.compressedSize += job->output.size();
        jobs.pop_front();
        return data.compressedSize >= announcedSize ? DeflateOutcome::DidNotShrink : DeflateOutcome::Shrunk;
    };
    // Finishes what is in flight before leaving early (the pool must not outlive the jobs).
    auto drain = [&] {
        for (auto& job : jobs) pool.wait(job.get());
    };

    for (;;) {
        auto next = std::make_unique<Job>();
        next->dictionary = previousTail.size();
        next->input.resize(next->dictionary + kParallelBlock);
        std::copy(previousTail.begin(), previousTail.end(), next->input.begin());
        std::size_t filled = 0;
        while (filled < kParallelBlock) {
            std::size_t got = 0;
            if (!source.read(next->input.data() + next->dictionary + filled, kParallelBlock - filled, got)) {
                failure = Status::ReadFailed;
                drain();
                return DeflateOutcome::Failed;
            }
            if (got == 0) break;
            filled += got;
        }
        next->input.resize(next->dictionary + filled);
        data.size += filled;
        if (filled > 0) {
            const std::size_t keep = std::min(kDictionarySize, next->input.size());
            previousTail.assign(next->input.end() - keep, next->input.end());
        }
        const bool end = filled == 0;
        if (pending) {
            pending->last = end;
            pool.submit(pending.get());
            jobs.push_back(std::move(pending));
        }
        if (end) break;
        pending = std::move(next);
        while (jobs.size() >= inFlight) {
            const DeflateOutcome outcome = retire();
            if (outcome != DeflateOutcome::Shrunk) {
                drain();
                return outcome;
            }
        }
    }
    if (jobs.empty()) {  // no data at all: one empty final block
        auto empty = std::make_unique<Job>();
        empty->last = true;
        pool.submit(empty.get());
        jobs.push_back(std::move(empty));
    }
    while (!jobs.empty()) {
        const DeflateOutcome outcome = retire();
        if (outcome != DeflateOutcome::Shrunk) {
            drain();
            return outcome;
        }
    }
    return DeflateOutcome::Shrunk;
}

Status writeEntryData(RewindableSource& source, const NewEntry& entry, ArchiveSink& sink,
                      std::uint64_t dataStart, WrittenData& data) {
    if (entry.size > 0) {
        Status failure = Status::Ok;
        const unsigned threads = deflateThreads();
        DeflateOutcome outcome = DeflateOutcome::Failed;
        bool parallel = entry.size >= kParallelThreshold && threads > 1;
        if (parallel) {
            try {
                outcome = deflateDataInParallel(source, sink, entry.size, threads, data, failure);
            } catch (const std::system_error&) {  // no threads to be had: one thread does it all
                if (!source.rewind() || !sink.truncateTo(dataStart)) return Status::WriteFailed;
                parallel = false;
            }
        }
        if (!parallel) outcome = deflateData(source, sink, entry.size, data, failure);
        switch (outcome) {
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
