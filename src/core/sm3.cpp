// SM3 (GB/T 32905-2016): portable rounds, the fast x86 rounds, and the streaming context.
#include "sm3.h"

#include <cstring>
#include <utility>

#if defined(__i386__) || defined(__x86_64__)
#define SM3_HAVE_X86 1
#include <cpuid.h>
#include <immintrin.h>
#else
#define SM3_HAVE_X86 0
#endif

namespace digest {
namespace {

// ---- the functions of the standard -----------------------------------------------------------

// Left rotation by a constant, in the shape gcc and clang turn into a single rol (or rorx).
template <int n>
inline std::uint32_t Rol(std::uint32_t x) {
    static_assert(n > 0 && n < 32, "rotation by 1..31");
    return (x << n) | (x >> (32 - n));
}

// Left rotation by a run-time amount, taken mod 32 (T_j <<< j in the portable rounds).
inline std::uint32_t RolN(std::uint32_t x, unsigned n) {
    n &= 31;
    return (x << n) | (x >> ((32 - n) & 31));
}

inline std::uint32_t P0(std::uint32_t x) { return x ^ Rol<9>(x) ^ Rol<17>(x); }
inline std::uint32_t P1(std::uint32_t x) { return x ^ Rol<15>(x) ^ Rol<23>(x); }

inline std::uint32_t FF(int j, std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return j < 16 ? x ^ y ^ z : (x & y) | (x & z) | (y & z);
}
inline std::uint32_t GG(int j, std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return j < 16 ? x ^ y ^ z : (x & y) | (~x & z);
}

constexpr std::uint32_t T(int j) { return j < 16 ? 0x79cc4519u : 0x7a879d8au; }

const std::uint32_t IV[8] = {
    0x7380166f, 0x4914b2b9, 0x172442d7, 0xda8a0600, 0xa96f30bc, 0x163138aa, 0xe38dee4d, 0xb0fb0e4e,
};

// ---- portable compression ----------------------------------------------------------------------

void CompressPortable(std::uint32_t V[8], const unsigned char* blocks, std::size_t count) {
    std::uint32_t W[68];
    std::uint32_t W1[64];  // W'
    while (count-- > 0) {
        // Message expansion.
        for (int j = 0; j < 16; ++j) W[j] = LoadBe32(blocks + 4 * j);
        for (int j = 16; j < 68; ++j)
            W[j] = P1(W[j - 16] ^ W[j - 9] ^ Rol<15>(W[j - 3])) ^ Rol<7>(W[j - 13]) ^ W[j - 6];
        for (int j = 0; j < 64; ++j) W1[j] = W[j] ^ W[j + 4];

        // Compression.
        std::uint32_t A = V[0], B = V[1], C = V[2], D = V[3];
        std::uint32_t E = V[4], F = V[5], G = V[6], H = V[7];
        for (int j = 0; j < 64; ++j) {
            const std::uint32_t SS1 = Rol<7>(Rol<12>(A) + E + RolN(T(j), static_cast<unsigned>(j)));
            const std::uint32_t SS2 = SS1 ^ Rol<12>(A);
            const std::uint32_t TT1 = FF(j, A, B, C) + D + SS2 + W1[j];
            const std::uint32_t TT2 = GG(j, E, F, G) + H + SS1 + W[j];
            D = C;
            C = Rol<9>(B);
            B = A;
            A = TT1;
            H = G;
            G = Rol<19>(F);
            F = E;
            E = P0(TT2);
        }
        V[0] ^= A; V[1] ^= B; V[2] ^= C; V[3] ^= D;
        V[4] ^= E; V[5] ^= F; V[6] ^= G; V[7] ^= H;
        blocks += 64;
    }
}

// ---- unrolled compression (WebAssembly) --------------------------------------------------------
//
// WebAssembly has no vector unit the fast x86 path could use as it is, and its engines do not
// unroll loops: the portable rounds there pay for the round counter, the j < 16 branches and the
// run-time rotation of T_j. This form has the same arithmetic with the 64 rounds unrolled, the
// roles of the state words renamed round by round instead of the words being moved (A' = TT1 goes
// to D's place, and so on), T_j <<< j as a constant, and W expanded four words ahead of the round
// that needs W[j + 4].
#if defined(__wasm__)
#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

constexpr std::uint32_t TJ(int j) {
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(T(j)) << (j % 32)) |
                                      (static_cast<std::uint64_t>(T(j)) >> ((32 - j % 32) % 32)));
}

#define SM3_EXPAND(j) \
    W[j] = P1(W[(j) - 16] ^ W[(j) - 9] ^ Rol<15>(W[(j) - 3])) ^ Rol<7>(W[(j) - 13]) ^ W[(j) - 6]
