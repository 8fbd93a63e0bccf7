// Writes an archive with a single entry, streaming the source through zlib in blocks.
#include "zipcore.h"
#include "zipbytes.h"
#include "ziprecords.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#ifdef TARNWICK_ZIP_PROFILE
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#endif

namespace zipcore {
namespace {

#ifdef TARNWICK_ZIP_PROFILE
// Bench only (cmake -DTARNWICK_ZIP_PROFILE=ON, bench/zip/profile.sh): where a parallel pack spends
// its time. Each thread's CPU time as a whole (the system's per-thread clock, coarse under Wine),
// and the wall time of each kind of work within it; one line per pack appended to the file named
// by the environment variable TARNWICK_ZIP_PROFILE.
namespace profile {
double threadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
enum Part { Read, Write, Wait, Idle, Crc, Probe, Deflate, Parts };
const char* const kPartNames[Parts] = {"read", "write", "wait", "idle", "crc", "probe", "deflate"};
struct Totals {
    std::mutex lock;
    double part[Parts] = {};
    double mainCpu = 0, workerCpu[8] = {}, wall = 0;
    unsigned workers = 0;
    void add(Part which, double seconds) {
        std::lock_guard<std::mutex> hold(lock);
        part[which] += seconds;
    }
    void report() {
        const char* path = std::getenv("TARNWICK_ZIP_PROFILE");
        if (!path || !*path) return;
        std::FILE* out = std::fopen(path, "a");
        if (!out) return;
        std::fprintf(out, "wall %.3f main_cpu %.3f", wall, mainCpu);
        for (unsigned i = 0; i < workers; ++i) std::fprintf(out, " worker%u_cpu %.3f", i, workerCpu[i]);
        for (int i = 0; i < Parts; ++i) std::fprintf(out, " %s %.3f", kPartNames[i], part[i]);
        std::fprintf(out, "\n");
        std::fclose(out);
    }
};
Totals* current = nullptr;
// Adds the wall time from its making to its end to one part.
class Timed {
public:
    explicit Timed(Part which) : which_(which), start_(now()) {}
    ~Timed() {
        if (current) current->add(which_, now() - start_);
    }
private:
    Part which_;
    double start_;
};
}  // namespace profile
#define PROFILED(part) profile::Timed profiled_##part(profile::part)
#else
#define PROFILED(part) ((void)0)
#endif

constexpr std::size_t kBlockSize = 256 * 1024;
constexpr int kDeflateLevel = 6;
constexpr std::size_t kDictionarySize = 32u << 10;  // deflate's reach back

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

// What a zlib call that did not succeed means for the caller.
Status statusOfZlib(int code) { return code == Z_MEM_ERROR ? Status::OutOfMemory : Status::CompressFailed; }

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

// ---- blocks that deflate cannot shrink ---------------------------------------------------------
//
// Searching for matches in noise (already compressed or encrypted data) is deflate's slowest
// work and gains nothing. A block whose bytes are near-uniform (order-0 entropy of 7.95 bits a
// byte or more, so Huffman codes save under 0.7 %) and in which almost nothing repeats within
// deflate's 32 KiB reach (an LZ scan of 4-byte matches finds under 1 % of the bytes) goes into the
// stream as stored blocks instead.

double entropyBitsPerByte(const std::uint8_t* data, std::size_t size, std::size_t stride, std::size_t run) {
    std::array<std::uint32_t, 256> counts{};
    std::size_t total = 0;
    for (std::size_t start = 0; start < size; start += stride) {
        const std::size_t end = std::min(size, start + run);
        for (std::size_t i = start; i < end; ++i) ++counts[data[i]];
        total += end - start;
    }
    double bits = 0;
    for (const std::uint32_t count : counts) {
        if (count == 0) continue;
        const double p = static_cast<double>(count) / static_cast<double>(total);
        bits -= p * std::log2(p);
    }
    return bits;
}

std::size_t repeatedBytes(const std::uint8_t* data, std::size_t size) {
    constexpr unsigned kHashBits = 14;
    constexpr std::size_t kMaxMatch = 258;
    std::vector<std::uint32_t> last(std::size_t{1} << kHashBits, 0);  // position + 1, 0 = none
    std::size_t matched = 0;
    std::size_t pos = 0;
    while (pos + 4 <= size) {
        std::uint32_t word;
        std::memcpy(&word, data + pos, 4);
        const std::uint32_t hash = (word * 2654435761u) >> (32 - kHashBits);
        const std::size_t candidate = last[hash];
        last[hash] = static_cast<std::uint32_t>(pos + 1);
        if (candidate != 0 && pos - (candidate - 1) <= kDictionarySize &&
            std::memcmp(data + candidate - 1, data + pos, 4) == 0) {
            std::size_t length = 4;
            const std::size_t from = candidate - 1;
            while (length < kMaxMatch && pos + length < size && data[from + length] == data[pos + length]) ++length;
            matched += length;
            pos += length;
        } else {
            ++pos;
        }
    }
    return matched;
}

bool looksIncompressible(const std::uint8_t* data, std::size_t size) {
    if (size < 4096) return false;
    // A sample first (4 KiB of every 32 KiB): text and most data leave here at once.
    if (entropyBitsPerByte(data, size, 32u << 10, 4u << 10) < 7.9) return false;
    if (entropyBitsPerByte(data, size, size, size) < 7.95) return false;
    return repeatedBytes(data, size) * 100 < size;
}

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
    // One zlib call with the whole output buffer; what it produced is written at once. `stop`
    // says when packing is to end here.
    DeflateOutcome stop = DeflateOutcome::Shrunk;
    auto pass = [&](auto call) {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        const int result = call();
        const std::size_t produced = out.size() - z.avail_out;
        if (produced > 0 && !sink.append(out.data(), produced)) {
            failure = Status::WriteFailed;
            stop = DeflateOutcome::Failed;
        } else if ((data.compressedSize += produced) >= announcedSize) {
            stop = DeflateOutcome::DidNotShrink;
        }
        return result;
    };
    int flush = Z_NO_FLUSH;
    int level = kDeflateLevel;
    while (flush != Z_FINISH) {
        std::size_t got = 0;
        if (!source.read(in.data(), in.size(), got)) {
            failure = Status::ReadFailed;
            return DeflateOutcome::Failed;
        }
        flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
        data.crc = static_cast<std::uint32_t>(crc32(data.crc, in.data(), static_cast<uInt>(got)));
        data.size += got;
        // Noise is stored (level 0) rather than searched; zlib deflates what it holds at the old
        // level before it switches, asking for more room until all of it is out.
        const int wanted = got > 0 && looksIncompressible(in.data(), got) ? 0 : kDeflateLevel;
        while (wanted != level) {
            const int switched = pass([&] { return deflateParams(&z, wanted, Z_DEFAULT_STRATEGY); });
            if (stop != DeflateOutcome::Shrunk) return stop;
            if (switched == Z_OK) {
                level = wanted;
            } else if (switched != Z_BUF_ERROR) {
                failure = statusOfZlib(switched);
                return DeflateOutcome::Failed;
            }
        }
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(got);
        int result = Z_OK;
        do {
            result = pass([&] { return deflate(&z, flush); });
            if (stop != DeflateOutcome::Shrunk) return stop;
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
//
// Everything is set up before the first read: one deflate stream per worker, reset for each block,
// and a fixed set of slots (input with room for the dictionary in front, output) that go round
// from reading to deflating to writing. The calling thread reads and writes, the workers deflate,
// so the three overlap; nothing is allocated per block.

// Blocks of 1 MiB: every block re-hashes its 32 KiB dictionary and ends with a sync flush, and
// under Wine the 32-bit module packs text 4-8 % faster than with 512 KiB (the 64-bit one 1-3 %).
// The slots' output is only touched as deflate writes it, so text costs about 12-17 MiB at most.
constexpr std::size_t kParallelBlock = 1024u << 10;
constexpr std::uint64_t kParallelThreshold = 4u << 20;  // smaller inputs stay on the calling thread
constexpr unsigned kMaxThreads = 4;
constexpr unsigned kSlotsPerThread = 2;  // blocks queued for a worker, so that it never waits for one

// Appends data as stored deflate blocks (the stream is byte-aligned before and after them).
bool appendStoredBlocks(ArchiveSink& sink, const std::uint8_t* data, std::size_t size, bool last,
                        std::uint64_t& written) {
    do {
        const std::size_t chunk = std::min<std::size_t>(size, 0xFFFF);
        const bool final = last && chunk == size;
        const std::uint8_t header[5] = {static_cast<std::uint8_t>(final ? 1 : 0),
                                        static_cast<std::uint8_t>(chunk), static_cast<std::uint8_t>(chunk >> 8),
                                        static_cast<std::uint8_t>(~chunk), static_cast<std::uint8_t>(~chunk >> 8)};
        if (!sink.append(header, sizeof header) || !sink.append(data, chunk)) return false;
        written += sizeof header + chunk;
        data += chunk;
        size -= chunk;
    } while (size > 0);
    return true;
}

// One block on its way through: read into `input` behind its dictionary, deflated into `output`.
struct Slot {
    std::unique_ptr<std::uint8_t[]> input;   // kDictionarySize bytes of room, then the block
    std::unique_ptr<std::uint8_t[]> output;  // left uninitialised: only what deflate writes is touched
    std::size_t dictionary = 0;              // how much of the room before the block is filled
    std::size_t length = 0;
    bool last = false;
    // Set by the worker.
    bool stored = false;  // goes out as stored blocks, straight from input
    std::size_t outputSize = 0;
    std::uint32_t crc = 0;
    Status status = Status::Ok;
    bool done = false;

    std::uint8_t* block() { return input.get() + kDictionarySize; }
};

void deflateSlot(Slot& slot, z_stream& z) {
    const std::uint8_t* data = slot.block();
    {
        PROFILED(Crc);
        slot.crc = static_cast<std::uint32_t>(crc32(0, data, static_cast<uInt>(slot.length)));
    }
    bool incompressible;
    {
        PROFILED(Probe);
        incompressible = looksIncompressible(data, slot.length);
    }
    if (incompressible) {
        slot.stored = true;
        return;
    }
    PROFILED(Deflate);
    int result = deflateReset(&z);
    if (result == Z_OK && slot.dictionary > 0)
        result = deflateSetDictionary(&z, data - slot.dictionary, static_cast<uInt>(slot.dictionary));
    if (result != Z_OK) {
        slot.status = statusOfZlib(result);
        return;
    }
    z.next_in = const_cast<std::uint8_t*>(data);
    z.avail_in = static_cast<uInt>(slot.length);
    z.next_out = slot.output.get();
    z.avail_out = static_cast<uInt>(kParallelBlock);
    result = deflate(&z, slot.last ? Z_FINISH : Z_SYNC_FLUSH);
    const bool complete = slot.last ? result == Z_STREAM_END : result == Z_OK && z.avail_out > 0;
    if (complete) {
        slot.outputSize = kParallelBlock - z.avail_out;
    } else if (result == Z_OK || result == Z_BUF_ERROR) {
        slot.stored = true;  // deflated, the block would not be smaller than the block itself
    } else {
        slot.status = statusOfZlib(result);
    }
}

// The worker threads, each with its own deflate stream, taking slots in order of submission.
class DeflatePool {
public:
    // Leaves threads() == 0 when a stream could not be set up (`failure` says why).
    DeflatePool(unsigned threads, Status& failure) : streams_(threads) {
        for (z_stream& z : streams_) {
            const int result = deflateInit2(&z, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
            if (result != Z_OK) {
                failure = statusOfZlib(result);
                return;
            }
            ++initialised_;
        }
        try {
            for (std::size_t i = 0; i < streams_.size(); ++i)
                workers_.emplace_back([this, i] { run(streams_[i], static_cast<unsigned>(i)); });
        } catch (...) {
            stopAndJoin();
            throw;
        }
    }
    ~DeflatePool() { stopAndJoin(); }
    DeflatePool(const DeflatePool&) = delete;
    DeflatePool& operator=(const DeflatePool&) = delete;
    bool ready() const { return initialised_ == streams_.size(); }
    void submit(Slot* slot) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            queue_.push_back(slot);
        }
        work_.notify_one();
    }
    void wait(Slot* slot) {
        std::unique_lock<std::mutex> hold(lock_);
        finished_.wait(hold, [&] { return slot->done; });
    }
    bool isDone(Slot* slot) {
        std::lock_guard<std::mutex> hold(lock_);
        return slot->done;
    }

private:
    void stopAndJoin() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            stop_ = true;
        }
        work_.notify_all();
        for (std::thread& worker : workers_) worker.join();
        workers_.clear();
        for (std::size_t i = 0; i < initialised_; ++i) deflateEnd(&streams_[i]);
        initialised_ = 0;
    }
    void run(z_stream& z, unsigned index) {
#ifdef TARNWICK_ZIP_PROFILE
        struct Cpu {
            unsigned index;
            double start = profile::threadCpu();
            ~Cpu() {
                if (!profile::current || index >= 8) return;
                std::lock_guard<std::mutex> hold(profile::current->lock);
                profile::current->workerCpu[index] = profile::threadCpu() - start;
                if (index + 1 > profile::current->workers) profile::current->workers = index + 1;
            }
        } cpu{index};
#else
        (void)index;
#endif
        for (;;) {
            Slot* slot;
            {
                std::unique_lock<std::mutex> hold(lock_);
#ifdef TARNWICK_ZIP_PROFILE
                if (!stop_ && queue_.empty()) {  // a worker without a block: the calling thread is behind
                    PROFILED(Idle);
                    work_.wait(hold, [&] { return stop_ || !queue_.empty(); });
                }
#endif
                work_.wait(hold, [&] { return stop_ || !queue_.empty(); });
                if (queue_.empty()) return;
                slot = queue_.front();
                queue_.pop_front();
            }
            deflateSlot(*slot, z);
            {
                std::lock_guard<std::mutex> hold(lock_);
                slot->done = true;
            }
            finished_.notify_all();
        }
    }
    std::vector<z_stream> streams_;
    std::size_t initialised_ = 0;
    std::vector<std::thread> workers_;
    std::deque<Slot*> queue_;
    std::mutex lock_;
    std::condition_variable work_, finished_;
    bool stop_ = false;
};

unsigned deflateThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::min(cores == 0 ? 1u : cores, kMaxThreads);
}

