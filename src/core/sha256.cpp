// SHA-256 (FIPS 180-4): portable rounds, SHA-NI rounds, and the streaming context.
#include "sha256.h"

#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#define SHA256_HAVE_X86 1
#include <cpuid.h>
#include <immintrin.h>
#else
#define SHA256_HAVE_X86 0
#endif

namespace digest {
namespace {

// ---- the logical functions of FIPS 180-4 ------------------------------------------------------

inline std::uint32_t ROTR(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
inline std::uint32_t CH(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return (x & y) ^ (~x & z); }
inline std::uint32_t MAJ(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return (x & y) ^ (x & z) ^ (y & z);
}
inline std::uint32_t BSIG0(std::uint32_t x) { return ROTR(x, 2) ^ ROTR(x, 13) ^ ROTR(x, 22); }
inline std::uint32_t BSIG1(std::uint32_t x) { return ROTR(x, 6) ^ ROTR(x, 11) ^ ROTR(x, 25); }
inline std::uint32_t SSIG0(std::uint32_t x) { return ROTR(x, 7) ^ ROTR(x, 18) ^ (x >> 3); }
inline std::uint32_t SSIG1(std::uint32_t x) { return ROTR(x, 17) ^ ROTR(x, 19) ^ (x >> 10); }

// Round constants: the first 32 bits of the fractional parts of the cube roots of the first 64
// primes. Aligned so the SHA-NI path may load four at a time.
alignas(16) const std::uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// Initial hash value: the first 32 bits of the fractional parts of the square roots of the first
// eight primes.
const std::uint32_t H0[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

// ---- portable compression ----------------------------------------------------------------------

void CompressPortable(std::uint32_t state[8], const unsigned char* blocks, std::size_t count) {
    std::uint32_t W[64];
    while (count-- > 0) {
        for (int t = 0; t < 16; ++t) W[t] = LoadBe32(blocks + 4 * t);
        for (int t = 16; t < 64; ++t)
            W[t] = SSIG1(W[t - 2]) + W[t - 7] + SSIG0(W[t - 15]) + W[t - 16];

        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int t = 0; t < 64; ++t) {
            std::uint32_t T1 = h + BSIG1(e) + CH(e, f, g) + K[t] + W[t];
            std::uint32_t T2 = BSIG0(a) + MAJ(a, b, c);
            h = g;
            g = f;
            f = e;
            e = d + T1;
            d = c;
            c = b;
            b = a;
            a = T1 + T2;
        }
        state[0] += a; state[1] += b; state[2] += c; state[3] += d;
        state[4] += e; state[5] += f; state[6] += g; state[7] += h;
        blocks += 64;
    }
}

// ---- unrolled compression (WebAssembly) --------------------------------------------------------
//
// WebAssembly engines do not unroll loops, and a byte-by-byte big-endian load costs a dozen
// instructions there. This form does the rounds of CompressPortable unrolled, with the roles of
// a..h renamed round by round instead of the words being moved, the schedule kept as a ring of 16
// words updated in place, and the block's words loaded four at a time with one byte shuffle.
#if defined(__wasm__)
// One round t with the names as given; d and h receive the new e and a. SHA256_W(t) is the
// schedule word: a ring of 16 updated in place, or a precomputed table.
#define SHA256_W(t) W[(t) & 15]
#define SHA256_ROUND(t, a, b, c, d, e, f, g, h)                                          \
    do {                                                                                \
        const std::uint32_t t1 = h + BSIG1(e) + (g ^ (e & (f ^ g))) + K[t] + SHA256_W(t); \
        d += t1;                                                                        \
        h = t1 + BSIG0(a) + ((a & b) | (c & (a | b)));                                  \
    } while (0)
#define SHA256_SCHEDULE(t) \
    (W[(t) & 15] += SSIG1(W[((t) - 2) & 15]) + W[((t) - 7) & 15] + SSIG0(W[((t) - 15) & 15]))
#define SHA256_EIGHT(t)                                        \
    SHA256_ROUND(t, a, b, c, d, e, f, g, h);                   \
    SHA256_ROUND(t + 1, h, a, b, c, d, e, f, g);               \
    SHA256_ROUND(t + 2, g, h, a, b, c, d, e, f);               \
    SHA256_ROUND(t + 3, f, g, h, a, b, c, d, e);               \
    SHA256_ROUND(t + 4, e, f, g, h, a, b, c, d);               \
    SHA256_ROUND(t + 5, d, e, f, g, h, a, b, c);               \
    SHA256_ROUND(t + 6, c, d, e, f, g, h, a, b);               \
    SHA256_ROUND(t + 7, b, c, d, e, f, g, h, a)
#define SHA256_SIXTEEN_SCHEDULED(t)                                                          \
    SHA256_SCHEDULE(t); SHA256_SCHEDULE(t + 1); SHA256_SCHEDULE(t + 2); SHA256_SCHEDULE(t + 3);     \
    SHA256_SCHEDULE(t + 4); SHA256_SCHEDULE(t + 5); SHA256_SCHEDULE(t + 6); SHA256_SCHEDULE(t + 7); \
    SHA256_SCHEDULE(t + 8); SHA256_SCHEDULE(t + 9); SHA256_SCHEDULE(t + 10); SHA256_SCHEDULE(t + 11); \
    SHA256_SCHEDULE(t + 12); SHA256_SCHEDULE(t + 13); SHA256_SCHEDULE(t + 14); SHA256_SCHEDULE(t + 15); \
    SHA256_EIGHT(t);                                                                         \
    SHA256_EIGHT(t + 8)

void CompressUnrolled(std::uint32_t state[8], const unsigned char* blocks, std::size_t count) {
    std::uint32_t W[16];
    while (count-- > 0) {
        LoadBlockBe(W, blocks);
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        SHA256_EIGHT(0);
        SHA256_EIGHT(8);
        SHA256_SIXTEEN_SCHEDULED(16);
        SHA256_SIXTEEN_SCHEDULED(32);
        SHA256_SIXTEEN_SCHEDULED(48);
        state[0] += a; state[1] += b; state[2] += c; state[3] += d;
        state[4] += e; state[5] += f; state[6] += g; state[7] += h;
        blocks += 64;
    }
}

#if defined(__wasm_simd128__)
// Four blocks at a time: their message schedules computed together, one block per lane (word t
// of each block side by side), into a lane-interleaved table; then the rounds of each block in
// turn, reading their lane.
inline v128_t RotrV(v128_t x, int n) { return wasm_v128_or(wasm_u32x4_shr(x, n), wasm_i32x4_shl(x, 32 - n)); }

void CompressUnrolled4(std::uint32_t state[8], const unsigned char* blocks) {
    alignas(16) std::uint32_t table[64 * 4];
    v128_t* T = reinterpret_cast<v128_t*>(table);
    LoadFourBlocksBe(T, blocks);
    for (int t = 16; t < 64; ++t) {
        const v128_t w2 = T[t - 2], w15 = T[t - 15];
        const v128_t s1 = wasm_v128_xor(wasm_v128_xor(RotrV(w2, 17), RotrV(w2, 19)), wasm_u32x4_shr(w2, 10));
        const v128_t s0 = wasm_v128_xor(wasm_v128_xor(RotrV(w15, 7), RotrV(w15, 18)), wasm_u32x4_shr(w15, 3));
        T[t] = wasm_i32x4_add(wasm_i32x4_add(s1, T[t - 7]), wasm_i32x4_add(s0, T[t - 16]));
    }
#undef SHA256_W
#define SHA256_W(t) lane[4 * (t)]
    for (int k = 0; k < 4; ++k) {
        const std::uint32_t* lane = table + k;
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        SHA256_EIGHT(0); SHA256_EIGHT(8); SHA256_EIGHT(16); SHA256_EIGHT(24);
        SHA256_EIGHT(32); SHA256_EIGHT(40); SHA256_EIGHT(48); SHA256_EIGHT(56);
        state[0] += a; state[1] += b; state[2] += c; state[3] += d;
        state[4] += e; state[5] += f; state[6] += g; state[7] += h;
    }
#undef SHA256_W
#define SHA256_W(t) W[(t) & 15]
}
#endif

#if defined(__wasm_simd128__)
constexpr BlockFraming::CompressFn CompressWasm = CompressByFours<CompressUnrolled4, CompressUnrolled>;
#else
constexpr BlockFraming::CompressFn CompressWasm = CompressUnrolled;
#endif
#endif

// ---- SHA-NI compression ------------------------------------------------------------------------
#if SHA256_HAVE_X86

// 32-bit Windows only promises a 4-byte aligned stack on entry; realign for the vector spills.
#if defined(__i386__)
#define SHA256_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define SHA256_ALIGN_STACK
#endif

// The instructions keep the state as two registers, ABEF and CDGH (high lane first). Each
// sha256rnds2 does two rounds with the W+K words in the low half of its third operand.
__attribute__((target("sha,sse4.1"))) SHA256_ALIGN_STACK void CompressShaNi(
    std::uint32_t state[8], const unsigned char* blocks, std::size_t count) {
    const __m128i byteswap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);

    __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));   // DCBA
    __m128i st1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));   // HGFE
    tmp = _mm_shuffle_epi32(tmp, 0xB1);                                          // CDAB
    st1 = _mm_shuffle_epi32(st1, 0x1B);                                          // EFGH
    __m128i st0 = _mm_alignr_epi8(tmp, st1, 8);                                  // ABEF
    st1 = _mm_blend_epi16(st1, tmp, 0xF0);                                       // CDGH