#define SM3_W(j) W[j]
#define SM3_ROUND(j, A, B, C, D, E, F, G, H, FFJ, GGJ)                              \
    do {                                                                            \
        const std::uint32_t a12 = Rol<12>(A);                                       \
        const std::uint32_t ss1 = Rol<7>(a12 + E + TJ(j));                          \
        const std::uint32_t wj = SM3_W(j);                                          \
        const std::uint32_t tt1 = FFJ(A, B, C) + D + (ss1 ^ a12) + (wj ^ SM3_W((j) + 4)); \
        const std::uint32_t tt2 = GGJ(E, F, G) + H + ss1 + wj;                      \
        B = Rol<9>(B);                                                              \
        D = tt1;                                                                    \
        F = Rol<19>(F);                                                             \
        H = P0(tt2);                                                                \
    } while (0)
#define SM3_FF0(x, y, z) ((x) ^ (y) ^ (z))
#define SM3_FF1(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))
#define SM3_GG1(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
// Eight rounds from j, the names back where they started; each round first has the W word that
// round j + 4 reads expanded (words below 16 are the block itself).
#define SM3_EIGHT(j, FFJ, GGJ, X)                                            \
    X(j + 4); SM3_ROUND(j, A, B, C, D, E, F, G, H, FFJ, GGJ);                 \
    X(j + 5); SM3_ROUND(j + 1, D, A, B, C, H, E, F, G, FFJ, GGJ);             \
    X(j + 6); SM3_ROUND(j + 2, C, D, A, B, G, H, E, F, FFJ, GGJ);             \
    X(j + 7); SM3_ROUND(j + 3, B, C, D, A, F, G, H, E, FFJ, GGJ);             \
    X(j + 8); SM3_ROUND(j + 4, A, B, C, D, E, F, G, H, FFJ, GGJ);             \
    X(j + 9); SM3_ROUND(j + 5, D, A, B, C, H, E, F, G, FFJ, GGJ);             \
    X(j + 10); SM3_ROUND(j + 6, C, D, A, B, G, H, E, F, FFJ, GGJ);            \
    X(j + 11); SM3_ROUND(j + 7, B, C, D, A, F, G, H, E, FFJ, GGJ)
#define SM3_SCHEDULED(j) (void)0
#define SM3_EXPAND_FROM_16(j) \
    do {                      \
        if ((j) >= 16) SM3_EXPAND(j); \
    } while (0)

void CompressUnrolled(std::uint32_t V[8], const unsigned char* blocks, std::size_t count) {
    std::uint32_t W[68];
    while (count-- > 0) {
        LoadBlockBe(W, blocks);
        std::uint32_t A = V[0], B = V[1], C = V[2], D = V[3];
        std::uint32_t E = V[4], F = V[5], G = V[6], H = V[7];
        SM3_EIGHT(0, SM3_FF0, SM3_FF0, SM3_EXPAND_FROM_16);
        SM3_EIGHT(8, SM3_FF0, SM3_FF0, SM3_EXPAND_FROM_16);
        SM3_EIGHT(16, SM3_FF1, SM3_GG1, SM3_EXPAND);
        SM3_EIGHT(24, SM3_FF1, SM3_GG1, SM3_EXPAND);
        SM3_EIGHT(32, SM3_FF1, SM3_GG1, SM3_EXPAND);
        SM3_EIGHT(40, SM3_FF1, SM3_GG1, SM3_EXPAND);
        SM3_EIGHT(48, SM3_FF1, SM3_GG1, SM3_EXPAND);
        SM3_EIGHT(56, SM3_FF1, SM3_GG1, SM3_EXPAND);
        V[0] ^= A; V[1] ^= B; V[2] ^= C; V[3] ^= D;
        V[4] ^= E; V[5] ^= F; V[6] ^= G; V[7] ^= H;
        blocks += 64;
    }
}

#if defined(__wasm_simd128__)
// Four blocks at a time: their message schedules expanded together, one block per lane of a
// 128-bit vector (word j of each block side by side, so W[j] <- W[j-3] needs no shuffling), into a
// lane-interleaved table; then the rounds of each block in turn, unrolled as above, reading their
// lane of the table. As in the x86 forms, the tables are double-buffered and the next group's rows
// are expanded between the rounds of the current group's blocks (thirteen rows a block, one after
// every fifth round), where they run beside the rounds' dependency chain instead of after it.
inline v128_t RolV(v128_t x, int n) { return wasm_v128_or(wasm_i32x4_shl(x, n), wasm_u32x4_shr(x, 32 - n)); }

