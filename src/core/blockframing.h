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

#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

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

// Saved states are little-endian, whatever the digest writes.
inline std::uint32_t LoadLe32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void StoreLe32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

inline std::uint64_t LoadLe64(const unsigned char* p) {
    return static_cast<std::uint64_t>(LoadLe32(p)) | (static_cast<std::uint64_t>(LoadLe32(p + 4)) << 32);
}

inline void StoreLe64(unsigned char* p, std::uint64_t v) {
    StoreLe32(p, static_cast<std::uint32_t>(v));
    StoreLe32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

// The sixteen message words of a block.
inline void LoadBlockBe(std::uint32_t W[16], const unsigned char* block) {
#if defined(__wasm_simd128__)
    // WebAssembly engines make a dozen instructions of a byte-by-byte load: one byte shuffle a
    // quarter of the block instead.
    for (int i = 0; i < 4; ++i) {
        const v128_t v = wasm_i8x16_swizzle(wasm_v128_load(block + 16 * i),
                                            wasm_i8x16_make(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
        W[4 * i] = wasm_i32x4_extract_lane(v, 0);
        W[4 * i + 1] = wasm_i32x4_extract_lane(v, 1);
        W[4 * i + 2] = wasm_i32x4_extract_lane(v, 2);
        W[4 * i + 3] = wasm_i32x4_extract_lane(v, 3);
    }
#else
    for (int t = 0; t < 16; ++t) W[t] = LoadBe32(block + 4 * t);
#endif
}

#if defined(__wasm_simd128__)
// The message words of four consecutive blocks, transposed for schedules computed side by side:
// T[t] holds word t of each block, block k in lane k.
inline void LoadFourBlocksBe(v128_t T[16], const unsigned char* blocks) {
    const v128_t swap = wasm_i8x16_make(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    for (int q = 0; q < 4; ++q) {
        v128_t r[4];
        for (int k = 0; k < 4; ++k) r[k] = wasm_i8x16_swizzle(wasm_v128_load(blocks + 64 * k + 16 * q), swap);
        const v128_t t0 = wasm_i32x4_shuffle(r[0], r[1], 0, 4, 1, 5);
        const v128_t t1 = wasm_i32x4_shuffle(r[2], r[3], 0, 4, 1, 5);
        const v128_t t2 = wasm_i32x4_shuffle(r[0], r[1], 2, 6, 3, 7);
        const v128_t t3 = wasm_i32x4_shuffle(r[2], r[3], 2, 6, 3, 7);
        T[4 * q] = wasm_i64x2_shuffle(t0, t1, 0, 2);
        T[4 * q + 1] = wasm_i64x2_shuffle(t0, t1, 1, 3);
        T[4 * q + 2] = wasm_i64x2_shuffle(t2, t3, 0, 2);
        T[4 * q + 3] = wasm_i64x2_shuffle(t2, t3, 1, 3);
    }
}
#endif

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

    // The saved framing: the total length (8 bytes), then the partial block (64 bytes, zeros past
    // its end).
    static constexpr std::size_t kSavedSize = 8 + kBlockSize;
    void Save(unsigned char* out) const;
    // False, and nothing changed, when the bytes are not a saved framing: a length whose count of
    // bits does not fit 64 bits, or anything but zeros past the partial block.
    bool Load(const unsigned char* in);

private:
    std::uint64_t total_ = 0;
    unsigned char buf_[kBlockSize];
    std::size_t used_ = 0;
};

// Blocks four at a time through `four` (schedules side by side, where the target has the vectors
// for it), the rest one at a time through `one`.
template <void (*four)(std::uint32_t[8], const unsigned char*),
          void (*one)(std::uint32_t[8], const unsigned char*, std::size_t)>
void CompressByFours(std::uint32_t state[8], const unsigned char* blocks, std::size_t count) {
    for (; count >= 4; count -= 4, blocks += 4 * BlockFraming::kBlockSize) four(state, blocks);
    one(state, blocks, count);
}

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

    // A saved state: the digest's tag (4 bytes), the chaining value (eight words), then the
    // framing; every field little-endian.
    static constexpr std::size_t kStateSize = 4 + 32 + BlockFraming::kSavedSize;
    void Save(std::uint32_t tag, unsigned char out[kStateSize]) const {
        StoreLe32(out, tag);
        for (int i = 0; i < 8; ++i) StoreLe32(out + 4 + 4 * i, state_[i]);
        framing_.Save(out + 36);
    }
    // Continues the message a saved state describes; false (and the context as new) when the bytes
    // are not one this digest saved: another length or tag, a bad framing, or a chaining value
    // other than the initial one before any block was compressed.
    bool Load(std::uint32_t tag, const unsigned char* in, std::size_t length) {
        Reset();
        if (length != kStateSize || LoadLe32(in) != tag) return false;
        std::uint32_t words[8];
        for (int i = 0; i < 8; ++i) words[i] = LoadLe32(in + 4 + 4 * i);
        if (LoadLe64(in + 36) < kBlockSize && std::memcmp(words, initial_, sizeof words) != 0) return false;
        if (!framing_.Load(in + 36)) return false;
        std::memcpy(state_, words, sizeof state_);
        return true;
    }

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
