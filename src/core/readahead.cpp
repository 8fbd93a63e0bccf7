#include "readahead.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace pipeline {
namespace {

struct Block {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
};

Result InTurn(const ReadFn& read, const ConsumeFn& consume, unsigned char* buffer, std::size_t blockSize) {
    for (;;) {
        std::size_t got = 0;
        if (!read(buffer, blockSize, got)) return Result::ReadFailed;
        if (got == 0) return Result::Done;
        consume(buffer, got);
    }
}

}  // namespace

Plan PlanFor(unsigned long long size, bool quickConsumer) {
    if (!quickConsumer || size <= 2 * static_cast<unsigned long long>(kAhead.blockSize)) return kInTurn;
    return std::thread::hardware_concurrency() >= 2 ? kAhead : kInTurn;
}

Result ReadAhead(const ReadFn& read, const ConsumeFn& consume, Plan plan) {
    const std::size_t blockSize = plan.blockSize, buffers = plan.buffers;
    if (buffers < 2) {
        // One page-aligned block: the system copies whole pages into it.
        constexpr std::size_t kPage = 4096;
        std::unique_ptr<unsigned char[]> storage(new (std::nothrow) unsigned char[blockSize + kPage]);
        if (!storage) return Result::NoMemory;
        const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(storage.get());
        return InTurn(read, consume, storage.get() + (kPage - address % kPage) % kPage, blockSize);
    }
    std::vector<Block> blocks(buffers);
    for (Block& block : blocks) {
        block.data.reset(new (std::nothrow) unsigned char[blockSize]);
        if (!block.data) return Result::NoMemory;
    }

    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::size_t> filled, empty;
    for (std::size_t i = 0; i < buffers; ++i) empty.push_back(i);
    bool finished = false, failed = false, stop = false;

    // The reader refills once half the blocks (at least one) are free, and the consumer wakes it only
    // then: every wake-up is a system call, so they come one per half-turn of the ring, not one
    // per block.
    const std::size_t refillAt = buffers / 2;
    bool readerWaiting = false;
    auto reader = [&] {
        for (;;) {
            std::size_t index;
            {
                std::unique_lock<std::mutex> hold(lock);
                if (!stop && empty.empty()) {
                    readerWaiting = true;
                    changed.wait(hold, [&] { return stop || empty.size() >= refillAt; });
                    readerWaiting = false;
                }
                if (stop) return;
                index = empty.front();
                empty.pop_front();
            }
            std::size_t got = 0;
            const bool ok = read(blocks[index].data.get(), blockSize, got);
            std::lock_guard<std::mutex> hold(lock);
            if (!ok || got == 0) {
                failed = !ok;
                finished = true;
                changed.notify_all();
                return;
            }
            blocks[index].size = got;
            filled.push_back(index);
            changed.notify_all();
        }
    };

    std::thread worker;
    try {
        worker = std::thread(reader);
    } catch (const std::system_error&) {
        return InTurn(read, consume, blocks[0].data.get(), blockSize);
    }
    // The reader is stopped and joined however the consumer leaves.
    struct Join {
        std::thread& worker;
        std::mutex& lock;
        std::condition_variable& changed;
        bool& stop;
        ~Join() {
            {
                std::lock_guard<std::mutex> hold(lock);
                stop = true;
            }
            changed.notify_all();
            worker.join();
        }
    } join{worker, lock, changed, stop};

    for (;;) {
        std::size_t index;
        {
            std::unique_lock<std::mutex> hold(lock);
            changed.wait(hold, [&] { return !filled.empty() || finished; });
            if (filled.empty()) return failed ? Result::ReadFailed : Result::Done;
            index = filled.front();
            filled.pop_front();
        }
        consume(blocks[index].data.get(), blocks[index].size);
        std::lock_guard<std::mutex> hold(lock);
        empty.push_back(index);
        if (readerWaiting && empty.size() >= refillAt) changed.notify_all();
    }
}

}  // namespace pipeline