// W[j] of the four blocks at row r of a table, from the rows before it.
inline void ExpandRow4(v128_t* r) {
    const v128_t x = wasm_v128_xor(wasm_v128_xor(r[-16], r[-9]), RolV(r[-3], 15));
    const v128_t p1 = wasm_v128_xor(wasm_v128_xor(x, RolV(x, 15)), RolV(x, 23));
    r[0] = wasm_v128_xor(wasm_v128_xor(p1, RolV(r[-13], 7)), r[-6]);
}

#undef SM3_W
#define SM3_W(j) lane[4 * (j)]
#define SM3_STEP(j)                                                            \
    do {                                                                       \
        if (expand && ((j) - 4) % 5 == 0) ExpandRow4(next + ((j) - 4) / 5);   \
    } while (0)
// The rounds of the block whose schedule is `lane` (a lane of a table); with `expand`, rows
// next[0..12] of the next group's table along the way.
template <bool expand>
inline void RoundsOfLane(std::uint32_t V[8], const std::uint32_t* lane, v128_t* next) {
    std::uint32_t A = V[0], B = V[1], C = V[2], D = V[3];
    std::uint32_t E = V[4], F = V[5], G = V[6], H = V[7];
    SM3_EIGHT(0, SM3_FF0, SM3_FF0, SM3_STEP);
    SM3_EIGHT(8, SM3_FF0, SM3_FF0, SM3_STEP);
    SM3_EIGHT(16, SM3_FF1, SM3_GG1, SM3_STEP);
    SM3_EIGHT(24, SM3_FF1, SM3_GG1, SM3_STEP);
    SM3_EIGHT(32, SM3_FF1, SM3_GG1, SM3_STEP);
    SM3_EIGHT(40, SM3_FF1, SM3_GG1, SM3_STEP);
    SM3_EIGHT(48, SM3_FF1, SM3_GG1, SM3_STEP);
    SM3_EIGHT(56, SM3_FF1, SM3_GG1, SM3_STEP);
    V[0] ^= A; V[1] ^= B; V[2] ^= C; V[3] ^= D;
    V[4] ^= E; V[5] ^= F; V[6] ^= G; V[7] ^= H;
}
#undef SM3_STEP
#undef SM3_W
#define SM3_W(j) W[j]

// Whole groups of four through the tables, the blocks left over one at a time.
void CompressWasm(std::uint32_t V[8], const unsigned char* blocks, std::size_t count) {
    if (count >= 4) {
        alignas(16) std::uint32_t tables[2][68 * 4];
        v128_t* cur = reinterpret_cast<v128_t*>(tables[0]);
        v128_t* next = reinterpret_cast<v128_t*>(tables[1]);
        LoadFourBlocksBe(cur, blocks);
        for (int j = 16; j < 68; ++j) ExpandRow4(cur + j);
        for (;;) {
            blocks += 4 * 64;
            count -= 4;
            const bool more = count >= 4;
            if (more) LoadFourBlocksBe(next, blocks);
            const std::uint32_t* table = reinterpret_cast<const std::uint32_t*>(cur);
            for (int b = 0; b < 4; ++b) {
                if (more) RoundsOfLane<true>(V, table + b, next + 16 + 13 * b);
                else RoundsOfLane<false>(V, table + b, nullptr);
            }
            if (!more) break;
            std::swap(cur, next);
        }
    }
    CompressUnrolled(V, blocks, count);
}
#endif

#if !defined(__wasm_simd128__)
constexpr BlockFraming::CompressFn CompressWasm = CompressUnrolled;
#endif

#endif

// ---- fast compression (x86) --------------------------------------------------------------------
//
// The message schedule of a group of blocks (4 with SSE2, 8 with AVX2) is expanded side by side,
// one block per SIMD lane, so the recurrence W[j] <- W[j-3] costs no shuffling: a vector holds word
// j of every block of the group. W and W' go to one table, lane-interleaved, and the rounds read
// them as memory operands off a single base register, so they take no other general register:
// that matters on i686, where the eight state words alone outnumber the registers.
//
// The rounds are one long dependency chain, about seven cycles a round, with the vector unit idle;
// an expansion run as a phase of its own between groups cannot hide behind them. So the tables
// are double-buffered: while the rounds of one group run from one table, the next group's blocks
// are expanded into the other a few rows at a time, spliced between the rounds of each block.
//
// The 64 rounds are unrolled with the roles of the eight state variables renamed round by round
// instead of the words being moved, T_j <<< j folded into an immediate, and every rotation by a
// constant (one rol, or rorx where BMI2 is available).
#if SM3_HAVE_X86