// Reads up to `wanted` bytes, fewer only at the end of the source.
bool readFully(RewindableSource& source, std::uint8_t* buffer, std::size_t wanted, std::size_t& filled) {
    filled = 0;
    while (filled < wanted) {
        std::size_t got = 0;
        if (!source.read(buffer + filled, wanted - filled, got)) return false;
        if (got == 0) break;
        filled += got;
    }
    return true;
}

// As deflateData, with the blocks deflated on worker threads. The block that completes the
// announced size ends the stream; a source that holds more than announced is caught by one read
// past it (the caller then refuses the entry), one that holds less ends the stream early.
DeflateOutcome deflateDataInParallel(RewindableSource& source, ArchiveSink& sink, std::uint64_t announcedSize,
                                     unsigned threads, EntryData& data, Status& failure) {
    data = EntryData{};
    data.method = kMethodDeflated;
    // The slots outlive the pool: its workers are joined before any slot goes.
    std::vector<Slot> slots(kSlotsPerThread * threads + 2);
    for (Slot& slot : slots) {
        slot.input.reset(new (std::nothrow) std::uint8_t[kDictionarySize + kParallelBlock]);
        slot.output.reset(new (std::nothrow) std::uint8_t[kParallelBlock]);
        if (!slot.input || !slot.output) {
            failure = Status::OutOfMemory;
            return DeflateOutcome::Failed;
        }
    }
    std::vector<Slot*> free;
    for (Slot& slot : slots) free.push_back(&slot);
    std::deque<Slot*> order;  // submitted, oldest first
    std::vector<std::uint8_t> tail;  // the last 32 KiB of input read so far
    tail.reserve(kDictionarySize);
    std::uint64_t remaining = announcedSize;
    bool reading = true;

    DeflatePool pool(threads, failure);
    if (!pool.ready()) return DeflateOutcome::Failed;
    // Finishes what is in flight before leaving early (the pool must not outlive the slots).
    auto leave = [&](DeflateOutcome outcome) {
        for (Slot* slot : order) pool.wait(slot);
        return outcome;
    };
    // Writes the oldest slot, which is done.
    auto retire = [&]() -> DeflateOutcome {
        Slot* slot = order.front();
        if (slot->status != Status::Ok) {
            failure = slot->status;
            return DeflateOutcome::Failed;
        }
        data.crc = static_cast<std::uint32_t>(crc32_combine(data.crc, slot->crc, static_cast<z_off_t>(slot->length)));
        bool written;
        PROFILED(Write);
        if (slot->stored) {
            written = appendStoredBlocks(sink, slot->block(), slot->length, slot->last, data.compressedSize);
        } else {
            written = sink.append(slot->output.get(), slot->outputSize);
            data.compressedSize += slot->outputSize;
        }
        if (!written) {
            failure = Status::WriteFailed;
            return DeflateOutcome::Failed;
        }
        order.pop_front();
        free.push_back(slot);
        return data.compressedSize >= announcedSize ? DeflateOutcome::DidNotShrink : DeflateOutcome::Shrunk;
    };

    while (reading || !order.empty()) {
        while (!order.empty() && pool.isDone(order.front())) {
            const DeflateOutcome outcome = retire();
            if (outcome != DeflateOutcome::Shrunk) return leave(outcome);
        }
        if (reading && !free.empty()) {
            Slot* slot = free.back();
            free.pop_back();
            const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kParallelBlock));
            std::size_t filled = 0;
            bool readOk;
            {
                PROFILED(Read);
                readOk = readFully(source, slot->block(), wanted, filled);
            }
            if (!readOk) {
                failure = Status::ReadFailed;
                return leave(DeflateOutcome::Failed);
            }
            data.size += filled;
            remaining -= filled;
            if (filled < wanted || remaining == 0) {
                reading = false;
                std::uint8_t probe = 0;
                std::size_t extra = 0;
                if (filled == wanted && !readFully(source, &probe, 1, extra)) {
                    failure = Status::ReadFailed;
                    return leave(DeflateOutcome::Failed);
                }
                data.size += extra;
                if (data.size != announcedSize) return leave(DeflateOutcome::Shrunk);  // refused by the caller
            }
            slot->dictionary = tail.size();
            std::copy(tail.begin(), tail.end(), slot->block() - tail.size());
            const std::size_t keep = std::min(kDictionarySize, filled);
            if (tail.size() + keep > kDictionarySize) tail.erase(tail.begin(), tail.begin() + (tail.size() + keep - kDictionarySize));
            tail.insert(tail.end(), slot->block() + filled - keep, slot->block() + filled);
            slot->length = filled;
            slot->last = !reading;
            slot->stored = slot->done = false;
            slot->status = Status::Ok;
            pool.submit(slot);
            order.push_back(slot);
        } else if (!order.empty()) {
            PROFILED(Wait);
            pool.wait(order.front());
        }
    }
    return DeflateOutcome::Shrunk;
}

Status writeEntryData(RewindableSource& source, const NewEntry& entry, ArchiveSink& sink,
                      std::uint64_t dataStart, EntryData& data) {
    if (entry.size > 0) {
        Status failure = Status::Ok;
        const unsigned threads = deflateThreads();
        DeflateOutcome outcome = DeflateOutcome::Failed;
        bool parallel = entry.size >= kParallelThreshold && threads > 1;
        if (parallel) {
            try {
#ifdef TARNWICK_ZIP_PROFILE
                profile::Totals totals;
                profile::current = &totals;
                struct Unset {
                    ~Unset() { profile::current = nullptr; }
                } unset;
                const double cpu = profile::threadCpu(), start = profile::now();
                outcome = deflateDataInParallel(source, sink, entry.size, threads, data, failure);
                totals.mainCpu = profile::threadCpu() - cpu;
                totals.wall = profile::now() - start;
                totals.report();
#else
                outcome = deflateDataInParallel(source, sink, entry.size, threads, data, failure);
#endif
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
