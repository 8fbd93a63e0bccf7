// Reading overlapped with work: a second thread reads block n+1 while the caller's thread works
// on block n, so the disk (or page cache) and the hash run at once. Memory stays constant: at
// most `buffers` blocks of `blockSize` bytes, whatever the length of the stream.
#pragma once

#include <cstddef>
#include <functional>

namespace pipeline {

// Fills up to capacity bytes; got == 0 means the end. False on a read error.
using ReadFn = std::function<bool(unsigned char* buffer, std::size_t capacity, std::size_t& got)>;
// Takes one block, on the caller's thread, in order.
using ConsumeFn = std::function<void(const unsigned char* data, std::size_t size)>;

enum class Result { Done, ReadFailed, NoMemory };

constexpr std::size_t kDefaultBlock = 2u << 20;
constexpr std::size_t kDefaultBuffers = 3;

// Reads the whole stream through consume. With fewer than two buffers, or when no second thread
// can be had, it reads and consumes in turn on the caller's thread.
Result ReadAhead(const ReadFn& read, const ConsumeFn& consume, std::size_t blockSize = kDefaultBlock,
                 std::size_t buffers = kDefaultBuffers);

}  // namespace pipeline