#if defined(__i386__)
    // i686 has eight vector registers: left to itself the compiler keeps the state in memory
    // between blocks, which puts a store and a reload on every block's critical path. Spilling
    // the saved copy instead keeps the state itself in registers.
    volatile __m128i saved[2];
#endif
    while (count-- > 0) {
#if defined(__i386__)
        saved[0] = st0;
        saved[1] = st1;
#else
        const __m128i abef = st0, cdgh = st1;
#endif
        __m128i m[4];
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i)
            m[i] = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), byteswap);

        // Group g does rounds 4g..4g+3 with schedule words m[g&3] = W[4g..4g+3], and derives
        // W[4g+4..4g+7] into the slot that held W[4g-12..4g-9]:
        //   W[t] = SSIG1(W[t-2]) + W[t-7] + SSIG0(W[t-15]) + W[t-16]
        // msg1 adds the SSIG0 term to W[t-16], alignr supplies W[t-7], msg2 adds the SSIG1 term.
#pragma GCC unroll 16
        for (int g = 0; g < 16; ++g) {
            const __m128i cur = m[g & 3];
            __m128i wk = _mm_add_epi32(cur, _mm_load_si128(reinterpret_cast<const __m128i*>(&K[4 * g])));
            st1 = _mm_sha256rnds2_epu32(st1, st0, wk);
            if (g >= 3 && g < 15) {
                __m128i next = _mm_sha256msg1_epu32(m[(g + 1) & 3], m[(g + 2) & 3]);
                next = _mm_add_epi32(next, _mm_alignr_epi8(cur, m[(g + 3) & 3], 4));
                m[(g + 1) & 3] = _mm_sha256msg2_epu32(next, cur);
            }
            wk = _mm_shuffle_epi32(wk, 0x0E);
            st0 = _mm_sha256rnds2_epu32(st0, st1, wk);
        }

