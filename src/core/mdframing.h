// The framing MD5 and SHA-1 share, so that each one's own file holds only its rounds: 64-byte
// blocks hashed straight from the caller's memory, a partial one kept, the padding (0x80, zeros to
// 56 mod 64, the length in bits: little-endian for MD5, big-endian for SHA-1), the chaining value
// written out in the same byte order, and the saved state a resumable job keeps.
//
// Saved state (kStateSize bytes, little-endian fields): a four-byte tag naming the algorithm, the
// chaining words, the byte count, then the partial block padded with zeros to 64 bytes. A state
// whose tag, size or padding is not what Save writes is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "blockframing.h"  // the little-endian helpers saved states use
#include "hashclass.h"
#include <new>

namespace digest {

// `Compress` hashes `count` consecutive 64-byte blocks into the chaining value.
template <int Words, bool BigEndian, void (*Compress)(std::uint32_t*, const unsigned char*, std::size_t)>
struct MdContext {
    static constexpr std::size_t kBlockSize = 64;
    static constexpr std::size_t kDigestSize = 4 * Words;
    static constexpr std::size_t kStateSize = 4 + 4 * Words + 8 + kBlockSize;

    std::uint32_t h[Words];
    std::uint64_t total;
    unsigned char buf[kBlockSize];

    void Init(const std::uint32_t* initial) {
        std::memcpy(h, initial, sizeof h);
        total = 0;
    }

    void Update(const void* data, std::size_t length) {
        if (length == 0) return;
        const unsigned char* p = static_cast<const unsigned char*>(data);
        std::size_t used = static_cast<std::size_t>(total % kBlockSize);
        total += length;
        if (used != 0) {
            std::size_t take = kBlockSize - used;
            if (take > length) take = length;
            std::memcpy(buf + used, p, take);
            p += take;
            length -= take;
            if (used + take < kBlockSize) return;
            Compress(h, buf, 1);
        }
        const std::size_t blocks = length / kBlockSize;
        if (blocks != 0) Compress(h, p, blocks);
        p += blocks * kBlockSize;
        length -= blocks * kBlockSize;
        if (length != 0) std::memcpy(buf, p, length);
    }

    // Writes kDigestSize bytes; Init must follow before reuse.
    void Final(unsigned char* digest) {
        std::size_t used = static_cast<std::size_t>(total % kBlockSize);
        const std::uint64_t bits = total * 8;
        buf[used++] = 0x80;
        if (used > kBlockSize - 8) {
            std::memset(buf + used, 0, kBlockSize - used);
            Compress(h, buf, 1);
            used = 0;
        }
        std::memset(buf + used, 0, kBlockSize - 8 - used);
        for (int i = 0; i < 8; ++i)
            buf[kBlockSize - 8 + i] = static_cast<unsigned char>(bits >> (BigEndian ? 56 - 8 * i : 8 * i));
        Compress(h, buf, 1);
        for (int i = 0; i < Words; ++i) {
            unsigned char* o = digest + 4 * i;
            if (BigEndian) {
                o[0] = static_cast<unsigned char>(h[i] >> 24);
                o[1] = static_cast<unsigned char>(h[i] >> 16);
                o[2] = static_cast<unsigned char>(h[i] >> 8);
                o[3] = static_cast<unsigned char>(h[i]);
            } else {
                StoreLe32(o, h[i]);
            }
        }
    }

    void Save(unsigned char* state, const char tag[4]) const {
        std::memcpy(state, tag, 4);
        for (int i = 0; i < Words; ++i) StoreLe32(state + 4 + 4 * i, h[i]);
        StoreLe64(state + 4 + 4 * Words, total);
        unsigned char* tail = state + 4 + 4 * Words + 8;
        const std::size_t used = static_cast<std::size_t>(total % kBlockSize);
        std::memcpy(tail, buf, used);
        std::memset(tail + used, 0, kBlockSize - used);
    }

    bool Load(const unsigned char* state, std::size_t length, const char tag[4]) {
        if (length != kStateSize || std::memcmp(state, tag, 4) != 0) return false;
        const std::uint64_t count = LoadLe64(state + 4 + 4 * Words);
        if (count > (~std::uint64_t{0} >> 3)) return false;  // more bits than the length field holds
        const unsigned char* tail = state + 4 + 4 * Words + 8;
        const std::size_t used = static_cast<std::size_t>(count % kBlockSize);
        for (std::size_t i = used; i < kBlockSize; ++i)
            if (tail[i] != 0) return false;
        for (int i = 0; i < Words; ++i) h[i] = LoadLe32(state + 4 + 4 * i);
        total = count;
        std::memcpy(buf, tail, used);
        return true;
    }
};

// The class record of a digest over MdContext, its functions written once for every such digest.
template <class Context, const std::uint32_t* kInitial, const char* kTag>
struct MdRecord {
    static void Init(void* c) { new (c) Context{}; static_cast<Context*>(c)->Init(kInitial); }
    static void Update(void* c, const void* data, std::size_t length) { static_cast<Context*>(c)->Update(data, length); }
    static void Final(void* c, unsigned char* out) {
        static_cast<Context*>(c)->Final(out);
        static_cast<Context*>(c)->Init(kInitial);
    }
    static void Save(const void* c, unsigned char* state) { static_cast<const Context*>(c)->Save(state, kTag); }
    static bool Load(void* c, const unsigned char* state, std::size_t length) {
        if (static_cast<Context*>(c)->Load(state, length, kTag)) return true;
        static_cast<Context*>(c)->Init(kInitial);
        return false;
    }
    static void Destroy(void*) {}
    static constexpr HashClass Make(const char* name) {
        return {name, sizeof(Context), Context::kDigestSize, Context::kStateSize, Init, Update, Final, Save, Load, Destroy};
    }
};

}  // namespace digest