// 32-bit Windows only promises a 4-byte aligned stack on entry; realign for the vector tables.
#if defined(__i386__)
#define SM3_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define SM3_ALIGN_STACK
#endif
#define SM3_INLINE inline __attribute__((always_inline))
#define SM3_FLATTEN __attribute__((flatten))
#define SM3_SSE2 __attribute__((target("sse2")))
#define SM3_AVX2 __attribute__((target("avx2,bmi,bmi2")))

// The expansion of a group's W[16..67] is shared out in equal parts among the blocks of the group
// before it: each block's rounds compute Share(lanes) rows. With eight lanes that runs four rows
// past W[67]; they are never read.
constexpr int Share(int lanes) { return (52 + lanes - 1) / lanes; }
// Where W' starts in a schedule table, after W[0..67] and those spare rows.
constexpr int W1Row(int lanes) { return 16 + Share(lanes) * lanes; }

constexpr std::uint32_t TRol(int j) {
    return j % 32 == 0 ? T(j) : (T(j) << (j % 32)) | (T(j) >> (32 - j % 32));
}

// Round j. On return d holds the new A, h the new E, b the new C and f the new G; the other four
// are the new B, D, F, H as they stand (old A, C, E, G). The next round is called with the
// arguments rotated: (d, a, b, c, h, e, f, g). w points at this block's lane of a schedule table
// (W[j] at w[j * lanes], W'[j] at w[(W1Row(lanes) + j) * lanes]): one base register for both.
template <int j, int lanes>
SM3_INLINE void Round(std::uint32_t a, std::uint32_t& b, std::uint32_t c, std::uint32_t& d,
                      std::uint32_t e, std::uint32_t& f, std::uint32_t g, std::uint32_t& h,
                      const std::uint32_t* w) {
    constexpr int kW1 = W1Row(lanes);
    const std::uint32_t a12 = Rol<12>(a);
    std::uint32_t a12k = a12 + TRol(j);
    __asm__("" : "+r"(a12k));
    const std::uint32_t ss1 = Rol<7>(a12k + e);
    const std::uint32_t ss2 = ss1 ^ a12;
    std::uint32_t ff, gg;
    if (j < 16) {
        ff = a ^ b ^ c;
        gg = e ^ f ^ g;
    } else {
        ff = ((a ^ b) & (b ^ c)) ^ b;  // majority: b where a = b, else c
        gg = ((f ^ g) & e) ^ g;        // e ? f : g
    }
#if defined(__x86_64__)
    // The round's critical path runs e -> ss1 -> TT2 -> P0 -> the next e. Sum the terms that are
    // ready early (D + W'[j] + FF, H + W[j] + GG) first, so ss1 and ss2 are each one add from the
    // end; the empty asm keeps the compiler from reassociating them back. (On i686 the two extra
    // live values cost more in spills than the shorter path gains.)
    std::uint32_t tt2 = h + w[j * lanes];
    tt2 += gg;
    __asm__("" : "+r"(tt2));
    std::uint32_t tt1 = d + w[(kW1 + j) * lanes];
    tt1 += ff;
    __asm__("" : "+r"(tt1));
    d = tt1 + ss2;
    h = P0(tt2 + ss1);
#else
    d = d + ff + ss2 + w[(kW1 + j) * lanes];
    h = P0(h + gg + ss1 + w[j * lanes]);
#endif
    b = Rol<9>(b);
    f = Rol<19>(f);
}

template <int j, int lanes>
SM3_INLINE void FourRounds(std::uint32_t& A, std::uint32_t& B, std::uint32_t& C, std::uint32_t& D,
                           std::uint32_t& E, std::uint32_t& F, std::uint32_t& G, std::uint32_t& H,
                           const std::uint32_t* w) {
    Round<j + 0, lanes>(A, B, C, D, E, F, G, H, w);
    Round<j + 1, lanes>(D, A, B, C, H, E, F, G, w);
    Round<j + 2, lanes>(C, D, A, B, G, H, E, F, w);
    Round<j + 3, lanes>(B, C, D, A, F, G, H, E, w);
}

// The rounds of one block, with `step.After<q>()` run after rounds 4q..4q+3. The step may need a
// target the caller has and this template has not, so it is inlined by the caller's flattening
// (SM3_FLATTEN) rather than forced here.
template <int lanes, class Step, int... q>
inline void AllRounds(std::uint32_t V[8], const std::uint32_t* w, Step& step,
                      std::integer_sequence<int, q...>) {
    std::uint32_t A = V[0], B = V[1], C = V[2], D = V[3];
    std::uint32_t E = V[4], F = V[5], G = V[6], H = V[7];
    ((FourRounds<4 * q, lanes>(A, B, C, D, E, F, G, H, w), step.template After<q>()), ...);
    V[0] ^= A; V[1] ^= B; V[2] ^= C; V[3] ^= D;
    V[4] ^= E; V[5] ^= F; V[6] ^= G; V[7] ^= H;
}