#if defined(__i386__)
        const __m128i abef = saved[0], cdgh = saved[1];
#endif
        st0 = _mm_add_epi32(st0, abef);
        st1 = _mm_add_epi32(st1, cdgh);
        blocks += 64;
    }

    tmp = _mm_shuffle_epi32(st0, 0x1B);            // FEBA
    st1 = _mm_shuffle_epi32(st1, 0xB1);            // DCHG
    st0 = _mm_blend_epi16(tmp, st1, 0xF0);         // DCBA
    st1 = _mm_alignr_epi8(st1, tmp, 8);            // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), st0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), st1);
}

bool DetectShaNi() {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const bool ssse3 = (ecx & (1u << 9)) != 0;
    const bool sse41 = (ecx & (1u << 19)) != 0;
    if (!ssse3 || !sse41) return false;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return (ebx & (1u << 29)) != 0;
}
#else
bool DetectShaNi() { return false; }
#endif

CpuLevel g_shani{[] { return DetectShaNi() ? 2 : 1; }};  // 2: the SHA extensions are there
EngineSwitch g_shani_switch;

BlockFraming::CompressFn CompressFor(Sha256Engine engine) {
#if SHA256_HAVE_X86
    if (engine == Sha256Engine::ShaNi) return CompressShaNi;
#endif
#if defined(__wasm__)
    return CompressWasm;  // the portable rounds, unrolled, four schedules at once
#else
    return CompressPortable;
#endif
}

}  // namespace

bool Sha256ShaNiAvailable() { return g_shani.get() == 2; }

void Sha256DisableShaNi(bool disable) { g_shani_switch.set(disable); }

Sha256Engine Sha256AutoEngine() {
    return SettleEngine(Sha256Engine::Auto, Sha256Engine::ShaNi, Sha256ShaNiAvailable(), g_shani_switch.off());
}

Sha256::Sha256(Sha256Engine engine)
    : BlockHash(H0, SettleEngine(engine, Sha256Engine::ShaNi, Sha256ShaNiAvailable(), g_shani_switch.off()),
                CompressFor) {}

void Sha256::Hash(const void* data, std::size_t length, unsigned char digest[kDigestSize],
                  Sha256Engine engine) {
    Sha256 ctx(engine);
    ctx.Update(data, length);
    ctx.Final(digest);
}

}  // namespace digest
