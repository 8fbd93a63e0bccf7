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

// By default the caller's thread reads and hashes in turn, 256 KiB at a time: the block is still
// in the core's cache when it is hashed, and the system reads ahead for a sequential file on its
// own. Measured under Wine on two cores, SHA-256 and SM3 from a cached file both ran faster so
// than with blocks handed over from a reading thread, and far faster when the machine was busy.
constexpr std::size_t kDefaultBlock = 256u << 10;
constexpr std::size_t kDefaultBuffers = 1;

// Reads the whole stream through consume. With fewer than two buffers, or when no second thread
// can be had, it reads and consumes in turn on the caller's thread.
Result ReadAhead(const ReadFn& read, const ConsumeFn& consume, std::size_t blockSize = kDefaultBlock,
                 std::size_t buffers = kDefaultBuffers);

}  // namespace pipeline