// The schedule of a group of blocks: W[j] of block i at w[j * lanes + i], W'[j] at
// w[(W1Row(lanes) + j) * lanes + i]. Kept as the 32-bit words the rounds read; the SIMD code loads
// and stores whole rows (word j of every block) through the vector types, which may alias
// anything. (W' has room for the rows the spare W rows complete.)
template <int lanes>
struct Schedule {
    alignas(4 * lanes) std::uint32_t w[(2 * W1Row(lanes) - 4) * lanes];
};

// How many of a block's Share(lanes) expansion rows follow rounds 4q..4q+3: spread evenly.
constexpr int RowsAfter(int lanes, int q) {
    return ((q + 1) * Share(lanes) + 15) / 16 - (q * Share(lanes) + 15) / 16;
}

// Ends a row of the SSE2 step: the compiler is not to carry vectors from one row across the rounds
// to the next, where it would have to spill them. (The processor still runs each row beside the
// rounds around it.)
#define SM3_KEEP_APART() __asm__ volatile("" ::: "memory")

// The step of a block with no next group to expand.
struct NoStep {
    template <int q>
    SM3_INLINE void After() {}
};

// The rounds of each form of the fast path, alone (the last group) and with a share of the next
// group's expansion (`row` is its first row; the form's step advances it). On i686 they are
// functions of their own: the SIMD drivers realign the stack and so keep %ebp as a frame pointer,
// while out here the rounds get all seven registers (4-9% under Wine). On x86_64 inlining them
// into the drivers is the faster choice. (The functions a form's driver calls are inline without
// being forced: always_inline would be checked against the generic driver's target, not the
// form's, so the driver's flattening inlines them instead.)
#if defined(__i386__)
#define SM3_ROUNDS_FN __attribute__((noinline))
#else
#define SM3_ROUNDS_FN inline
#endif

// -- SSE2: four blocks per group --

template <int n>
SM3_SSE2 SM3_INLINE __m128i RolV(__m128i x) {
    return _mm_or_si128(_mm_slli_epi32(x, n), _mm_srli_epi32(x, 32 - n));
}

SM3_SSE2 SM3_INLINE __m128i LoadU(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

SM3_SSE2 SM3_INLINE __m128i Bswap32(__m128i x) {
    x = _mm_shufflehi_epi16(_mm_shufflelo_epi16(x, 0xB1), 0xB1);  // swap the halves of each word
    return _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8));  // then the bytes of each half
}

// Row k rows from r (a row of a four-lane table), and storing one.
SM3_SSE2 SM3_INLINE __m128i Row4(const std::uint32_t* r, int k) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(r + 4 * k));
}
SM3_SSE2 SM3_INLINE void SetRow4(std::uint32_t* r, int k, __m128i v) {
    _mm_store_si128(reinterpret_cast<__m128i*>(r + 4 * k), v);
}

// W[j] at r, and the W'[j-4] it completes.
SM3_SSE2 void ExpandRowSse2(std::uint32_t* r) {
    constexpr int kW1 = W1Row(4);
    __m128i t = _mm_xor_si128(_mm_xor_si128(Row4(r, -16), Row4(r, -9)), RolV<15>(Row4(r, -3)));
    t = _mm_xor_si128(_mm_xor_si128(t, RolV<15>(t)), RolV<23>(t));  // P1
    t = _mm_xor_si128(_mm_xor_si128(t, RolV<7>(Row4(r, -13))), Row4(r, -6));
    SetRow4(r, 0, t);
    SetRow4(r, kW1 - 4, _mm_xor_si128(Row4(r, -4), t));
}

