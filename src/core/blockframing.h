// The scaffolding SHA-256 and SM3 share, so that each digest's own file holds only its rounds:
// - byte order: the message words are read big-endian, the length and the digest written so;
// - the framing: 64-byte blocks, whole blocks hashed straight from the caller's memory, a partial
//   one kept, and the padding (0x80, zeros to 56 mod 64, the length in bits) before the eight
//   state words are written out;
// - the context: the chaining value, the framing and the compression function chosen for it;
// - the choice of compression function: the portable rounds, or a faster form the CPU offers
//   (found once per process), unless a test or benchmark switched the faster form off.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace digest {

// ---- byte order ---------------------------------------------------------------------------------

inline std::uint32_t LoadBe32(const unsigned char* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

inline void StoreBe32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

inline void StoreBe64(unsigned char* p, std::uint64_t v) {
    StoreBe32(p, static_cast<std::uint32_t>(v >> 32));
    StoreBe32(p + 4, static_cast<std::uint32_t>(v));
}

// ---- the framing ------------------------------------------------------------------------------

class BlockFraming {
public:
    static constexpr std::size_t kBlockSize = 64;
    using CompressFn = void (*)(std::uint32_t state[8], const unsigned char* blocks, std::size_t count);

    void Reset() {
        total_ = 0;
        used_ = 0;
    }
    void Update(std::uint32_t state[8], CompressFn compress, const void* data, std::size_t length);
    // Pads, compresses the tail and writes the 32-byte digest; Reset must follow before reuse.
    void Finish(std::uint32_t state[8], CompressFn compress, unsigned char digest[32]);
    // Bytes fed since the last Reset.
    std::uint64_t total() const { return total_; }

private:
    std::uint64_t total_ = 0;
    unsigned char buf_[kBlockSize];
    std::size_t used_ = 0;
};

// ---- the choice of compression function ----------------------------------------------------------

// What the CPU offers a digest, asked once per process (by the first context made, from whichever
// thread): `detect` answers a level above 0. Every thread computes the same answer, so two first
// callers at once merely both ask.
class CpuLevel {
public:
    explicit constexpr CpuLevel(int (*detect)()) : detect_(detect) {}
    int get() {
        int level = level_.load(std::memory_order_relaxed);
        if (level == 0) {
            level = detect_();
            level_.store(level, std::memory_order_relaxed);
        }
        return level;
    }

private:
    int (*detect_)();
    std::atomic<int> level_{0};
};

// A process-wide switch that turns a faster form off for contexts made from now on (tests and
// benchmarks flip it, possibly while other threads make contexts).
class EngineSwitch {
public:
    void set(bool off) { off_.store(off, std::memory_order_relaxed); }
    bool off() const { return off_.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> off_{false};
};

// The engine a context asks for, settled: Auto takes `fast` where it is available and not
// switched off, and `fast` asked for where it is not available falls back to Portable.
template <class Engine>
Engine SettleEngine(Engine asked, Engine fast, bool available, bool switchedOff) {
    if (asked == Engine::Auto) asked = (available && !switchedOff) ? fast : Engine::Portable;
    if (asked == fast && !available) asked = Engine::Portable;
    return asked;
}

// ---- the context ----------------------------------------------------------------------------------

// A streaming digest of 64-byte blocks and a 256-bit chaining value: the state and the framing;
// the digest's class settles its engine and compression function and gives its initial value.
template <class Engine>
class BlockHash {
public:
    static constexpr std::size_t kDigestSize = 32;
    static constexpr std::size_t kBlockSize = BlockFraming::kBlockSize;
    // Compresses `blocks_count` consecutive 64-byte blocks into state.
    using CompressFn = BlockFraming::CompressFn;

    void Reset() {
        std::memcpy(state_, initial_, sizeof state_);
        framing_.Reset();
    }
    void Update(const void* data, std::size_t length) { framing_.Update(state_, compress_, data, length); }
    // Writes the 32-byte digest (the state words, each big-endian) and resets the context for a
    // new message.
    void Final(unsigned char digest[kDigestSize]) {
        framing_.Finish(state_, compress_, digest);
        Reset();
    }

    Engine engine() const { return engine_; }
    // Bytes fed since the last Reset/Final.
    std::uint64_t length() const { return framing_.total(); }

protected:
    // `engine` settled (never Auto); `compressFor` gives its compression function.
    BlockHash(const std::uint32_t* initial, Engine engine, CompressFn (*compressFor)(Engine))
        : initial_(initial), engine_(engine), compress_(compressFor(engine)) {
        Reset();
    }

private:
    const std::uint32_t* initial_;  // the eight words every message starts from
    std::uint32_t state_[8];
    BlockFraming framing_;
    Engine engine_;
    CompressFn compress_;
};

}  // namespace digest
