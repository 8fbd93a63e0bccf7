// Reading a stream into a hash in blocks of constant memory: at most `buffers` blocks of
// `blockSize` bytes, whatever the length of the stream. With two buffers or more, a second thread
// reads block n+1 while the caller's thread works on block n.
#pragma once

#include <cstddef>
#include <functional>

namespace pipeline {

// Fills up to capacity bytes; got == 0 means the end. False on a read error.
using ReadFn = std::function<bool(unsigned char* buffer, std::size_t capacity, std::size_t& got)>;
// Takes one block, on the caller's thread, in order.
using ConsumeFn = std::function<void(const unsigned char* data, std::size_t size)>;

enum class Result { Done, ReadFailed, NoMemory };

// How a stream is read: `buffers` blocks of `blockSize` bytes, handed from a reading thread to the
// caller's thread when there are two or more.
struct Plan {
    std::size_t blockSize;
    std::size_t buffers;
};

// Small streams, and any stream on a single core, are read and hashed in turn on the caller's
// thread, 256 KiB at a time: the block is still in the core's cache when it is hashed, and the
// system reads ahead for a sequential file on its own.
constexpr Plan kInTurn{256u << 10, 1};
// Larger streams on two cores or more: a second thread copies blocks out of the system's cache
// while the caller's thread hashes those before them, which hides the copy (about a fifth of
// SHA-256's time). Every wake-up of the reader costs a system call (under Wine, a round trip to
// the server), so it refills half the ring at a time. Measured under Wine on two cores, SHA-256
// of a cached 1 GiB file ran at 0.80x the in-memory speed read in turn; handed over a block at a
// time, 0.73x with 512 KiB blocks, 0.83x with 1 MiB and 0.90x with 4 MiB (8 MiB of buffers); by
// half-rings of four 1 MiB blocks, 0.90x in 4 MiB.
constexpr Plan kAhead{1u << 20, 4};

// The plan for a stream of `size` bytes on this machine: ahead only when the stream spans several
// blocks, a second core is there to read it, and the consumer is quick (SHA-256 on the SHA
// extensions, over 1 GB/s), so that the copy is a large share of its time. For a slower consumer
// (SM3, about 400 MB/s, or SHA-256 without the extensions) the copy costs a few per cent, less
// than handing blocks between threads: under Wine on two cores, SM3 of a cached 1 GiB file took
// 2.53 s (64-bit) and 2.89 s (32-bit) read in turn against 2.79 s and 3.19 s ahead, best of three
// interleaved, while SHA-256 took 0.68 s ahead against 0.76 s in turn.
Plan PlanFor(unsigned long long size, bool quickConsumer);

// Reads the whole stream through consume. With fewer than two buffers, or when no second thread
// can be had, it reads and consumes in turn on the caller's thread.
Result ReadAhead(const ReadFn& read, const ConsumeFn& consume, Plan plan = kInTurn);

}  // namespace pipeline