// W[0..15] and W'[0..11] of `n` (1..4) blocks. Lanes past the last block repeat block 0; their
// result is never used.
SM3_SSE2 void LoadSse2(std::uint32_t* w, const unsigned char* blocks, std::size_t n) {
    const unsigned char* p[4];
    for (std::size_t i = 0; i < 4; ++i) p[i] = blocks + 64 * (i < n ? i : 0);
    for (int k = 0; k < 4; ++k) {
        // Words 4k..4k+3 of each block, then a 4x4 transpose into one vector per word.
        const __m128i r0 = Bswap32(LoadU(p[0] + 16 * k)), r1 = Bswap32(LoadU(p[1] + 16 * k));
        const __m128i r2 = Bswap32(LoadU(p[2] + 16 * k)), r3 = Bswap32(LoadU(p[3] + 16 * k));
        const __m128i t0 = _mm_unpacklo_epi32(r0, r1), t1 = _mm_unpacklo_epi32(r2, r3);
        const __m128i t2 = _mm_unpackhi_epi32(r0, r1), t3 = _mm_unpackhi_epi32(r2, r3);
        SetRow4(w, 4 * k + 0, _mm_unpacklo_epi64(t0, t1));
        SetRow4(w, 4 * k + 1, _mm_unpackhi_epi64(t0, t1));
        SetRow4(w, 4 * k + 2, _mm_unpacklo_epi64(t2, t3));
        SetRow4(w, 4 * k + 3, _mm_unpackhi_epi64(t2, t3));
    }
    for (int j = 0; j < 12; ++j)
        SetRow4(w, W1Row(4) + j, _mm_xor_si128(Row4(w, j), Row4(w, j + 4)));
}

struct Sse2Step {
    std::uint32_t* row;
    template <int q>
    SM3_SSE2 void After() {
        for (int i = 0; i < RowsAfter(4, q); ++i, row += 4) {
            ExpandRowSse2(row);
            SM3_KEEP_APART();
        }
    }
};

SM3_ROUNDS_FN SM3_FLATTEN SM3_SSE2 void CompressBlockSse2Form(std::uint32_t V[8],
                                                           const std::uint32_t* w) {
    NoStep step;
    AllRounds<4>(V, w, step, std::make_integer_sequence<int, 16>());
}

SM3_ROUNDS_FN SM3_FLATTEN SM3_SSE2 void CompressBlockSse2Form(std::uint32_t V[8],
                                                           const std::uint32_t* w,
                                                           std::uint32_t* row) {
    Sse2Step step{row};
    AllRounds<4>(V, w, step, std::make_integer_sequence<int, 16>());
}

// -- AVX2, rounds with BMI2's rorx and BMI1's andn: eight blocks per group --

template <int n>
SM3_AVX2 SM3_INLINE __m256i RolV8(__m256i x) {
    return _mm256_or_si256(_mm256_slli_epi32(x, n), _mm256_srli_epi32(x, 32 - n));
}

SM3_AVX2 SM3_INLINE __m256i Row8(const std::uint32_t* r, int k) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(r + 8 * k));
}
SM3_AVX2 SM3_INLINE void SetRow8(std::uint32_t* r, int k, __m256i v) {
    _mm256_store_si256(reinterpret_cast<__m256i*>(r + 8 * k), v);
}

// As ExpandRowSse2, eight lanes wide. P1(x) = x ^ (x <<< 15) ^ (x <<< 23) = x ^ ((x ^ (x <<< 8))
// <<< 15), and the <<< 8 is a byte shuffle. Written out in assembly on ymm0-ymm2 so that nothing of
// it stays live in the rounds it is spliced into: the compiler's own version kept vectors across
// them, which on i686 costs a realigned stack and with it a general register.
alignas(32) const unsigned char kRol8[32] = {3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14,
                                             3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14};

SM3_INLINE void ExpandRowAvx2(std::uint32_t* r) {
    constexpr int kRow = 8 * 4;  // bytes
    __asm__ volatile(
        "vmovdqa %c[m16](%[r]), %%ymm0\n\t"
        "vpxor %c[m9](%[r]), %%ymm0, %%ymm0\n\t"       // W[j-16] ^ W[j-9]
        "vmovdqa %c[m3](%[r]), %%ymm1\n\t"
        "vpslld $15, %%ymm1, %%ymm2\n\t"
        "vpsrld $17, %%ymm1, %%ymm1\n\t"
        "vpor %%ymm2, %%ymm1, %%ymm1\n\t"
        "vpxor %%ymm1, %%ymm0, %%ymm0\n\t"             // x = ... ^ (W[j-3] <<< 15)
        "vpshufb %[rol8], %%ymm0, %%ymm1\n\t"
        "vpxor %%ymm0, %%ymm1, %%ymm1\n\t"
        "vpslld $15, %%ymm1, %%ymm2\n\t"
        "vpsrld $17, %%ymm1, %%ymm1\n\t"
        "vpor %%ymm2, %%ymm1, %%ymm1\n\t"
        "vpxor %%ymm1, %%ymm0, %%ymm0\n\t"             // P1(x)
        "vmovdqa %c[m13](%[r]), %%ymm1\n\t"
        "vpslld $7, %%ymm1, %%ymm2\n\t"
        "vpsrld $25, %%ymm1, %%ymm1\n\t"
        "vpor %%ymm2, %%ymm1, %%ymm1\n\t"
        "vpxor %%ymm1, %%ymm0, %%ymm0\n\t"             // ^ (W[j-13] <<< 7)
        "vpxor %c[m6](%[r]), %%ymm0, %%ymm0\n\t"       // ^ W[j-6]: W[j]
        "vmovdqa %%ymm0, (%[r])\n\t"
        "vpxor %c[m4](%[r]), %%ymm0, %%ymm0\n\t"
        "vmovdqa %%ymm0, %c[w1](%[r])"                 // W'[j-4] = W[j-4] ^ W[j]
        :
        : [r] "r"(r), [rol8] "m"(kRol8), [m16] "i"(-16 * kRow), [m13] "i"(-13 * kRow),
          [m9] "i"(-9 * kRow), [m6] "i"(-6 * kRow), [m4] "i"(-4 * kRow), [m3] "i"(-3 * kRow),
          [w1] "i"((W1Row(8) - 4) * kRow)
        : "xmm0", "xmm1", "xmm2", "memory");
}

SM3_AVX2 SM3_INLINE __m256i LoadPair(const unsigned char* lo, const unsigned char* hi) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(LoadU(lo)), LoadU(hi), 1);
}

// W[0..15] and W'[0..11] of `n` (1..8) blocks, as LoadSse2.
SM3_AVX2 void LoadAvx2(std::uint32_t* w, const unsigned char* blocks, std::size_t n) {
    const unsigned char* p[8];
    for (std::size_t i = 0; i < 8; ++i) p[i] = blocks + 64 * (i < n ? i : 0);
    const __m256i bswap = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12,
                                           3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    for (int k = 0; k < 4; ++k) {
        // Blocks i and i+4 share a row, one per 128-bit half; the transpose works within halves,
        // so element i of each result is block i.
        const __m256i r0 = _mm256_shuffle_epi8(LoadPair(p[0] + 16 * k, p[4] + 16 * k), bswap);
        const __m256i r1 = _mm256_shuffle_epi8(LoadPair(p[1] + 16 * k, p[5] + 16 * k), bswap);
        const __m256i r2 = _mm256_shuffle_epi8(LoadPair(p[2] + 16 * k, p[6] + 16 * k), bswap);
        const __m256i r3 = _mm256_shuffle_epi8(LoadPair(p[3] + 16 * k, p[7] + 16 * k), bswap);
        const __m256i t0 = _mm256_unpacklo_epi32(r0, r1), t1 = _mm256_unpacklo_epi32(r2, r3);
        const __m256i t2 = _mm256_unpackhi_epi32(r0, r1), t3 = _mm256_unpackhi_epi32(r2, r3);
        SetRow8(w, 4 * k + 0, _mm256_unpacklo_epi64(t0, t1));
        SetRow8(w, 4 * k + 1, _mm256_unpackhi_epi64(t0, t1));
        SetRow8(w, 4 * k + 2, _mm256_unpacklo_epi64(t2, t3));
        SetRow8(w, 4 * k + 3, _mm256_unpackhi_epi64(t2, t3));
    }
    for (int j = 0; j < 12; ++j)
        SetRow8(w, W1Row(8) + j, _mm256_xor_si256(Row8(w, j), Row8(w, j + 4)));
}

struct Avx2Step {
    std::uint32_t* row;
    template <int q>
    SM3_AVX2 void After() {
        for (int i = 0; i < RowsAfter(8, q); ++i, row += 8) ExpandRowAvx2(row);
    }
};

SM3_ROUNDS_FN SM3_FLATTEN SM3_AVX2 void CompressBlockAvx2Form(std::uint32_t V[8],
                                                           const std::uint32_t* w) {
    NoStep step;
    AllRounds<8>(V, w, step, std::make_integer_sequence<int, 16>());
}

SM3_ROUNDS_FN SM3_FLATTEN SM3_AVX2 void CompressBlockAvx2Form(std::uint32_t V[8],
                                                           const std::uint32_t* w,
                                                           std::uint32_t* row) {
    Avx2Step step{row};
    AllRounds<8>(V, w, step, std::make_integer_sequence<int, 16>());
}

// -- the driver, either form --
//
// The first group is loaded and expanded on its own. Then, while a next group follows, its blocks
// are loaded into the other table and each block of the current group expands its share of the
// next group's rows between its rounds; the current group is then full, so the shares cover
// W[16..67]. The last group's rounds run alone. The form's driver inlines all of it (SM3_FLATTEN),
// with its own target.
template <int lanes, void (*load)(std::uint32_t*, const unsigned char*, std::size_t),
          void (*expandRow)(std::uint32_t*), void (*rounds)(std::uint32_t*, const std::uint32_t*),
          void (*roundsExpanding)(std::uint32_t*, const std::uint32_t*, std::uint32_t*)>
inline void CompressGroups(std::uint32_t V[8], const unsigned char* blocks, std::size_t count,
                               Schedule<lanes> (&tables)[2]) {
    std::uint32_t v[8];  // the chaining value, local so that the schedule stores cannot alias it
    std::memcpy(v, V, sizeof v);
    std::uint32_t* cur = tables[0].w;
    std::uint32_t* next = tables[1].w;
    std::size_t n = count < lanes ? count : lanes;
    load(cur, blocks, n);
    for (int j = 16; j < 68; ++j) expandRow(cur + lanes * j);
    for (;;) {
        blocks += 64 * n;
        count -= n;
        if (count == 0) break;
        const std::size_t nextN = count < lanes ? count : lanes;
        load(next, blocks, nextN);
        for (int lane = 0; lane < lanes; ++lane)
            roundsExpanding(v, cur + lane, next + lanes * (16 + Share(lanes) * lane));
        std::swap(cur, next);
        n = nextN;
    }
    for (std::size_t lane = 0; lane < n; ++lane) rounds(v, cur + lane);
    std::memcpy(V, v, sizeof v);
}

SM3_FLATTEN SM3_SSE2 SM3_ALIGN_STACK void CompressFastSse2(std::uint32_t V[8],
                                                           const unsigned char* blocks,
                                                           std::size_t count) {
    Schedule<4> tables[2];
    CompressGroups<4, LoadSse2, ExpandRowSse2, CompressBlockSse2Form, CompressBlockSse2Form>(
        V, blocks, count, tables);
}

SM3_FLATTEN SM3_AVX2 SM3_ALIGN_STACK void CompressFastAvx2(std::uint32_t V[8],
                                                           const unsigned char* blocks,
                                                           std::size_t count) {
    Schedule<8> tables[2];
    CompressGroups<8, LoadAvx2, ExpandRowAvx2, CompressBlockAvx2Form, CompressBlockAvx2Form>(
        V, blocks, count, tables);
    _mm256_zeroupper();
}

// What this CPU offers the fast path: 1 = nothing (no SSE2), 2 = SSE2, 3 = SSE2 and AVX2 with
// BMI1/BMI2, with the YMM state saved by the OS.
int DetectFast() {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return 1;
    if ((edx & (1u << 26)) == 0) return 1;                      // SSE2
    const bool osxsave = (ecx & (1u << 27)) != 0, avx = (ecx & (1u << 28)) != 0;
    if (!osxsave || !avx || __get_cpuid_max(0, nullptr) < 7) return 2;
    unsigned int xcr0 = 0, xcr0_hi = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(xcr0_hi) : "c"(0));
    if ((xcr0 & 6) != 6) return 2;                               // XMM and YMM state enabled
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    const unsigned int need = (1u << 3) | (1u << 5) | (1u << 8);  // BMI1, AVX2, BMI2
    return (ebx & need) == need ? 3 : 2;
}
#else
int DetectFast() { return 1; }
#endif

CpuLevel g_fast{DetectFast};
EngineSwitch g_fast_switch;  // Auto takes the portable rounds
EngineSwitch g_avx2_switch;  // Fast takes the SSE2 form

BlockFraming::CompressFn CompressFor(Sm3Engine engine) {
#if SM3_HAVE_X86
    if (engine == Sm3Engine::Fast) return Sm3FastUsesAvx2() ? CompressFastAvx2 : CompressFastSse2;
#else
    (void)engine;
#endif
#if defined(__wasm__)
    return CompressWasm;  // the portable rounds, unrolled, four schedules at once
#else
    return CompressPortable;
#endif
}

}  // namespace

bool Sm3FastAvailable() { return g_fast.get() >= 2; }

bool Sm3FastUsesAvx2() { return !g_avx2_switch.off() && g_fast.get() >= 3; }

void Sm3DisableFast(bool disable) { g_fast_switch.set(disable); }

void Sm3DisableAvx2(bool disable) { g_avx2_switch.set(disable); }

Sm3Engine Sm3AutoEngine() {
    return SettleEngine(Sm3Engine::Auto, Sm3Engine::Fast, Sm3FastAvailable(), g_fast_switch.off());
}

Sm3::Sm3(Sm3Engine engine)
    : BlockHash(IV, SettleEngine(engine, Sm3Engine::Fast, Sm3FastAvailable(), g_fast_switch.off()), CompressFor) {}

void Sm3::Hash(const void* data, std::size_t length, unsigned char digest[kDigestSize],
               Sm3Engine engine) {
    Sm3 ctx(engine);
    ctx.Update(data, length);
    ctx.Final(digest);
}

}  // namespace digest
